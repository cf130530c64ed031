#include "core/plist/detail/OpenStepTextSource.hpp"

#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace plistable::detail {
namespace {

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The longest UTF-8 sequence less one: a tail this short may be a character cut by the piece's end.
constexpr std::size_t utf8CutTail = 3;

} // namespace

OpenStepTextSource::OpenStepTextSource(Pieces pieces) : _pieces(std::move(pieces)) {}

bool OpenStepTextSource::refill(std::size_t consumed)
{
    _chars.erase(0, consumed);
    const std::size_t before = _chars.size();
    while (_chars.size() == before) {
        if (_ended || _fault || _interrupted)
            return false;
        std::string_view piece;
        if (!_pieces(piece)) {
            _interrupted = true;
            return false;
        }
        _ended = piece.empty();
        if (_carried.empty()) {
            decode(piece);
        } else {
            _joined.assign(_carried);
            _joined.append(piece);
            _carried.clear();
            decode(_joined);
        }
    }
    return true;
}

void OpenStepTextSource::drain()
{
    while (refill(_chars.size())) {
    }
}

void OpenStepTextSource::decode(std::string_view bytes)
{
    if (_encoding == Encoding::Unknown) {
        // The marks and the zero-byte rule need the first three bytes.
        if (bytes.size() < 3 && !_ended) {
            _carried.assign(bytes);
            return;
        }
        auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
        std::size_t mark = 0;
        if (startsWith("\xFF\xFE")) {
            _encoding = Encoding::Utf16Little;
            mark = 2;
        } else if (startsWith("\xFE\xFF")) {
            _encoding = Encoding::Utf16Big;
            mark = 2;
        } else {
            // Without a mark: an ASCII character with a zero byte before or after it is UTF-16.
            const auto a = bytes.size() >= 2 ? static_cast<unsigned char>(bytes[0]) : 0u;
            const auto b = bytes.size() >= 2 ? static_cast<unsigned char>(bytes[1]) : 0u;
            if (a != 0 && a < 0x80 && b == 0) {
                _encoding = Encoding::Utf16Little;
            } else if (a == 0 && b != 0 && b < 0x80) {
                _encoding = Encoding::Utf16Big;
            } else {
                _encoding = Encoding::Utf8;
                mark = startsWith("\xEF\xBB\xBF") ? 3 : 0;
            }
        }
        bytes.remove_prefix(mark);
        _offset += mark;
    }
    if (_encoding == Encoding::Utf8)
        decodeUtf8(bytes);
    else
        decodeUtf16(bytes);
}

void OpenStepTextSource::decodeUtf16(std::string_view bytes)
{
    const bool little = _encoding == Encoding::Utf16Little;
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char16_t>(little ? a | (b << 8) : (a << 8) | b);
    };
    const std::size_t start = _chars.size();
    _chars.resize(start + units);
    char16_t* out = _chars.data() + start;
    std::size_t i = 0;
    for (; i < units; ++i) {
        const char16_t c = unitAt(i);
        if (isHighSurrogate(c) && i + 1 >= units && !_ended)
            break; // its other half comes with the next piece
        if (isLowSurrogate(c) || (isHighSurrogate(c) && (i + 1 >= units || !isLowSurrogate(unitAt(i + 1))))) {
            const std::uint64_t at = _offset + 2 * i;
            _fault = OpenStepError{"byte " + std::to_string(at) + " holds half of a UTF-16 surrogate pair without the other half",
                                   1 + _lineFeeds, at};
            break;
        }
        if (c == u'\n')
            ++_lineFeeds;
        *out++ = c;
        if (isHighSurrogate(c))
            *out++ = unitAt(++i);
    }
    _chars.resize(static_cast<std::size_t>(out - _chars.data()));
    if (_fault)
        return;
    _offset += 2 * i;
    bytes.remove_prefix(2 * i);
    if (!_ended) {
        _carried.assign(bytes);
    } else if (!bytes.empty()) {
        _fault = OpenStepError{"byte " + std::to_string(_offset + bytes.size() - 1) +
                                   " ends the text in the middle of a UTF-16 character",
                               1 + _lineFeeds, _offset + bytes.size() - 1};
    }
}

void OpenStepTextSource::decodeUtf8(std::string_view bytes)
{
    const std::size_t valid = appendUtf8PrefixAsUtf16(bytes, _chars);
    _lineFeeds += static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(valid), '\n'));
    if (valid < bytes.size()) {
        if (!_ended && bytes.size() - valid <= utf8CutTail) {
            _carried.assign(bytes.substr(valid));
        } else {
            char shown[8];
            std::snprintf(shown, sizeof shown, "0x%02X", static_cast<unsigned char>(bytes[valid]));
            _fault = OpenStepError{"byte " + std::to_string(_offset + valid) + " (" + shown +
                                       ") is not UTF-8, and the text has no UTF-16 byte-order mark",
                                   1 + _lineFeeds, _offset + valid};
        }
    }
    _offset += valid;
}

} // namespace plistable::detail
