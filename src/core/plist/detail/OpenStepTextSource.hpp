#pragma once

#include "core/plist/OpenStepParser.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plistable::detail {

/// The characters of an old-style text decoded a piece of bytes at a time, so that neither the
/// bytes nor their UTF-16 form are ever held whole. The encoding rules and their faults are those
/// of OpenStepParser::decode(): UTF-8 (with or without a byte-order mark), UTF-16 with a mark, or
/// UTF-16 without one when the text begins with an ASCII character and a zero byte.
class OpenStepTextSource {
public:
    /// Gives the next piece of bytes in `piece` (empty at the end of the input); false when
    /// reading failed or was stopped (the caller keeps why).
    using Pieces = std::function<bool(std::string_view& piece)>;

    explicit OpenStepTextSource(Pieces pieces);

    /// The characters decoded and not yet dropped.
    std::u16string_view text() const { return _chars; }
    /// Drops the first `consumed` characters of text() and decodes at least one more character
    /// when there is one; false at the end of the text, on a decoding fault or when the input
    /// failed (text() then holds what was kept).
    bool refill(std::size_t consumed);
    /// Decodes (and drops) the rest of the input, for a decoding fault behind the place where
    /// parsing stopped.
    void drain();

    /// The first decoding fault (byte offset and line as OpenStepParser::decode() gives them).
    const std::optional<OpenStepError>& fault() const { return _fault; }
    /// The input failed or was stopped.
    bool interrupted() const { return _interrupted; }

private:
    enum class Encoding { Unknown, Utf8, Utf16Little, Utf16Big };

    // Decodes `bytes` (starting at byte _offset) onto _chars; the bytes that may begin a
    // character completed by the next piece are kept in _carried.
    void decode(std::string_view bytes);
    void decodeUtf16(std::string_view bytes);
    void decodeUtf8(std::string_view bytes);

    Pieces _pieces;
    std::u16string _chars;
    std::string _carried;      // bytes read but not decoded yet (at most a few)
    std::string _joined;       // _carried and the next piece, when _carried is not empty
    std::uint64_t _offset = 0; // byte offset of the first byte not yet decoded
    std::uint64_t _lineFeeds = 0;
    Encoding _encoding = Encoding::Unknown;
    bool _ended = false;
    bool _interrupted = false;
    std::optional<OpenStepError> _fault;
};

} // namespace plistable::detail
