#include "core/text/TextDecoder.hpp"

#include "core/text/detail/EucJpStructure.hpp"
#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "core/text/detail/Simd.hpp"

namespace plistable {

namespace {

// One character as UTF-8 (`size` of the four bytes); size 0 where a table holds no character.
struct Utf8Char {
    std::array<char, 4> bytes{};
    std::uint8_t size = 0;
};

// The character that `units` hold when they are exactly one, as UTF-8; else nothing (size 0).
Utf8Char oneCharacter(std::u16string_view units)
{
    const bool one = units.size() == 1 || (units.size() == 2 && (units[0] & 0xFC00) == 0xD800);
    std::string bytes;
    if (!one || !detail::appendUtf16AsUtf8(units, bytes)) // a lone surrogate is no character
        return {};
    Utf8Char out;
    std::memcpy(out.bytes.data(), bytes.data(), bytes.size());
    out.size = static_cast<std::uint8_t>(bytes.size());
    return out;
}

// What a byte of 0x80 and above decodes to where no character is begun: alone, when it is a whole
// character; else followed by each byte, when the two are exactly one character.
struct LeadByte {
    Utf8Char alone;
    std::array<Utf8Char, 0x100> pairs;
};

// The LeadByte entries of one converter, shared by every decoder of it (on any thread) and made
// the first time a lead byte turns up, by asking the converter itself: 257 trials at most.
class LeadBytes {
public:
    const LeadByte& lead(unsigned char byte, detail::IcuConverter& converter)
    {
        std::atomic<const LeadByte*>& slot = _leads[byte - 0x80];
        if (const LeadByte* made = slot.load(std::memory_order_acquire))
            return *made;
        const std::lock_guard<std::mutex> lock(_making);
        if (const LeadByte* made = slot.load(std::memory_order_relaxed))
            return *made;
        auto made = std::make_unique<LeadByte>();
        std::u16string units;
        // A trial gives a character only when the converter takes every byte, fails on none and
        // holds none back (so that what follows starts afresh, as after any whole character).
        auto trial = [&](std::string_view bytes) {
            converter.reset();
            units.clear();
            const detail::IcuConverter::Chunk chunk = converter.decodeSome(bytes, false, units);
            const bool whole = !chunk.failed && chunk.consumed == bytes.size() && converter.pendingBytes() == 0;
            converter.reset();
            return whole ? oneCharacter(units) : Utf8Char{};
        };
        const char lead = static_cast<char>(byte);
        made->alone = trial(std::string_view(&lead, 1));
        // A single byte never needs more than three bytes of UTF-8 (the room decodeToUtf8() keeps).
        if (made->alone.size > 3)
            made->alone = {};
        if (made->alone.size == 0) {
            for (unsigned trail = 0; trail < 0x100; ++trail) {
                const char pair[2] = {lead, static_cast<char>(trail)};
                made->pairs[trail] = trial(std::string_view(pair, 2));
            }
        }
        _owned[byte - 0x80] = std::move(made);
        slot.store(_owned[byte - 0x80].get(), std::memory_order_release);
        return *_owned[byte - 0x80];
    }

private:
    std::mutex _making;
    std::array<std::atomic<const LeadByte*>, 0x80> _leads{};
    std::array<std::unique_ptr<LeadByte>, 0x80> _owned;
};

// The LeadBytes of the converter named `name`, kept for the process for a few converters (a
// decoder of any other gets its own).
std::shared_ptr<LeadBytes> leadBytesOf(const char* name)
{
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<LeadBytes>, std::less<>> kept;
    constexpr std::size_t keptMost = 16;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto found = kept.find(std::string_view(name)); found != kept.end())
        return found->second;
    auto leads = std::make_shared<LeadBytes>();
    if (kept.size() < keptMost)
        kept.emplace(name, leads);
    return leads;
}

} // namespace

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
    std::uint64_t unitBytes = 1; // bytes per code unit of the encoding
    std::optional<std::uint64_t> failedAt; // with `failed`: where the sequence that did not decode begins
    bool loneSurrogate = false;
    // decodeToUtf8() with singleBytes: the bytes below 0x80 that are their own character, the
    // UTF-8 of each such byte's character, whether every byte from 0x20 to 0x7E is its own, and
    // the lead bytes looked up so far.
    std::array<bool, 0x80> ownBytes{};
    std::array<Utf8Char, 0x80> asciiChars{};
    bool printableOwn = false;
    std::shared_ptr<LeadBytes> leadBytes;
    std::array<const LeadByte*, 0x80> leads{};
    Text units; // decodeToUtf8(): what goes through decode() or the converter, before it is written

    // Learns what the converter's encoding is like: its unit size and the single-byte tables.
    void learnEncoding()
    {
        const std::string_view name = converter->name();
        unitBytes = name.starts_with("UTF-16") ? 2 : name.starts_with("UTF-32") ? 4 : 1;
        singleBytes = converter->singleByteRange();
        if (!singleBytes)
            return;
        printableOwn = true;
        for (std::size_t c = 0; c < 0x80; ++c) {
            ownBytes[c] = (*singleBytes)[c] == c;
            if (!ownBytes[c])
                asciiChars[c] = oneCharacter(std::u16string_view(&(*singleBytes)[c], 1));
            printableOwn = printableOwn && (ownBytes[c] || c < 0x20 || c == 0x7F);
        }
        leadBytes = leadBytesOf(converter->name());
    }

    const LeadByte& lead(unsigned char byte)
    {
        const LeadByte*& known = leads[byte - 0x80];
        if (known == nullptr)
            known = &leadBytes->lead(byte, *converter);
        return *known;
    }

    // Writes the characters that `bytes` begins with and the tables hold, from where no character
    // is begun; answers the bytes taken. Stops at a byte of 0x80 and above that the tables do not
    // take (alone or with the byte after it in `bytes`).
    std::size_t writeTabled(std::string_view bytes, std::string& out);
    // writeTabled()'s stretches are written here, then appended to its `out`: growing `out` by the
    // most a stretch can take would have the string fill that room with zeros first.
    static constexpr std::size_t tabledStretch = std::size_t{1} << 14;
    std::unique_ptr<char[]> tabledRoom;

    // Appends `units` to `out` as UTF-8; false, remembered, at a lone surrogate.
    bool appendUnits(std::string& out)
    {
        if (detail::appendUtf16AsUtf8(units, out))
            return true;
        loneSurrogate = true;
        failed = true;
        return false;
    }

    // `bytes` continue the stream at byte `offset`.
    bool decodeUtf8(std::string_view bytes, std::uint64_t offset, Text& out)
    {
        if (!pending.empty()) {
            // Complete the character held back, one byte at a time (at most three).
            const std::uint64_t begun = offset - pending.size();
            while (!bytes.empty() && detail::isIncompleteUtf8Sequence(pending)) {
                pending.push_back(bytes.front());
                bytes.remove_prefix(1);
                ++offset;
            }
            if (detail::isIncompleteUtf8Sequence(pending))
                return true; // the piece was too short to complete it
            if (!detail::appendUtf8AsUtf16(pending, out))
                return fail(begun);
            pending.clear();
        }
        const std::size_t valid = detail::appendUtf8PrefixAsUtf16(bytes, out);
        const std::string_view rest = bytes.substr(valid);
        if (rest.empty())
            return true;
        if (!detail::isIncompleteUtf8Sequence(rest))
            return fail(offset + valid);
        pending.assign(rest);
        return true;
    }

    // Notes a failure at the sequence beginning at stream offset `at`; false. In UTF-16 and UTF-32
    // every sequence begins at a unit: the converter, given a lone surrogate and the next unit in
    // two calls, counts one byte of that unit into what it took before the surrogate.
    bool fail(std::uint64_t at)
    {
        failed = true;
        failedAt = at - at % unitBytes;
        return false;
    }

    // Decodes `bytes`, which end at stream offset `end`, through the converter (with `flush`, the
    // last); false, noted, when a sequence does not decode.
    bool convert(std::string_view bytes, std::uint64_t end, Text& out, bool flush = false)
    {
        const detail::IcuConverter::Chunk chunk = converter->decodeSome(bytes, flush, out);
        if (!chunk.failed)
            return true;
        // Bytes the converter took in earlier calls and holds to read again come after the sequence.
        const std::uint64_t stop = end - bytes.size() + chunk.consumed;
        return fail(stop - std::min<std::uint64_t>(stop, chunk.invalidLength + converter->pendingBytes()));
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

// The length of the run of bytes that `bytes` begins with that are below 0x80 and their own
// character. When every byte from 0x20 to 0x7E is its own, only controls, 0x7F and bytes of 0x80
// and above are looked at one by one.
std::size_t ownLength(std::string_view bytes, const std::array<bool, 0x80>& own, bool printableOwn)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
#if PLISTABLE_SSE2
    if (printableOwn) {
        for (; n - i >= 16; i += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            // Signed: bytes of 0x80 and above are below 0x20 too.
            auto look = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(0x20)),
                                               _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F)))));
            for (; look != 0; look &= look - 1) {
                const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(look));
                if (p[at] >= 0x80 || !own[p[at]])
                    return at;
            }
        }
    }
#else
    (void)printableOwn;
#endif
    while (i < n && p[i] < 0x80 && own[p[i]])
        ++i;
    return i;
}

} // namespace

std::size_t TextDecoder::State::writeTabled(std::string_view bytes, std::string& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    // A stretch at a time into the room: no table entry is longer than three bytes per byte it
    // takes, and each is copied as four bytes.
    if (!tabledRoom)
        tabledRoom.reset(new char[3 * tabledStretch + 4]);
    while (i < n) {
        const std::size_t end = std::min(n, i + tabledStretch);
        char* const begin = tabledRoom.get();
        char* to = begin;
        auto write = [&to](const Utf8Char& c) {
            std::memcpy(to, c.bytes.data(), 4);
            to += c.size;
        };
        bool stopped = false;
        while (i < end && !stopped) {
            const unsigned char c = p[i];
            if (c < 0x80) {
                const std::size_t run = ownLength(bytes.substr(i, end - i), ownBytes, printableOwn);
                std::memcpy(to, p + i, run);
                to += run;
                i += run;
                if (run != 0)
                    continue;
                stopped = asciiChars[c].size == 0;
                if (!stopped) {
                    write(asciiChars[c]);
                    ++i;
                }
                continue;
            }
            const LeadByte& entry = lead(c);
            if (entry.alone.size != 0) {
                write(entry.alone);
                ++i;
            } else if (i + 1 < n && entry.pairs[p[i + 1]].size != 0) {
                write(entry.pairs[p[i + 1]]);
                i += 2; // may end one past the block: its room holds four bytes more
            } else {
                stopped = true;
            }
        }
        out.append(begin, to);
        if (stopped)
            break;
    }
    return i;
}

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
    state->learnEncoding();
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
    state->learnEncoding();
    return TextDecoder(std::move(state));
}

bool TextDecoder::decode(std::string_view bytes, Text& out)
{
    State& s = *_state;
    if (s.failed)
        return false;
    const std::uint64_t offset = _bytes;
    _bytes += bytes.size();
    if (!s.converter)
        return s.decodeUtf8(bytes, offset, out);
    if (s.eucJp)
        if (const std::optional<std::uint64_t> malformed = s.structure.findMalformed(bytes, offset))
            return s.fail(*malformed);
    if (!s.singleBytes)
        return s.convert(bytes, _bytes, out);
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
        if (!s.convert(bytes.substr(0, other), _bytes - bytes.size() + other, out))
            return false;
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
        const std::uint64_t begun = _bytes - s.pending.size();
        s.pending.clear();
        if (!s.cutOffAsReplacement)
            return s.fail(begun);
        out.push_back(u'\uFFFD');
        return true;
    }
    if (s.eucJp && !s.structure.atCharacterBoundary())
        return s.fail(_bytes - std::min<std::uint64_t>(_bytes, s.converter->pendingBytes()));
    return s.convert({}, _bytes, out, true);
}

bool TextDecoder::decodeToUtf8(std::string_view bytes, std::string& out)
{
    State& s = *_state;
    if (s.failed)
        return false;
    if (!s.leadBytes) {
        s.units.clear();
        return decode(bytes, s.units) && s.appendUnits(out);
    }
    const std::uint64_t offset = _bytes;
    _bytes += bytes.size();
    if (s.eucJp)
        if (const std::optional<std::uint64_t> malformed = s.structure.findMalformed(bytes, offset))
            return s.fail(*malformed);
    // Where no character is begun, the characters the tables hold are written from them; the
    // converter takes the rest of each stretch of bytes of 0x80 and above from the first byte they
    // do not hold, and the rest of a character it holds begun, as in decode().
    // A lone surrogate fails the piece only when the rest of it decodes, as in decode() followed
    // by writing its text.
    const std::size_t before = out.size();
    bool lone = false;
    while (!bytes.empty()) {
        if (s.converter->pendingBytes() == 0) {
            bytes.remove_prefix(s.writeTabled(bytes, out));
            if (bytes.empty())
                break;
        }
        const std::size_t other = 1 + otherLength(bytes.substr(1));
        s.units.clear();
        if (!s.convert(bytes.substr(0, other), _bytes - bytes.size() + other, s.units))
            return false;
        lone = lone || !detail::appendUtf16AsUtf8(s.units, out);
        bytes.remove_prefix(other);
    }
    if (lone) {
        out.resize(before);
        s.loneSurrogate = s.failed = true;
    }
    return !lone;
}

bool TextDecoder::finishToUtf8(std::string& out)
{
    State& s = *_state;
    s.units.clear();
    return finish(s.units) && s.appendUnits(out);
}

std::optional<std::uint64_t> TextDecoder::failureOffsetIn(std::string_view bytes, std::string_view name)
{
    std::optional<TextDecoder> decoder = named(name);
    Text text;
    if (!decoder || (decoder->decode(bytes, text) && decoder->finish(text)))
        return std::nullopt;
    return decoder->failureOffset();
}

std::optional<std::uint64_t> TextDecoder::failureOffset() const
{
    return _state->failedAt;
}

bool TextDecoder::heldLoneSurrogate() const
{
    return _state->loneSurrogate;
}

} // namespace plistable
