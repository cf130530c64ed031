#pragma once

#include "core/csv/CSVParser.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// Supplies the next piece of a UTF-8 text: appends to `bytes` and answers true, or answers false at
/// the end of the text (appending nothing).
using ByteSupplier = std::function<bool(std::string& bytes)>;

/// Receives the fields of one record as UTF-8 views that last until it returns.
using ByteFieldsReceiver = std::function<void(std::span<const std::string_view> fields)>;

/// WindowedCSVParser::parseFieldsForReceiver() over the UTF-8 bytes of a text, without its UTF-16
/// form: the same records, header and stop (line and offset in UTF-16 units) for the same text.
/// That holds where every character the grammar treats specially is one ASCII byte: the separator
/// is one ASCII character that is no letter (acceptsSeparator()), and the text is well-formed UTF-8
/// holding none of U+0085, U+2028, U+2029 (its supplier checks that; with any other text what is
/// read is not meaningful). Windows are cut at record ends, as WindowedCSVParser cuts them.
class Utf8CSVReader {
public:
    static constexpr std::size_t defaultWindowBytes = std::size_t(1) << 16;

    /// Whether `separator` can be read from bytes: one ASCII unit other than a letter, '"' or a
    /// line break (no other unit folds to it, so its case-blind match is an exact one).
    static bool acceptsSeparator(std::u16string_view separator);

    /// A reader of `start` followed by what `supplier` gives; `separator` must be accepted.
    Utf8CSVReader(ByteSupplier supplier, char separator, bool hasHeader,
                  std::size_t windowBytes = defaultWindowBytes, std::string start = {});

    /// The first record read without a header, as WindowedCSVParser::firstParsedRow() gives it.
    /// Only before parseFieldsForReceiver().
    std::optional<std::vector<std::string>> firstParsedRow();

    /// Reads the text once, handing over each record's fields (with a header: up to the last name).
    void parseFieldsForReceiver(const ByteFieldsReceiver& receiver);

    /// Called from a receiver: the parse ends right after the record being handed over.
    void stopParsing() { _stopRequested = true; }

    /// The header names read (with a header), once the parse has begun.
    const std::optional<std::vector<std::string>>& fieldNames() const { return _fieldNames; }

    /// During a receiver call: the bytes of the window being read. A field that held no '""' is a
    /// view into them; one that did is a view of a copy of its own.
    std::string_view window() const { return _window; }

    /// How the parse ended, over the whole text (offsets in UTF-16 units).
    const CSVParseStop& lastParseStop() const { return _stop; }

private:
    // The grammar over one window, as a CSVParser reads it (see Utf8CSVReader.cpp).
    class Window;

    void fillWindow();
    std::size_t findCut() const;
    void dropWindow();

    ByteSupplier _supplier;
    char _separator;
    bool _hasHeader;
    std::size_t _windowBytes;
    std::string _buffer;          // the text from _bufferStart on, as far as it was pulled
    std::size_t _bufferStart16 = 0; // UTF-16 units before _buffer
    std::size_t _windowEnd = 0;   // the window is _buffer[0, _windowEnd)
    bool _windowReady = false;
    bool _suppliedAll = false;
    bool _stopRequested = false;
    std::size_t _windowLine = 1;
    std::string_view _window;
    std::optional<std::vector<std::string>> _fieldNames;
    CSVParseStop _stop;
};

} // namespace plistable::detail
