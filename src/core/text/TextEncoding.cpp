#include "core/text/TextEncoding.hpp"

#include "core/text/detail/EucJpStructure.hpp"
#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

namespace plistable {
namespace {

struct EncodingInfo {
    TextEncoding identifier;
    const char* converter; // ICU converter name; nullptr when no converter stands behind it
    std::string_view name;
};

// The converters were checked against the edge cases the conversions rely on (see
// TextEncodingTest): ICU's "macintosh" takes every byte, "Shift_JIS", "EUC-JP" and
// "ISO-2022-JP" refuse cut-off and out-of-range sequences.
constexpr EncodingInfo encodings[] = {
    {NSJapaneseEUCStringEncoding, "EUC-JP", "EUC-JP"},
    {NSUTF8StringEncoding, "UTF-8", "UTF-8"},
    {NSISOLatin1StringEncoding, "ISO-8859-1", "ISO 8859-1"},
    // Every buffer this trial could accept is ASCII and so already UTF-8: there is nothing to gain
    // from a decoder, and none stands behind it.
    {NSNonLossyASCIIStringEncoding, nullptr, "Non-lossy ASCII"},
    {NSShiftJISStringEncoding, "Shift_JIS", "Shift_JIS"},
    {NSUnicodeStringEncoding, "UTF-16", "UTF-16"},
    {NSWindowsCP1251StringEncoding, "windows-1251", "Windows-1251"},
    {NSWindowsCP1252StringEncoding, "windows-1252", "Windows-1252"},
    {NSWindowsCP1253StringEncoding, "windows-1253", "Windows-1253"},
    {NSWindowsCP1254StringEncoding, "windows-1254", "Windows-1254"},
    {NSWindowsCP1250StringEncoding, "windows-1250", "Windows-1250"},
    {NSISO2022JPStringEncoding, "ISO-2022-JP", "ISO-2022-JP"},
    {NSMacOSRomanStringEncoding, "macintosh", "Mac OS Roman"},
    {NSUTF16BigEndianStringEncoding, "UTF-16BE", "UTF-16BE"},
    {NSUTF16LittleEndianStringEncoding, "UTF-16LE", "UTF-16LE"},
    {NSUTF32BigEndianStringEncoding, "UTF-32BE", "UTF-32BE"},
    {NSUTF32LittleEndianStringEncoding, "UTF-32LE", "UTF-32LE"},
    {NSISO2022KRStringEncoding, "ISO-2022-KR", "ISO-2022-KR"},
};

const EncodingInfo* find(TextEncoding encoding)
{
    for (const EncodingInfo& info : encodings)
        if (info.identifier == encoding)
            return &info;
    return nullptr;
}

} // namespace

std::string_view encodingName(TextEncoding encoding)
{
    const EncodingInfo* info = find(encoding);
    return info ? info->name : std::string_view();
}

std::optional<Text> decodeText(std::string_view bytes, TextEncoding encoding)
{
    if (encoding == NSUTF8StringEncoding) {
        Text text;
        if (!detail::appendUtf8AsUtf16(bytes, text))
            return std::nullopt;
        return text;
    }
    if (encoding == NSJapaneseEUCStringEncoding && !detail::EucJpStructure::isWellFormed(bytes))
        return std::nullopt;
    const EncodingInfo* info = find(encoding);
    if (info == nullptr || info->converter == nullptr)
        return std::nullopt;
    auto converter = detail::IcuConverter::open(info->converter);
    if (!converter)
        return std::nullopt;
    return converter->decodeAll(bytes);
}

std::optional<std::string> encodeText(std::u16string_view text, TextEncoding encoding)
{
    if (encoding == NSUTF8StringEncoding) {
        std::string bytes;
        if (!detail::appendUtf16AsUtf8(text, bytes))
            return std::nullopt;
        return bytes;
    }
    if (encoding == NSUnicodeStringEncoding) {
        // The mark is written in the byte order of the text that follows: little-endian.
        auto converter = detail::IcuConverter::open("UTF-16LE");
        auto body = converter ? converter->encodeAll(text) : std::nullopt;
        if (!body)
            return std::nullopt;
        return std::string("\xFF\xFE", 2) + *body;
    }
    const EncodingInfo* info = find(encoding);
    if (info == nullptr || info->converter == nullptr)
        return std::nullopt;
    auto converter = detail::IcuConverter::open(info->converter);
    if (!converter)
        return std::nullopt;
    return converter->encodeAll(text);
}

std::optional<std::string> canonicalEncodingName(std::string_view name)
{
    auto converter = detail::IcuConverter::open(std::string(name).c_str());
    if (!converter)
        return std::nullopt;
    return std::string(converter->name());
}

std::optional<Text> decodeTextNamed(std::string_view bytes, std::string_view name)
{
    auto canonical = canonicalEncodingName(name);
    if (!canonical)
        return std::nullopt;
    if (*canonical == "UTF-8")
        return decodeText(bytes, NSUTF8StringEncoding);
    auto converter = detail::IcuConverter::open(canonical->c_str());
    if (!converter)
        return std::nullopt;
    return converter->decodeAll(bytes);
}

std::string toUtf8Lossy(std::u16string_view text)
{
    std::string out;
    if (detail::appendUtf16AsUtf8(text, out))
        return out;
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (paired) {
            detail::appendUtf16AsUtf8(text.substr(i, 2), out);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += "\xEF\xBF\xBD";
        } else {
            detail::appendUtf16AsUtf8(text.substr(i, 1), out);
        }
    }
    return out;
}

Text fromUtf8Lossy(std::string_view bytes)
{
    Text out;
    while (!bytes.empty()) {
        const std::size_t valid = detail::validUtf8Length(bytes);
        detail::appendUtf8AsUtf16(bytes.substr(0, valid), out);
        if (valid == bytes.size())
            break;
        out.push_back(u'\uFFFD');
        bytes.remove_prefix(valid + 1);
    }
    return out;
}

namespace detail {

const char* icuConverterName(std::uint64_t encoding)
{
    const EncodingInfo* info = find(encoding);
    return info ? info->converter : nullptr;
}

} // namespace detail

} // namespace plistable
