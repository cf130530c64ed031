#include "core/text/TextEncoding.hpp"

#include "core/text/detail/Utf8.hpp"
#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::bytes;
using plistable::test::hex;
using plistable::test::u;

namespace {

struct DecodeCase {
    const char* name;
    TextEncoding encoding;
    std::string input;
    bool decodes;
};

// The trials of encoding detection rely on exactly these verdicts of the converters.
TEST(TextEncodingTest, DecodingGivesTheWholeTextOrNothing)
{
    const DecodeCase cases[] = {
        {"UTF-8 empty", NSUTF8StringEncoding, "", true},
        {"UTF-8 four-byte", NSUTF8StringEncoding, "\xF0\x9F\x98\x80", true},
        {"UTF-8 above U+10FFFF", NSUTF8StringEncoding, "\xF4\x90\x80\x80", false},
        {"UTF-8 cut off", NSUTF8StringEncoding, "a\xE3\x81", false},
        {"UTF-8 stray continuation", NSUTF8StringEncoding, "\x80", false},
        {"Shift_JIS katakana", NSShiftJISStringEncoding, "\xB1\xDF", true},
        {"Shift_JIS two-byte", NSShiftJISStringEncoding, "\x82\xA0", true},
        {"Shift_JIS bad trail", NSShiftJISStringEncoding, "\x82\x20", false},
        {"Shift_JIS lead at end", NSShiftJISStringEncoding, "a\x82", false},
        {"EUC-JP two-byte", NSJapaneseEUCStringEncoding, "\xA4\xA2", true},
        {"EUC-JP half-width katakana", NSJapaneseEUCStringEncoding, "\x8E\xB1", true},
        {"EUC-JP bad 8E trail", NSJapaneseEUCStringEncoding, "\x8E\x41", false},
        {"EUC-JP cut off", NSJapaneseEUCStringEncoding, "\xA4", false},
        {"EUC-JP lone high byte", NSJapaneseEUCStringEncoding, "\x80", false},
        {"ISO-2022-JP kanji", NSISO2022JPStringEncoding, "\x1B$B$\"\x1B(B", true},
        {"ISO-2022-JP high byte", NSISO2022JPStringEncoding, "a\xA4", false},
        {"ISO-2022-JP unknown escape", NSISO2022JPStringEncoding, "\x1B[1m", false},
        {"ISO-2022-JP odd byte in two-byte mode", NSISO2022JPStringEncoding, "\x1B$B$", false},
        {"Mac OS Roman high bytes", NSMacOSRomanStringEncoding, "\x80\xFF", true},
        {"non-lossy ASCII never decodes", NSNonLossyASCIIStringEncoding, "abc", false},
        {"unknown identifier", 999, "abc", false},
        {"no encoding", 0, "", false},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeText(c.input, c.encoding).has_value(), c.decodes);
    }
}

TEST(TextEncodingTest, DecodesToTheExpectedCharacters)
{
    EXPECT_EQ(decodeText("caf\xC3\xA9", NSUTF8StringEncoding), u("café"));
    EXPECT_EQ(decodeText("caf\x8E", NSMacOSRomanStringEncoding), u("café"));
    EXPECT_EQ(decodeText("\x82\xA0", NSShiftJISStringEncoding), u("あ"));
    EXPECT_EQ(decodeText("\xA4\xA2", NSJapaneseEUCStringEncoding), u("あ"));
    EXPECT_EQ(decodeText("\x1B$B$\"\x1B(B", NSISO2022JPStringEncoding), u("あ"));
    // A UTF-8 mark is text to the decoder; removing it is the caller's choice.
    EXPECT_EQ(decodeText("\xEF\xBB\xBF" "a", NSUTF8StringEncoding), u"\uFEFFa");
    EXPECT_EQ(decodeText(bytes({0xFF, 0xFE, 0x41, 0x00}), NSUnicodeStringEncoding), u"A");
    EXPECT_EQ(decodeText(bytes({0xFE, 0xFF, 0x00, 0x41}), NSUnicodeStringEncoding), u"A");
    EXPECT_EQ(decodeText(bytes({0x00, 0x00, 0x00, 0x41}), NSUTF32BigEndianStringEncoding), u"A");
}

TEST(TextEncodingTest, EncodingGivesAllBytesOrNothing)
{
    EXPECT_EQ(encodeText(u"a", NSUTF8StringEncoding), "a");
    EXPECT_EQ(hex(*encodeText(u"a", NSUnicodeStringEncoding)), "FF FE 61 00");
    EXPECT_EQ(hex(*encodeText(u"aa", NSUnicodeStringEncoding)), "FF FE 61 00 61 00");
    EXPECT_EQ(hex(*encodeText(u"a", NSUTF16BigEndianStringEncoding)), "00 61");
    EXPECT_EQ(encodeText(u"\xD800", NSUTF8StringEncoding), std::nullopt);
    EXPECT_EQ(encodeText(u"\xDC00x", NSUTF16LittleEndianStringEncoding), std::nullopt);
    EXPECT_EQ(encodeText(u("あ"), NSISOLatin1StringEncoding), std::nullopt);
    EXPECT_EQ(hex(*encodeText(u("あ"), NSShiftJISStringEncoding)), "82 A0");
}

TEST(TextEncodingTest, NamesAndAliases)
{
    EXPECT_EQ(encodingName(NSShiftJISStringEncoding), "Shift_JIS");
    EXPECT_EQ(encodingName(NSMacOSRomanStringEncoding), "Mac OS Roman");
    EXPECT_EQ(encodingName(12345), "");
    EXPECT_TRUE(canonicalEncodingName("cp932").has_value());
    EXPECT_TRUE(canonicalEncodingName("windows-1252").has_value());
    EXPECT_FALSE(canonicalEncodingName("no-such-encoding").has_value());
    EXPECT_EQ(decodeTextNamed("\x82\xA0", "cp932"), u("あ"));
    EXPECT_EQ(decodeTextNamed("\xE9", "windows-1252"), u("é"));
    EXPECT_EQ(decodeTextNamed("\xC3\xA9", "utf8"), u("é"));
    EXPECT_EQ(decodeTextNamed("\xC3", "utf8"), std::nullopt);
}

TEST(TextEncodingTest, LossyConversionsReplaceOnlyTheBadUnits)
{
    EXPECT_EQ(toUtf8Lossy(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(toUtf8Lossy(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(fromUtf8Lossy("a\xFF" "b"), u"a\uFFFDb");
}

TEST(Utf8Test, ValidLengthStopsAtTheFirstBadByte)
{
    const std::string longAscii(100, 'x');
    EXPECT_EQ(detail::validUtf8Length(longAscii), 100u);
    EXPECT_EQ(detail::validUtf8Length(longAscii + "\xC3"), 100u);
    EXPECT_EQ(detail::validUtf8Length(longAscii + "\xC3\xA9" + longAscii), 202u);
    EXPECT_EQ(detail::validUtf8Length("ab\xE0\x80\x80"), 2u); // overlong three-byte form
    std::u16string out = u"x";
    EXPECT_FALSE(detail::appendUtf8AsUtf16("a\xFF", out));
    EXPECT_EQ(out, u"x");
}

} // namespace
