#include "core/plist/OpenStepParser.hpp"

#include "core/plist/detail/OpenStepGrammar.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstdio>

namespace plistable {
namespace {

std::uint64_t linesBefore(std::string_view bytes)
{
    return 1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

std::optional<Text> decodeUtf16(std::string_view bytes, std::size_t base, bool littleEndian, OpenStepError& error)
{
    Text text;
    text.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char16_t>(littleEndian ? a | (b << 8) : (a << 8) | b);
    };
    std::uint64_t line = 1;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = unitAt(i);
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (low || (high && (i + 1 >= units || unitAt(i + 1) < 0xDC00 || unitAt(i + 1) > 0xDFFF))) {
            error = {"byte " + std::to_string(base + 2 * i) + " holds half of a UTF-16 surrogate pair without the other half",
                     line, base + 2 * i};
            return std::nullopt;
        }
        if (c == u'\n')
            ++line;
        text += c;
        if (high)
            text += unitAt(++i);
    }
    if (bytes.size() % 2 != 0) {
        error = {"byte " + std::to_string(base + bytes.size() - 1) + " ends the text in the middle of a UTF-16 character",
                 line, base + bytes.size() - 1};
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<Text> OpenStepParser::decode(std::string_view bytes, OpenStepError& error)
{
    auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    if (startsWith("\xFF\xFE"))
        return decodeUtf16(bytes.substr(2), 2, true, error);
    if (startsWith("\xFE\xFF"))
        return decodeUtf16(bytes.substr(2), 2, false, error);
    // Without a mark: an ASCII character with a zero byte before or after it is UTF-16.
    if (bytes.size() >= 2) {
        const auto a = static_cast<unsigned char>(bytes[0]);
        const auto b = static_cast<unsigned char>(bytes[1]);
        if (a != 0 && a < 0x80 && b == 0)
            return decodeUtf16(bytes, 0, true, error);
        if (a == 0 && b != 0 && b < 0x80)
            return decodeUtf16(bytes, 0, false, error);
    }
    const std::size_t base = startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const std::string_view body = bytes.substr(base);
    Text text;
    text.reserve(body.size());
    const std::size_t valid = detail::appendUtf8PrefixAsUtf16(body, text);
    if (valid != body.size()) {
        char shown[8];
        std::snprintf(shown, sizeof shown, "0x%02X", static_cast<unsigned char>(body[valid]));
        error = {"byte " + std::to_string(base + valid) + " (" + shown +
                     ") is not UTF-8, and the text has no UTF-16 byte-order mark",
                 linesBefore(body.substr(0, valid)), base + valid};
        return std::nullopt;
    }
    return text;
}

std::optional<OpenStepError> OpenStepParser::parse(std::u16string_view text, OpenStepParserDelegate& delegate)
{
    return detail::OpenStepGrammar(text, delegate).run();
}

std::string OpenStepParser::quoted(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        switch (c) {
        case u'"': out += "\\\""; continue;
        case u'\\': out += "\\\\"; continue;
        case u'\n': out += "\\n"; continue;
        case u'\t': out += "\\t"; continue;
        case u'\r': out += "\\r"; continue;
        default: break;
        }
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF && !paired)) {
            // Control characters, and a lone surrogate (which has no UTF-8 form), as \U escapes.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\U%04X", static_cast<unsigned>(c));
            out += escape;
            continue;
        }
        detail::appendUtf16AsUtf8(text.substr(i, paired ? 2 : 1), out);
        if (paired)
            ++i;
    }
    out += '"';
    return out;
}

} // namespace plistable
