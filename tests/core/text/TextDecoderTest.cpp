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
