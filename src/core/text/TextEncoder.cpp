#include "core/text/TextEncoder.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <unicode/ucnv.h>

#include <cstdio>

namespace plistable {

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
    return TextEncoder(std::make_unique<detail::IcuConverter>(std::move(*converter)), shown, canonical);
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
    return _converter->encodeSome(text, last, out);
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
    return (isText ? "\"" + shown + "\" (" + code + ")" : std::string(code)) + " cannot be written in " + _name;
}

} // namespace plistable
