#include "core/text/EncodingDetection.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

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
    for (TextEncoding candidate : encodingCandidates)
        if (decodes(bytes, candidate))
            return candidate;
    return encodingCandidates.back();
}

} // namespace plistable
