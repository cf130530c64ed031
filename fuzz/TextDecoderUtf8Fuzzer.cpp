// TextDecoder::decodeToUtf8() against decode() with its text written as UTF-8: for the same bytes in
// the same random pieces, both give the same bytes, fail at the same piece (or at the end) and
// tell a lone surrogate apart alike, and name the same byte offset for a failure. The first byte picks the encoding; the next ones the pieces.
#include "FuzzSupport.hpp"

#include "core/text/TextDecoder.hpp"
#include "core/text/detail/Utf8.hpp"

#include <array>

using namespace plistable;

namespace {

constexpr std::array<const char*, 12> encodings = {"Shift_JIS", "windows-31j", "EUC-JP",    "GBK",
                                                   "GB18030",   "Big5",        "EUC-KR",    "UTF-16",
                                                   "IBM-943",   "windows-1252", "macintosh", "UTF-8"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader reader(data, size);
    const char* const encoding = encodings[reader.take() % encodings.size()];
    std::array<std::size_t, 4> pieceSizes{};
    for (std::size_t& piece : pieceSizes)
        piece = 1 + reader.take() % 64;
    const std::string_view bytes = reader.rest();

    std::optional<TextDecoder> units = TextDecoder::named(encoding);
    std::optional<TextDecoder> direct = TextDecoder::named(encoding);
    FUZZ_CHECK(units && direct);
    std::string expected;
    std::string got;
    bool unitsOk = true;
    bool directOk = true;
    bool lonely = false; // the units' text held a lone surrogate (decode() itself did not fail)
    Text text;
    for (std::size_t at = 0, i = 0; at < bytes.size() && unitsOk; ++i) {
        const std::string_view piece = bytes.substr(at, pieceSizes[i % pieceSizes.size()]);
        at += piece.size();
        text.clear();
        unitsOk = units->decode(piece, text);
        bool lone = false;
        if (unitsOk && !detail::appendUtf16AsUtf8(text, expected))
            unitsOk = false, lone = lonely = true;
        directOk = direct->decodeToUtf8(piece, got);
        FUZZ_CHECK(directOk == unitsOk);
        FUZZ_CHECK(direct->heldLoneSurrogate() == lone);
        if (unitsOk)
            FUZZ_CHECK(got == expected);
    }
    if (unitsOk) {
        text.clear();
        unitsOk = units->finish(text);
        const bool lone = unitsOk && !detail::appendUtf16AsUtf8(text, expected);
        lonely = lone;
        directOk = direct->finishToUtf8(got);
        FUZZ_CHECK(directOk == (unitsOk && !lone));
        FUZZ_CHECK(direct->heldLoneSurrogate() == lone);
        FUZZ_CHECK(got == expected);
    }
    // Where bytes fail to decode is known, the same through both routes, whatever the pieces.
    if (!unitsOk && !lonely) {
        FUZZ_CHECK(units->failureOffset().has_value());
        FUZZ_CHECK(direct->failureOffset() == units->failureOffset());
        FUZZ_CHECK(TextDecoder::failureOffsetIn(bytes, encoding) == units->failureOffset());
    }
    return 0;
}
