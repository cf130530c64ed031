// detectEncoding() on random bytes: its answer decodes them (Mac OS Roman takes any bytes; UTF-8 cut
// off at the end decodes with U+FFFD for the cut character), no candidate tried before it does, its
// quick verdicts for UTF-8 and Mac OS Roman match a decoding, and the text it hands back is that
// decoding. Seen only in pieces (the evidence of one pass, then trials decoding piece by piece),
// the bytes give the same encoding and text.
#include "FuzzSupport.hpp"

#include "core/text/EncodingDetection.hpp"
#include "core/text/EncodingEvidence.hpp"
#include "core/text/TextDecoder.hpp"

#include <algorithm>

using namespace plistable;

namespace {

void checkPieces(std::string_view bytes, TextEncoding encoding)
{
    const std::size_t piece = 1 + bytes.size() % 7;
    EncodingEvidence evidence;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        evidence.add(bytes.substr(at, piece));
    FUZZ_CHECK(evidence.cutOffUtf8Length() == cutOffUtf8Length(bytes));
    for (const TextEncoding trial : evidence.trials()) {
        std::optional<TextDecoder> decoder =
            TextDecoder::forEncoding(trial, trial == NSUTF8StringEncoding && evidence.cutOffUtf8Length() > 0);
        FUZZ_CHECK(decoder.has_value());
        Text text;
        bool ok = true;
        for (std::size_t at = 0; ok && at < bytes.size(); at += piece)
            ok = decoder->decode(bytes.substr(at, piece), text);
        if (ok && decoder->finish(text)) {
            FUZZ_CHECK(trial == encoding);
            FUZZ_CHECK(text == decodeDetectedText(bytes, encoding));
            return;
        }
    }
    FUZZ_CHECK(false); // the last trial always decodes
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TextEncoding encoding = detectEncoding(bytes);
    checkPieces(bytes, encoding);
    FUZZ_CHECK(decodeText(bytes, NSMacOSRomanStringEncoding).has_value());
    const bool cutOff = cutOffUtf8Length(bytes) > 0;
    FUZZ_CHECK(!cutOff || encoding == NSUTF8StringEncoding);
    if (encoding != encodingCandidates.back())
        FUZZ_CHECK(decodeDetectedText(bytes, encoding).has_value());
    std::optional<Text> decoded;
    FUZZ_CHECK(detectEncoding(bytes, decoded) == encoding);
    FUZZ_CHECK(decoded == decodeDetectedText(bytes, encoding));
    if (encoding == NSISO2022JPStringEncoding) {
        FUZZ_CHECK(bytes.find('\x1B') != std::string_view::npos);
        return 0;
    }
    const auto chosen = std::find(encodingCandidates.begin(), encodingCandidates.end(), encoding);
    FUZZ_CHECK(chosen != encodingCandidates.end());
    // This holds for NSNonLossyASCIIStringEncoding too, which detectEncoding skips: what it decodes
    // is ASCII, which the UTF-8 trial takes first.
    if (cutOff) {
        FUZZ_CHECK(!decodeText(bytes, NSUTF8StringEncoding).has_value());
        return 0;
    }
    for (auto earlier = encodingCandidates.begin(); earlier != chosen; ++earlier)
        FUZZ_CHECK(!decodeText(bytes, *earlier).has_value());
    FUZZ_CHECK((encoding == NSUTF8StringEncoding) == decodeText(bytes, NSUTF8StringEncoding).has_value());
    return 0;
}
