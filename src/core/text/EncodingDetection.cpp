#include "core/text/EncodingDetection.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <cstring>

namespace plistable {
namespace {

// Whether all of `bytes` decodes under `encoding`. Only the verdict matters, so UTF-8 is checked
// by validation alone, without building the text.
bool decodes(std::string_view bytes, TextEncoding encoding)
{
    if (encoding == NSUTF8StringEncoding)
        return detail::isWellFormedUtf8(bytes);
    if (encoding == NSNonLossyASCIIStringEncoding)
        return false; // anything it accepts is ASCII, which the UTF-8 trial already took
    if (encoding == NSMacOSRomanStringEncoding)
        return true;  // every byte value stands for a character
    return decodeText(bytes, encoding).has_value();
}

} // namespace

TextEncoding detectEncoding(std::string_view bytes)
{
    if (!bytes.empty() && std::memchr(bytes.data(), 0x1B, bytes.size()) != nullptr
        && decodes(bytes, NSISO2022JPStringEncoding))
        return NSISO2022JPStringEncoding;
    // A UTF-8 file cut short (a copy or a download broken off) would otherwise fail the UTF-8 trial
    // at its last byte and be read as Shift_JIS or Mac OS Roman throughout.
    if (cutOffUtf8Length(bytes) > 0)
        return NSUTF8StringEncoding;
    for (TextEncoding candidate : encodingCandidates)
        if (decodes(bytes, candidate))
            return candidate;
    return encodingCandidates.back();
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
