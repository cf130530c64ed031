#include "core/text/TextEncoder.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

namespace plistable {
namespace {

// The JIS forms and the characters Windows' Japanese code page holds in their places.
constexpr std::array<std::pair<char16_t, char16_t>, 7> windowsForms = {{
    {u'\u301C', u'\uFF5E'}, // WAVE DASH -> FULLWIDTH TILDE (0x8160)
    {u'\u2016', u'\u2225'}, // DOUBLE VERTICAL LINE -> PARALLEL TO (0x8161)
    {u'\u2212', u'\uFF0D'}, // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS (0x817C)
    {u'\u2014', u'\u2015'}, // EM DASH -> HORIZONTAL BAR (0x815C)
    {u'\u00A2', u'\uFFE0'}, // CENT SIGN -> FULLWIDTH CENT SIGN (0x8191)
    {u'\u00A3', u'\uFFE1'}, // POUND SIGN -> FULLWIDTH POUND SIGN (0x8192)
    {u'\u00AC', u'\uFFE2'}, // NOT SIGN -> FULLWIDTH NOT SIGN (0x81CA)
}};

const char16_t* windowsFormOf(char16_t c)
{
    for (const auto& [jis, windows] : windowsForms)
        if (c == jis)
            return &windows;
    return nullptr;
}

bool namesWindowsJapanese(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* windows : {"cp932", "windows-31j", "ms932", "windows-932", "cswindows31j", "x-ms-cp932"})
        if (lower == windows)
            return true;
    return false;
}

} // namespace

std::optional<TextEncoder> TextEncoder::open(std::string_view name)
{
    std::optional<detail::IcuConverter> converter = detail::IcuConverter::open(std::string(name).c_str());
    if (!converter)
        return std::nullopt;
    const std::string canonical = converter->name();
    std::string shown = canonical;
    for (const char* standard : {"MIME", "IANA"}) {
        UErrorCode status = U_ZERO_ERROR;
        const char* standardName = ucnv_getStandardName(canonical.c_str(), standard, &status);
        if (U_SUCCESS(status) && standardName != nullptr) {
            shown = standardName;
            break;
        }
    }
    TextEncoder encoder(std::make_unique<detail::IcuConverter>(std::move(*converter)), shown, canonical);
    encoder._askedName = std::string(name);
    encoder._windowsCodePage = namesWindowsJapanese(name);
    return encoder;
}

TextEncoder::TextEncoder(std::unique_ptr<detail::IcuConverter> converter, std::string name, std::string canonicalName)
    : _converter(std::move(converter)), _name(std::move(name)), _canonicalName(std::move(canonicalName))
{
}

TextEncoder::TextEncoder(TextEncoder&&) noexcept = default;
TextEncoder& TextEncoder::operator=(TextEncoder&&) noexcept = default;
TextEncoder::~TextEncoder() = default;

std::optional<std::size_t> TextEncoder::encode(std::u16string_view text, std::string& out, bool last)
{
    if (!_windowsCodePage || std::none_of(text.begin(), text.end(), windowsFormOf))
        return _converter->encodeSome(text, last, out);
    // Each form is one unit, as the character it stands for, so offsets stay those of `text`.
    _substituted.assign(text);
    for (char16_t& c : _substituted)
        if (const char16_t* windows = windowsFormOf(c))
            c = *windows;
    const std::optional<std::size_t> stop = _converter->encodeSome(_substituted, last, out);
    for (std::size_t i = 0; i < std::min(text.size(), stop.value_or(text.size())); ++i) {
        if (windowsFormOf(text[i])) {
            ++_windowsForms;
            if (_formsMet.find(text[i]) == std::u16string::npos)
                _formsMet.push_back(text[i]);
        }
    }
    return stop;
}

std::string TextEncoder::describeWindowsForms() const
{
    if (_windowsForms == 0)
        return {};
    std::string shown;
    for (char16_t c : _formsMet) {
        if (!shown.empty())
            shown += ", ";
        detail::appendUtf16AsUtf8(std::u16string_view(&c, 1), shown);
        shown += " \xE2\x86\x92 "; // →
        detail::appendUtf16AsUtf8(std::u16string_view(windowsFormOf(c), 1), shown);
    }
    return std::to_string(_windowsForms) + (_windowsForms == 1 ? " character" : " characters")
           + " written in their Windows forms (" + shown + ")";
}

bool TextEncoder::takesByteOrderMark() const
{
    // "UTF-16" and "UTF-32" put their own mark in front; the others never do.
    for (const char* name : {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"})
        if (_canonicalName == name)
            return true;
    return false;
}

std::string TextEncoder::describeUnencodable(char32_t character) const
{
    std::string shown;
    const char16_t units[2] = {static_cast<char16_t>(character < 0x10000 ? character : 0xD7C0 + (character >> 10)),
                               static_cast<char16_t>(0xDC00 | (character & 0x3FF))};
    const bool isText = character >= 0x20 && character != 0x7F && !(character >= 0xD800 && character <= 0xDFFF);
    if (isText)
        detail::appendUtf16AsUtf8(std::u16string_view(units, character < 0x10000 ? 1 : 2), shown);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
    return (isText ? "\"" + shown + "\" (" + code + ")" : std::string(code)) + " cannot be written in " + _askedName;
}

} // namespace plistable
