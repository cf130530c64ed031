#include "core/text/JsonString.hpp"

#include "core/text/detail/Utf8.hpp"

namespace plistable {
namespace {

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

template <typename String>
void appendAscii(String& out, std::string_view ascii)
{
    out.insert(out.end(), ascii.begin(), ascii.end());
}

template <typename String>
void appendEscape(String& out, unsigned c, JsonStringStyle style)
{
    const char* digits = style.upperCaseHex ? "0123456789ABCDEF" : "0123456789abcdef";
    const char escape[] = {'\\', 'u', digits[(c >> 12) & 0xF], digits[(c >> 8) & 0xF], digits[(c >> 4) & 0xF],
                           digits[c & 0xF]};
    appendAscii(out, std::string_view(escape, sizeof escape));
}

// The escape of `c`, or nothing when it is written as itself.
std::string_view shortEscape(char16_t c, JsonStringStyle style)
{
    switch (c) {
    case u'"': return "\\\"";
    case u'\\': return "\\\\";
    case u'\n': return "\\n";
    case u'\r': return "\\r";
    case u'\t': return "\\t";
    case u'\b': return style.shortControlEscapes ? "\\b" : "";
    case u'\f': return style.shortControlEscapes ? "\\f" : "";
    default: return "";
    }
}

// Runs of units written as themselves go through `appendRun` whole; only the units JSON needs
// escaped (and, for UTF-8 output, lone surrogates) are looked at one by one.
template <typename String, typename AppendRun>
void appendEscaped(String& out, std::u16string_view text, JsonStringStyle style, bool escapeLoneSurrogates,
                   AppendRun appendRun)
{
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x20 && c != u'"' && c != u'\\' && (c < 0xD800 || c > 0xDFFF))
            continue;
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
                ++i;
                continue;
            }
            if (!escapeLoneSurrogates)
                continue;
        }
        appendRun(out, text.substr(run, i - run));
        run = i + 1;
        const std::string_view escape = shortEscape(c, style);
        if (escape.empty())
            appendEscape(out, c, style);
        else
            appendAscii(out, escape);
    }
    appendRun(out, text.substr(run));
    out.push_back('"');
}

// Length of the maximal ill-formed subsequence at the start of `bytes` (which does not begin a
// well-formed sequence): the lead byte and the continuation bytes that could still have completed it.
std::size_t illFormedLength(std::string_view bytes)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t needed = 0;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    std::size_t length = 1;
    while (length <= needed && length < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[length]);
        if (length == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF))
            break;
        ++length;
    }
    return length;
}

} // namespace

void appendJsonString(std::string& out, std::u16string_view text, JsonStringStyle style)
{
    appendEscaped(out, text, style, true, [](std::string& to, std::u16string_view run) {
        detail::appendUtf16AsUtf8(run, to); // a run holds no lone surrogate, so this cannot fail
    });
}

void appendJsonString(std::u16string& out, std::u16string_view text, JsonStringStyle style)
{
    appendEscaped(out, text, style, false, [](std::u16string& to, std::u16string_view run) { to += run; });
}

void appendJsonStringFromUtf8(std::string& out, std::string_view bytes, JsonStringStyle style)
{
    std::u16string text;
    while (!bytes.empty()) {
        const std::size_t valid = detail::appendUtf8PrefixAsUtf16(bytes, text);
        if (valid == bytes.size())
            break;
        text.push_back(u'\uFFFD');
        bytes.remove_prefix(valid + illFormedLength(bytes.substr(valid)));
    }
    appendJsonString(out, text, style);
}

} // namespace plistable
