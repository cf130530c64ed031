#include "core/text/EncodingEvidence.hpp"

#include "core/text/EncodingDetection.hpp"
#include "core/text/TextDecoder.hpp"
#include "support/TestSupport.hpp"

#include <random>

using namespace plistable;
using plistable::test::bytes;

namespace {

// Detection and decoding of `input` seen only in pieces of `piece` bytes: the evidence of one
// pass, then the trials in order, each decoding the pieces, until one decodes them all.
std::pair<TextEncoding, std::optional<Text>> detectInPieces(std::string_view input, std::size_t piece)
{
    EncodingEvidence evidence;
    for (std::size_t at = 0; at < input.size(); at += piece)
        evidence.add(input.substr(at, piece));
    for (const TextEncoding encoding : evidence.trials()) {
        std::optional<TextDecoder> decoder =
            TextDecoder::forEncoding(encoding, encoding == NSUTF8StringEncoding && evidence.cutOffUtf8Length() > 0);
        EXPECT_TRUE(decoder);
        Text text;
        bool ok = true;
        for (std::size_t at = 0; ok && at < input.size(); at += piece)
            ok = decoder->decode(input.substr(at, piece), text);
        if (ok && decoder->finish(text))
            return {encoding, text};
    }
    return {0, std::nullopt};
}

void expectAgreement(const std::string& input)
{
    const TextEncoding expected = detectEncoding(input);
    const std::optional<Text> text = decodeDetectedText(input, expected);
    for (const std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7), input.size() + 1}) {
        SCOPED_TRACE(testing::Message() << "piece " << piece);
        const auto [encoding, decoded] = detectInPieces(input, piece);
        EXPECT_EQ(encoding, expected);
        EXPECT_EQ(decoded, text);
    }
}

TEST(EncodingEvidenceTest, PiecesGiveWhatWholeBytesGive)
{
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"ASCII", "a,b\n1,2\n"},
        {"UTF-8 with mark", bytes({0xEF, 0xBB, 0xBF}) + "a,\xC3\xA9"},
        {"UTF-8 Japanese", "\xE6\x97\xA5\xE6\x9C\xAC,x"},
        {"UTF-8 cut off after a whole character", "\xE6\x97\xA5,\xE6\x9C"},
        {"UTF-8 four bytes cut off", "\xC3\xA9\xF0\x9F\x98"},
        {"ASCII then a lone lead byte", "caf\xE9"},
        {"ISO-2022-JP", "\x1B$B$\"\x1B(B,x"},
        {"terminal colour sequence", "\x1B[1mbold\x1B[0m"},
        {"ESC with a katakana byte", "\x1B$B$\"\x1B(B\xB1"},
        {"Shift_JIS", "\x93\xFA\x96\x7B,\x83\x65\x83\x58\x83\x67"},
        {"Shift_JIS lead byte last", "ab\x93"},
        {"EUC-JP kanji", "\xC6\xFC\xCB\xDC\xB8\xEC"},
        {"EUC-JP three-byte form", "\x8F\xB0\xA1\xA4\xA2"},
        {"EUC-JP C1 byte", "\x85" "ab"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"overlong form", "\xC0\xAF"},
        {"UTF-16 with mark", bytes({0xFF, 0xFE, 0x41, 0x00, 0x2C, 0x00})},
    };
    for (const auto& [name, input] : cases) {
        SCOPED_TRACE(name);
        expectAgreement(input);
    }
}

TEST(EncodingEvidenceTest, PiecesGiveWhatWholeBytesGiveOnRandomBytes)
{
    // Bytes drawn mostly from the ranges the Japanese encodings and UTF-8 use, so that every trial
    // is reached and fails at every kind of place.
    const unsigned char alphabet[] = {'a', ',', '\n', 0x1B, '$', 'B', '(', 0x82, 0x93, 0xA4, 0xA2, 0x8E, 0x8F,
                                      0xC3, 0xA9, 0xE6, 0x97, 0xF0, 0x9F, 0xFE, 0x80, 0xE9};
    std::mt19937 random(5);
    for (int round = 0; round < 3000; ++round) {
        std::string input(random() % 24, 'a');
        for (char& c : input)
            c = static_cast<char>(alphabet[random() % std::size(alphabet)]);
        SCOPED_TRACE(testing::Message() << "round " << round);
        expectAgreement(input);
    }
}

TEST(EncodingEvidenceTest, NamedDecoderRefusesWhatWholeDecodingRefuses)
{
    const std::pair<const char*, std::string> cases[] = {
        {"cp932", "\x93\xFA\x96\x7B"},
        {"cp932", "\x93"},
        {"utf-8", "\xE6\x97"},
        {"utf-8", "\xC3\xA9"},
        {"windows-1252", "caf\xE9"},
        {"utf-16le", "A"},
    };
    for (const auto& [name, input] : cases) {
        SCOPED_TRACE(testing::Message() << name << " " << input.size());
        const std::optional<Text> whole = decodeTextNamed(input, name);
        std::optional<TextDecoder> decoder = TextDecoder::named(name);
        ASSERT_TRUE(decoder);
        Text text;
        bool ok = true;
        for (const char c : input)
            ok = ok && decoder->decode(std::string_view(&c, 1), text);
        ok = ok && decoder->finish(text);
        EXPECT_EQ(ok, whole.has_value());
        if (ok && whole) {
            EXPECT_EQ(text, *whole);
        }
    }
    EXPECT_FALSE(TextDecoder::named("no-such-encoding"));
}

} // namespace
