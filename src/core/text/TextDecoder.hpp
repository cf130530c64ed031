#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace plistable {

/// Decodes a text given in pieces, as decodeText() decodes it whole: the same characters, and a
/// failure exactly when decodeText() of all the pieces together would give nothing. A character
/// split between pieces is kept until the piece that completes it. Not thread-safe.
class TextDecoder {
public:
    /// A decoder for `encoding`, or nothing when no converter stands behind the identifier. With
    /// `cutOffAsReplacement` (UTF-8 only), a character cut off by the end of the input ends the
    /// text as one U+FFFD instead of failing, as decodeDetectedText() decodes it.
    static std::optional<TextDecoder> forEncoding(TextEncoding encoding, bool cutOffAsReplacement = false);

    /// As forEncoding(), for a name canonicalEncodingName() accepts; nothing for any other name.
    static std::optional<TextDecoder> named(std::string_view name);

    TextDecoder(TextDecoder&&) noexcept;
    TextDecoder& operator=(TextDecoder&&) noexcept;
    ~TextDecoder();

    /// Appends to `out` the characters that `bytes` completes. False, from the first piece holding a
    /// sequence that does not decode, and for every piece after it; `out` then holds the text decoded
    /// before that piece at least.
    bool decode(std::string_view bytes, Text& out);

    /// Ends the input. False when a character is cut off (and not replaced) or decoding failed before.
    bool finish(Text& out);

    /// Bytes given to decode() so far.
    std::uint64_t bytesDecoded() const { return _bytes; }

private:
    struct State;
    explicit TextDecoder(std::unique_ptr<State> state);

    std::unique_ptr<State> _state;
    std::uint64_t _bytes = 0;
};

} // namespace plistable
