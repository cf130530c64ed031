#include "core/text/EncodingDetection.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

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
        decoded = decodeText(bytes, encoding);
    return encoding;
}

} // namespace plistable
