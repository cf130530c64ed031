// Decoding in pieces gives what decoding the whole gives, at every cut, where single-byte runs are
// taken past ICU: a Shift_JIS trail byte in the ASCII range, IBM's swapped controls, a bad byte
// after a run, and encodings whose ASCII bytes are other characters or take shift states.
#include "core/text/TextDecoder.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace plistable;

namespace {

struct Case {
    const char* name;
    TextEncoding encoding;
    std::string bytes;
};

TEST(TextDecoderTest, PiecesAtEveryCutGiveTheWholeDecoding)
{
    const Case cases[] = {
        {"Shift_JIS trail bytes 0x5C and 0x7E after ASCII", NSShiftJISStringEncoding,
         "ab\x83\x5C" "c\x95\x5C\x5C\x81\x7E" "d\x83\x5Cxyz0123456789abcdef"},
        {"Shift_JIS controls 0x1A, 0x1C, 0x7F", NSShiftJISStringEncoding, "a\x1A\x1C\x7F\x82\xA0\x1A" "b"},
        {"Shift_JIS half-width katakana between runs", NSShiftJISStringEncoding, "a\xB1\xB2" "b\xDF"},
        {"Shift_JIS lead byte before the end", NSShiftJISStringEncoding, "abc\x83"},
        {"Shift_JIS lead byte before a control", NSShiftJISStringEncoding, "abc\x83\x0A" "d"},
        {"EUC-JP", NSJapaneseEUCStringEncoding, "a\xA4\xA2" "b\x8E\xB1" "c"},
        {"Mac OS Roman", NSMacOSRomanStringEncoding, "caf\x8E, na\x96ve"},
        {"ISO-2022-JP (shift states)", NSISO2022JPStringEncoding, "a\x1B$B$\"\x1B(Bb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Text> whole = decodeText(c.bytes, c.encoding);
        for (std::size_t piece = 1; piece <= c.bytes.size(); ++piece) {
            SCOPED_TRACE(piece);
            std::optional<TextDecoder> decoder = TextDecoder::forEncoding(c.encoding);
            ASSERT_TRUE(decoder.has_value());
            Text text;
            bool ok = true;
            for (std::size_t at = 0; ok && at < c.bytes.size(); at += piece)
                ok = decoder->decode(std::string_view(c.bytes).substr(at, piece), text);
            ok = ok && decoder->finish(text);
            EXPECT_EQ(ok, whole.has_value());
            if (ok && whole) {
                EXPECT_EQ(text, *whole);
            }
        }
    }
}

} // namespace
