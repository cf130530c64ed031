#include "core/text/TextDecoder.hpp"

#include "core/text/detail/EucJpStructure.hpp"
#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <array>
#include <bit>
#include <optional>
#include <string>
#include <utility>

#include "core/text/detail/Simd.hpp"

namespace plistable {

// UTF-8 is decoded by our own routines (as decodeText() does); every other encoding by ICU, with
// EUC-JP's byte structure checked first, as decodeText() checks it.
struct TextDecoder::State {
    std::optional<detail::IcuConverter> converter; // empty for UTF-8
    bool eucJp = false;
    detail::EucJpStructure structure;
    bool cutOffAsReplacement = false;
    // ICU: what bytes below 0x80 stand for where no character is begun, when that is fixed; such
    // runs are widened here instead of going through the converter.
    std::optional<std::array<char16_t, 0x80>> singleBytes;
    std::string pending; // UTF-8: the start of a character the last piece cut off
    bool failed = false;

    bool decodeUtf8(std::string_view bytes, Text& out)
    {
        if (!pending.empty()) {
            // Complete the character held back, one byte at a time (at most three).
            while (!bytes.empty() && detail::isIncompleteUtf8Sequence(pending)) {
                pending.push_back(bytes.front());
                bytes.remove_prefix(1);
            }
            if (detail::isIncompleteUtf8Sequence(pending))
                return true; // the piece was too short to complete it
            if (!detail::appendUtf8AsUtf16(pending, out))
                return false;
            pending.clear();
        }
        const std::size_t valid = detail::appendUtf8PrefixAsUtf16(bytes, out);
        const std::string_view rest = bytes.substr(valid);
        if (rest.empty())
            return true;
        if (!detail::isIncompleteUtf8Sequence(rest))
            return false;
        pending.assign(rest);
        return true;
    }
};

namespace {

// The length of the run of bytes below 0x80 that `bytes` begins with.
std::size_t asciiLength(std::string_view bytes)
{
    std::size_t i = 0;
#if PLISTABLE_SSE2
    for (; bytes.size() - i >= 16; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
        if (const auto high = static_cast<unsigned>(_mm_movemask_epi8(block)))
            return i + static_cast<std::size_t>(std::countr_zero(high));
    }
#endif
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    return i;
}

// The length of the run of bytes of 0x80 and above that `bytes` begins with.
std::size_t otherLength(std::string_view bytes)
{
    std::size_t i = 0;
#if PLISTABLE_SSE2
    for (; bytes.size() - i >= 16; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
        const auto low = ~static_cast<unsigned>(_mm_movemask_epi8(block)) & 0xFFFF;
        if (low != 0)
            return i + static_cast<std::size_t>(std::countr_zero(low));
    }
#endif
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x80)
        ++i;
    return i;
}

} // namespace

TextDecoder::TextDecoder(std::unique_ptr<State> state) : _state(std::move(state)) {}
TextDecoder::TextDecoder(TextDecoder&&) noexcept = default;
TextDecoder& TextDecoder::operator=(TextDecoder&&) noexcept = default;
TextDecoder::~TextDecoder() = default;

std::optional<TextDecoder> TextDecoder::forEncoding(TextEncoding encoding, bool cutOffAsReplacement)
{
    auto state = std::make_unique<State>();
    if (encoding == NSUTF8StringEncoding) {
        state->cutOffAsReplacement = cutOffAsReplacement;
        return TextDecoder(std::move(state));
    }
    const char* name = detail::icuConverterName(encoding);
    if (name == nullptr || !(state->converter = detail::IcuConverter::open(name)))
        return std::nullopt;
    state->eucJp = encoding == NSJapaneseEUCStringEncoding;
    state->singleBytes = state->converter->singleByteRange();
    return TextDecoder(std::move(state));
}

std::optional<TextDecoder> TextDecoder::named(std::string_view name)
{
    const std::optional<std::string> canonical = canonicalEncodingName(name);
    if (!canonical)
        return std::nullopt;
    if (*canonical == "UTF-8")
        return forEncoding(NSUTF8StringEncoding);
    auto state = std::make_unique<State>();
    if (!(state->converter = detail::IcuConverter::open(canonical->c_str())))
        return std::nullopt;
    state->singleBytes = state->converter->singleByteRange();
    return TextDecoder(std::move(state));
}

bool TextDecoder::decode(std::string_view bytes, Text& out)
{
    State& s = *_state;
    if (s.failed)
        return false;
    const std::uint64_t offset = _bytes;
    _bytes += bytes.size();
    if (!s.converter) {
        s.failed = !s.decodeUtf8(bytes, out);
        return !s.failed;
    }
    if (s.eucJp && s.structure.findMalformed(bytes, offset)) {
        s.failed = true;
        return false;
    }
    if (!s.singleBytes) {
        s.failed = s.converter->decodeSome(bytes, false, out).failed;
        return !s.failed;
    }
    // Runs of bytes below 0x80 that begin where no character is begun are those characters: they
    // are looked up here, and only the bytes between them (with the rest of a character begun
    // before, which may end in a byte below 0x80) go through the converter, which holds no other
    // state.
    const std::array<char16_t, 0x80>& singleBytes = *s.singleBytes;
    while (!bytes.empty()) {
        if (s.converter->pendingBytes() == 0) {
            const std::size_t run = asciiLength(bytes);
            const std::size_t start = out.size();
            out.resize(start + run);
            for (std::size_t i = 0; i < run; ++i)
                out[start + i] = singleBytes[static_cast<unsigned char>(bytes[i])];
            bytes.remove_prefix(run);
            if (bytes.empty())
                break;
        }
        const std::size_t other = 1 + otherLength(bytes.substr(1));
        if (s.converter->decodeSome(bytes.substr(0, other), false, out).failed) {
            s.failed = true;
            return false;
        }
        bytes.remove_prefix(other);
    }
    return true;
}

bool TextDecoder::finish(Text& out)
{
    State& s = *_state;
    if (s.failed)
        return false;
    if (!s.converter) {
        if (s.pending.empty())
            return true;
        s.pending.clear();
        if (!s.cutOffAsReplacement)
            return false;
        out.push_back(u'\uFFFD');
        return true;
    }
    if (s.eucJp && !s.structure.atCharacterBoundary())
        return false;
    return !s.converter->decodeSome({}, true, out).failed;
}

} // namespace plistable
