#pragma once

#include "core/csv/CSVParser.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace plistable {

/// Supplies the next piece of a text: appends to `text` and answers true, or answers false at the
/// end of the text (appending nothing).
using TextSupplier = std::function<bool(Text& text)>;

/// Reads a CSV text of any length with the grammar of CSVParser while holding only a window of it:
/// the text is pulled in pieces, cut into windows that end where a record ends (after a run of line
/// breaks, outside quotes), and each window is read by a CSVParser. Records, their order, the
/// header, and the stop (reason, line, offset, counts) are exactly those of one CSVParser over the
/// whole text; offsets count UTF-16 units from the start of the whole text. A window grows past its
/// size only while no record ends in it (a quoted field longer than the window, or a quote that
/// never closes, which holds the rest of the text).
class WindowedCSVParser {
public:
    static constexpr std::size_t defaultWindowUnits = std::size_t(1) << 20;

    /// A reader of the text `start` followed by what `supplier` gives; `separator` as for CSVParser
    /// (failing the same assertion). `windowUnits` is the size at which a window is cut (at least 1).
    WindowedCSVParser(TextSupplier supplier, Text separator, bool hasHeader,
                      std::size_t windowUnits = defaultWindowUnits, Text start = {});

    /// The first record of the text read without a header, as CSVParser::firstParsedRow() gives it.
    /// Only before parseRowsForReceiver(); the text it looked at is read again by that parse.
    std::optional<Row> firstParsedRow();

    /// Reads the text once, from where it starts, handing each record to `receiver` as
    /// CSVParser::parseRowsForReceiver() does. Once only: the text is not kept.
    void parseRowsForReceiver(const RecordReceiver& receiver);
    /// As above, with each record's fields as views, as CSVParser::parseFieldsForReceiver() gives them.
    void parseFieldsForReceiver(const FieldsReceiver& receiver);

    /// Called from a receiver: the parse ends right after the record being handed over.
    void stopParsing();

    /// During a receiver call: the offset (UTF-16 units) just past the record handed over.
    std::size_t position() const;
    /// During a receiver call: the offset (UTF-16 units) at which the record handed over begins.
    std::size_t recordStartOffset() const;
    /// During a receiver call: the 1-based physical line at which that record begins.
    std::size_t recordStartLine();

    /// The header names read (with a header), once the parse has begun; during a receiver call too.
    const std::optional<std::vector<Text>>& fieldNames() const
    {
        return _parser ? _parser->fieldNames() : _fieldNames;
    }

    /// How the parse ended, over the whole text.
    const CSVParseStop& lastParseStop() const { return _stop; }

private:
    void parseWindows(const RecordReceiver* records, const FieldsReceiver* fields);
    void fillWindow();
    std::size_t findCut() const;
    void dropWindow();

    TextSupplier _supplier;
    Text _separator;
    bool _hasHeader;
    std::size_t _windowUnits;
    Text _buffer;                 // the text from offset _bufferStart on, as far as it was pulled
    std::size_t _bufferStart = 0;
    std::size_t _windowEnd = 0;   // the window is _buffer[0, _windowEnd)
    bool _windowReady = false;
    bool _suppliedAll = false;
    std::size_t _windowLine = 1;  // line at which the window begins
    std::size_t _lineOffset = 0;  // recordStartLine(): line _lineAt begins at window offset _lineOffset
    std::size_t _lineAt = 1;
    CSVParser* _parser = nullptr; // the parser of the current window, during a parse
    std::optional<std::vector<Text>> _fieldNames;
    CSVParseStop _stop;
};

} // namespace plistable
