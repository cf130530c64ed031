#include "core/text/TextDecoder.hpp"

#include "core/text/detail/EucJpStructure.hpp"
#include "core/text/detail/IcuConverter.hpp"
#include "core/text/detail/Utf8.hpp"

#include <string>
#include <utility>

namespace plistable {

// UTF-8 is decoded by our own routines (as decodeText() does); every other encoding by ICU, with
// EUC-JP's byte structure checked first, as decodeText() checks it.
struct TextDecoder::State {
    std::optional<detail::IcuConverter> converter; // empty for UTF-8
    bool eucJp = false;
    detail::EucJpStructure structure;
    bool cutOffAsReplacement = false;
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
    s.failed = s.converter->decodeSome(bytes, false, out).failed;
    return !s.failed;
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
