#include "core/text/EncodingDetection.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace plistable {
namespace {

// Whether all of `bytes` decodes under `encoding`; with `keep`, the text of a successful trial is
// stored there. UTF-8 is checked by validation alone (only the chosen encoding's text is built, by the
// caller), and Mac OS Roman takes any bytes, so those two build no text for a verdict.
bool decodes(std::string_view bytes, TextEncoding encoding, std::optional<Text>* keep)
{
    if (encoding == NSUTF8StringEncoding)
        return detail::isWellFormedUtf8(bytes);
    if (encoding == NSNonLossyASCIIStringEncoding)
        return false; // anything it accepts is ASCII, which the UTF-8 trial already took
    if (encoding == NSMacOSRomanStringEncoding)
        return true;  // every byte value stands for a character
    std::optional<Text> text = decodeText(bytes, encoding);
    if (!text)
        return false;
    if (keep != nullptr)
        *keep = std::move(text);
    return true;
}

TextEncoding detect(std::string_view bytes, std::optional<Text>* keep)
{
    if (!bytes.empty() && std::memchr(bytes.data(), 0x1B, bytes.size()) != nullptr
        && decodes(bytes, NSISO2022JPStringEncoding, keep))
        return NSISO2022JPStringEncoding;
    // A UTF-8 file cut short (a copy or a download broken off) would otherwise fail the UTF-8 trial
    // at its last byte and be read as Shift_JIS or Mac OS Roman throughout.
    if (cutOffUtf8Length(bytes) > 0)
        return NSUTF8StringEncoding;
    for (TextEncoding candidate : encodingCandidates)
        if (decodes(bytes, candidate, keep))
            return candidate;
    return encodingCandidates.back();
}

} // namespace

TextEncoding detectEncoding(std::string_view bytes)
{
    return detect(bytes, nullptr);
}

TextEncoding detectEncoding(std::string_view bytes, std::optional<Text>& decoded)
{
    decoded.reset();
    const TextEncoding encoding = detect(bytes, &decoded);
    if (!decoded)
        decoded = decodeDetectedText(bytes, encoding);
    return encoding;
}

std::size_t cutOffUtf8Length(std::string_view bytes)
{
    const std::size_t valid = detail::validUtf8Length(bytes);
    const std::string_view rest = bytes.substr(valid);
    if (!detail::isIncompleteUtf8Sequence(rest))
        return 0;
    // ASCII ending in one lead byte is as likely Latin-1 ("caf\xE9") as UTF-8 cut short: only text
    // that holds a whole multi-byte character before the cut is known to be UTF-8.
    const std::string_view before = bytes.substr(0, valid);
    const bool multiByte = std::any_of(before.begin(), before.end(), [](char c) { return (c & 0x80) != 0; });
    return multiByte ? rest.size() : 0;
}

std::optional<Text> decodeDetectedText(std::string_view bytes, TextEncoding encoding)
{
    const std::size_t cut = encoding == NSUTF8StringEncoding ? cutOffUtf8Length(bytes) : 0;
    if (cut == 0)
        return decodeText(bytes, encoding);
    std::optional<Text> text = decodeText(bytes.substr(0, bytes.size() - cut), encoding);
    if (text)
        text->push_back(u'\uFFFD');
    return text;
}

} // namespace plistable
