#include "core/text/TextEncoder.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::bytes;
using plistable::test::hex;
using plistable::test::u;

namespace {

TEST(TextEncoderTest, EncodesOrNamesTheFirstCharacterItCannotHold)
{
    struct Case {
        const char* name;
        const char* encoding;
        const char* text; // UTF-8
        std::string expected;
        std::optional<std::size_t> stop;
    };
    const Case cases[] = {
        {"cp932 kanji and circled digit", "cp932", "日本①", bytes({0x93, 0xFA, 0x96, 0x7B, 0x87, 0x40}), {}},
        {"latin1", "latin1", "café", bytes({0x63, 0x61, 0x66, 0xE9}), {}},
        {"windows-1252 euro", "windows-1252", "€", bytes({0x80}), {}},
        {"utf-16le, no mark", "utf-16le", "a日", bytes({0x61, 0x00, 0xE5, 0x65}), {}},
        {"latin1 stops at a kanji", "latin1", "ab日c", "ab", 2},
        {"latin1 stops at a pair, at its first unit", "latin1", "x\xF0\x9F\x98\x80", "x", 1},
        {"cp932 writes the JIS forms in their Windows forms", "cp932", "〜‖−—¢£¬",
         bytes({0x81, 0x60, 0x81, 0x61, 0x81, 0x7C, 0x81, 0x5C, 0x81, 0x91, 0x81, 0x92, 0x81, 0xCA}), {}},
        {"windows-31j too", "Windows-31J", "a〜", bytes({0x61, 0x81, 0x60}), {}},
        {"a strict shift_jis refuses the wave dash", "shift_jis", "a〜", "a", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<TextEncoder> encoder = TextEncoder::open(c.encoding);
        ASSERT_TRUE(encoder);
        std::string out;
        EXPECT_EQ(encoder->encode(u(c.text), out, true), c.stop);
        EXPECT_EQ(hex(out), hex(c.expected));
    }
}

TEST(TextEncoderTest, AStatefulEncodingCarriesItsStateAcrossPieces)
{
    std::optional<TextEncoder> encoder = TextEncoder::open("ISO-2022-JP");
    ASSERT_TRUE(encoder);
    std::string out;
    EXPECT_FALSE(encoder->encode(u("日"), out));
    EXPECT_FALSE(encoder->encode(u("本"), out));
    EXPECT_FALSE(encoder->encode(u("a"), out, true));
    // One switch to JIS X 0208 for both kanji, one back to ASCII before "a".
    EXPECT_EQ(hex(out), hex("\x1B$BF|K\\\x1B(Ba"));
}

TEST(TextEncoderTest, NamesAndMarksFollowTheEncoding)
{
    struct Case {
        const char* given;
        const char* name;
        bool takesMark;
    };
    const Case cases[] = {
        {"latin1", "ISO-8859-1", false},
        {"utf8", "UTF-8", true},
        {"utf-16le", "UTF-16LE", true},
        {"utf-16", "UTF-16", false}, // writes its own mark
        {"windows-1252", "windows-1252", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        std::optional<TextEncoder> encoder = TextEncoder::open(c.given);
        ASSERT_TRUE(encoder);
        EXPECT_EQ(encoder->name(), c.name);
        EXPECT_EQ(encoder->takesByteOrderMark(), c.takesMark);
    }
    EXPECT_FALSE(TextEncoder::open("no-such-encoding"));
    const std::optional<TextEncoder> latin1 = TextEncoder::open("latin1");
    EXPECT_EQ(latin1->describeUnencodable(0x65E5), "\"\xE6\x97\xA5\" (U+65E5) cannot be written in latin1");
    EXPECT_EQ(latin1->describeUnencodable(0x1F600), "\"\xF0\x9F\x98\x80\" (U+1F600) cannot be written in latin1");
    EXPECT_EQ(latin1->describeUnencodable(0xD800), "U+D800 cannot be written in latin1");
}

TEST(TextEncoderTest, CountsTheCharactersWrittenInTheirWindowsForms)
{
    std::optional<TextEncoder> encoder = TextEncoder::open("cp932");
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->describeWindowsForms(), "");
    std::string out;
    EXPECT_FALSE(encoder->encode(u("〜a〜"), out));
    EXPECT_EQ(encoder->encode(u("−日\U0001F600〜"), out, true), std::optional<std::size_t>(2));
    // The wave dash after the character that stopped the encoding was not written.
    EXPECT_EQ(encoder->windowsForms(), 3u);
    EXPECT_EQ(encoder->describeWindowsForms(), "3 characters written in their Windows forms (〜 → ～, − → －)");
    EXPECT_EQ(encoder->describeUnencodable(0x1F600), "\"\U0001F600\" (U+1F600) cannot be written in cp932");
}

} // namespace
