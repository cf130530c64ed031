// Decoding in pieces gives what decoding the whole gives, at every cut, where single-byte runs are
// taken past ICU: a Shift_JIS trail byte in the ASCII range, IBM's swapped controls, a bad byte
// after a run, and encodings whose ASCII bytes are other characters or take shift states.
#include "core/text/TextDecoder.hpp"

#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// decodeToUtf8() against decode() with its text then written as UTF-8: the same bytes, or a
// failure from both, for the same pieces.
std::optional<std::string> throughUnits(const char* encoding, const std::vector<std::string_view>& pieces)
{
    TextDecoder decoder = TextDecoder::named(encoding).value();
    Text text;
    for (std::string_view piece : pieces)
        if (!decoder.decode(piece, text))
            return std::nullopt;
    std::string out;
    if (!decoder.finish(text) || !detail::appendUtf16AsUtf8(text, out))
        return std::nullopt;
    return out;
}

std::optional<std::string> direct(const char* encoding, const std::vector<std::string_view>& pieces)
{
    TextDecoder decoder = TextDecoder::named(encoding).value();
    std::string out;
    for (std::string_view piece : pieces)
        if (!decoder.decodeToUtf8(piece, out))
            return std::nullopt;
    if (!decoder.finishToUtf8(out))
        return std::nullopt;
    return out;
}

const char* const encodings[] = {"Shift_JIS", "windows-31j", "EUC-JP", "GBK",         "GB18030",
                                 "Big5",      "EUC-KR",      "UTF-16", "ISO-2022-JP", "windows-1252"};

TEST(TextDecoderTest, Utf8AgreesWithUnitsOnEveryByteAndPair)
{
    for (const char* encoding : encodings) {
        SCOPED_TRACE(encoding);
        // Both decoders take the same pieces, one after the other, until one fails; then both start
        // afresh.
        std::optional<TextDecoder> units;
        std::optional<TextDecoder> direct;
        std::size_t decoded = 0;
        for (unsigned first = 0; first < 0x100; ++first) {
            // Each byte alone, and each byte of 0x80 and above before every byte, between ASCII.
            const unsigned seconds = first < 0x80 ? 0 : 0x100;
            for (unsigned second = 0; second <= seconds; ++second) {
                std::string bytes = "a" + std::string(1, static_cast<char>(first));
                if (second > 0)
                    bytes += static_cast<char>(second - 1);
                bytes += "z";
                if (!units) {
                    units = TextDecoder::named(encoding);
                    direct = TextDecoder::named(encoding);
                }
                Text text;
                std::string expected;
                std::string got;
                const bool ok = units->decode(bytes, text) && detail::appendUtf16AsUtf8(text, expected);
                ASSERT_EQ(direct->decodeToUtf8(bytes, got), ok) << std::hex << first << ' ' << second;
                if (ok) {
                    ASSERT_EQ(got, expected) << std::hex << first << ' ' << second;
                    ++decoded;
                } else {
                    units.reset();
                }
            }
        }
        EXPECT_GT(decoded, 0u);
    }
}

TEST(TextDecoderTest, Utf8AgreesWithUnitsAtEveryCut)
{
    const std::u16string sample = u"id,名前\r\nA-1,ｶﾀｶﾅと漢字 〜 ①\n\\~,東京都\t한국어 中文 繁體 €\r\n";
    for (const char* encoding : encodings) {
        SCOPED_TRACE(encoding);
        std::optional<detail::IcuConverter> converter = detail::IcuConverter::open(encoding);
        ASSERT_TRUE(converter.has_value());
        // The sample's characters the encoding holds, then the same with a byte that fails mid-way
        // and with a character cut off at the end.
        std::string good;
        for (char16_t c : sample)
            good += converter->encodeAll(std::u16string(1, c)).value_or("");
        const std::string cutOff = converter->encodeAll(u"東").value_or("\x81").substr(0, 1);
        const std::string bytes[] = {good, good.substr(0, good.size() / 2) + "\xFF\x80" + good.substr(good.size() / 2),
                                     good + cutOff};
        for (const std::string& text : bytes) {
            for (std::size_t cut = 0; cut <= text.size(); ++cut) {
                SCOPED_TRACE(cut);
                const std::string_view all(text);
                const std::vector<std::string_view> pieces = {all.substr(0, cut), all.substr(cut)};
                ASSERT_EQ(direct(encoding, pieces), throughUnits(encoding, pieces));
                // Pieces of `cut` bytes each.
                std::vector<std::string_view> small;
                for (std::size_t at = 0; cut != 0 && at < all.size(); at += cut)
                    small.push_back(all.substr(at, cut));
                ASSERT_EQ(direct(encoding, small), throughUnits(encoding, small));
            }
        }
    }
}

} // namespace

// Where a failure begins is the same byte offset at every cut, through both routes.
TEST(TextDecoderTest, FailureOffsetIsWhereTheBadSequenceBegins)
{
    const struct {
        const char* name;
        const char* encoding;
        std::string bytes;
        std::uint64_t offset;
    } cases[] = {
        {"UTF-8 stray continuation byte", "UTF-8", "abc\x80" "def", 3},
        {"UTF-8 lead byte then ASCII", "UTF-8", "ab\xC3" "x", 2},
        {"UTF-8 overlong after a character", "UTF-8", "\xC3\xA9" "\xC0\xAF", 2},
        {"UTF-8 cut off by the end", "UTF-8", "abcd\xE3\x81", 4},
        {"Shift_JIS unassigned pair", "Shift_JIS", "ab\x82\xA0" "c\x85\x40" "d", 5},
        {"Shift_JIS lead byte before a control", "Shift_JIS", "abc\x83\x0A" "d", 3},
        {"Shift_JIS lead byte at the end", "Shift_JIS", "abcdef\x83", 6},
        {"EUC-JP lead byte before ASCII", "EUC-JP", "a\xA4\xA2\xA4" "A", 3},
        {"EUC-JP cut off", "EUC-JP", "ab\xA4", 2},
        {"GBK bad trail byte", "GBK", "xy\x81\x7F" "z", 2},
        {"GB18030 four-byte sequence with a bad last byte", "GB18030", "\x81\x35\xFB\xFF" "ab", 0},
        {"UTF-16 high surrogate before a letter", "UTF-16BE", std::string("\0a\xD8\x3D\0b", 6), 2},
        {"UTF-16 byte cut off", "UTF-16LE", std::string("a\0b", 3), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t piece = 1; piece <= c.bytes.size(); ++piece) {
            SCOPED_TRACE(piece);
            for (const bool utf8 : {false, true}) {
                TextDecoder decoder = TextDecoder::named(c.encoding).value();
                Text text;
                std::string out;
                bool ok = true;
                for (std::size_t at = 0; ok && at < c.bytes.size(); at += piece) {
                    const std::string_view part = std::string_view(c.bytes).substr(at, piece);
                    ok = utf8 ? decoder.decodeToUtf8(part, out) : decoder.decode(part, text);
                }
                ok = ok && (utf8 ? decoder.finishToUtf8(out) : decoder.finish(text));
                ASSERT_FALSE(ok);
                EXPECT_EQ(decoder.failureOffset(), std::optional<std::uint64_t>(c.offset)) << "utf8 route " << utf8;
            }
        }
    }
}
