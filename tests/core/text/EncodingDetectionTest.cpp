#include "core/text/EncodingDetection.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::bytes;

namespace {

struct Case {
    const char* name;
    std::string input;
    TextEncoding expected;
};

TEST(EncodingDetectionTest, ChoosesTheFirstEncodingThatDecodesEverything)
{
    const Case cases[] = {
        {"empty buffer", "", NSUTF8StringEncoding},
        {"plain ASCII", "a,b\n1,2\n", NSUTF8StringEncoding},
        {"UTF-8 with mark", bytes({0xEF, 0xBB, 0xBF}) + "a,\xC3\xA9", NSUTF8StringEncoding},
        {"UTF-8 Japanese", "\xE6\x97\xA5\xE6\x9C\xAC", NSUTF8StringEncoding},
        {"NUL bytes are UTF-8", std::string("a\0b", 3), NSUTF8StringEncoding},
        {"ISO-2022-JP", "\x1B$B$\"\x1B(B,x", NSISO2022JPStringEncoding},
        {"ISO-2022-JP via JIS Roman", "\x1B(Jabc\x1B(B", NSISO2022JPStringEncoding},
        {"terminal colour sequence", "\x1B[1mbold\x1B[0m", NSUTF8StringEncoding},
        {"ESC with a katakana byte", "\x1B$B$\"\x1B(B\xB1", NSShiftJISStringEncoding},
        {"Shift_JIS Japanese", "\x93\xFA\x96\x7B", NSShiftJISStringEncoding},
        {"Latin-1 A-umlaut then ASCII", "\xC4x", NSShiftJISStringEncoding},
        {"EUC-JP hiragana a", "\xA4\xA2", NSShiftJISStringEncoding},
        {"EUC-JP kanji", "\xC6\xFC\xCB\xDC\xB8\xEC", NSJapaneseEUCStringEncoding},
        {"cafe in Latin-1", "caf\xE9", NSMacOSRomanStringEncoding},
        {"overlong UTF-8 read as katakana", "\xC0\xAF", NSShiftJISStringEncoding},
        {"encoded surrogate", "\xED\xA0\x80", NSMacOSRomanStringEncoding},
        {"Shift_JIS lead byte last", "ab\x93", NSMacOSRomanStringEncoding},
        {"EUC-JP C1 byte", "\x85" "ab", NSMacOSRomanStringEncoding},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detectEncoding(c.input), c.expected);
        // The kept text of the chosen encoding is the text a fresh decode gives.
        std::optional<Text> decoded = Text(u"stale");
        EXPECT_EQ(detectEncoding(c.input, decoded), c.expected);
        EXPECT_EQ(decoded, decodeText(c.input, c.expected));
        EXPECT_TRUE(decoded.has_value());
    }
}

// UTF-8 cut short by the end of the file stays UTF-8, the cut-off character decoding as U+FFFD; any
// other fault, or a lone lead byte after ASCII, leaves detection as it was.
TEST(EncodingDetectionTest, Utf8CutOffAtTheVeryEndIsStillUtf8)
{
    struct CutCase {
        const char* name;
        std::string input;
        TextEncoding expected;
        std::size_t cut;
        const char* decoded; // UTF-8 of decodeDetectedText(input, expected)
    };
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC"; // 日本
    const CutCase cases[] = {
        {"two of three bytes", japanese + "\xE6\x97", NSUTF8StringEncoding, 2, "日本\xEF\xBF\xBD"},
        {"one of three bytes", japanese + "\xE6", NSUTF8StringEncoding, 1, "日本\xEF\xBF\xBD"},
        {"three of four bytes", "\xC3\xA9\xF0\x9F\x98", NSUTF8StringEncoding, 3, "é\xEF\xBF\xBD"},
        {"one of two bytes after a line", "caf\xC3\xA9\n\xC3", NSUTF8StringEncoding, 1, "café\n\xEF\xBF\xBD"},
        {"whole text is not cut", japanese, NSUTF8StringEncoding, 0, "日本"},
        {"ASCII then a lone lead byte", "caf\xE9", NSMacOSRomanStringEncoding, 0, "caf\xC3\x88"},
        {"a fault before the end", "\xC3\xA9\xFF\xE6\x97", NSMacOSRomanStringEncoding, 0, nullptr},
        {"a stray continuation byte last", "\xC3\xA9\x80", NSMacOSRomanStringEncoding, 0, nullptr},
        {"a cut surrogate lead", "\xC3\xA9\xED\xA0", NSShiftJISStringEncoding, 0, nullptr},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detectEncoding(c.input), c.expected);
        EXPECT_EQ(cutOffUtf8Length(c.input), c.cut);
        if (c.decoded) {
            const std::optional<Text> text = decodeDetectedText(c.input, c.expected);
            ASSERT_TRUE(text);
            EXPECT_EQ(toUtf8Lossy(*text), c.decoded);
        }
    }
}

TEST(EncodingDetectionTest, CandidateTableHoldsTwelveEntriesInOrder)
{
    const std::array<TextEncoding, 12> expected = {4, 7, 8, 3, 30, 11, 12, 13, 14, 15, 5, 10};
    EXPECT_EQ(encodingCandidates, expected);
}

TEST(EncodingDetectionTest, EveryByteValueGivesAnAnswerWhichDecodesTheBytes)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const TextEncoding chosen = detectEncoding(all);
    EXPECT_EQ(chosen, NSMacOSRomanStringEncoding);
    EXPECT_TRUE(decodeText(all, chosen).has_value());
}

TEST(EncodingDetectionTest, AlwaysNamesAnEncodingThatDecodesTheBytes)
{
    std::vector<std::string> inputs = {""};
    for (int b = 0; b < 256; ++b)
        inputs.emplace_back(1, static_cast<char>(b));
    for (int a = 0x80; a < 256; a += 3)
        for (int b = 0; b < 256; b += 5)
            inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
    for (const std::string& bytes : inputs) {
        SCOPED_TRACE(test::hex(bytes));
        const TextEncoding chosen = detectEncoding(bytes);
        EXPECT_FALSE(encodingName(chosen).empty());
        EXPECT_TRUE(decodeText(bytes, chosen).has_value()) << encodingName(chosen);
    }
}

} // namespace
