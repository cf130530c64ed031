#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
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

    /// As decode(), appending the characters to `out` as UTF-8: the UTF-8 form of what decode()
    /// gives for the same pieces, with the same failures. False also at a character UTF-8 cannot
    /// hold (a lone surrogate, which only a UTF-16 or similar converter can give); see
    /// heldLoneSurrogate(). On false, `out` holds at least what was written before that piece.
    bool decodeToUtf8(std::string_view bytes, std::string& out);

    /// As finish(), appending as UTF-8.
    bool finishToUtf8(std::string& out);

    /// Whether decodeToUtf8() or finishToUtf8() failed at a lone surrogate rather than at bytes
    /// that do not decode (decode() would have given that text).
    bool heldLoneSurrogate() const;

    /// After a failure at bytes that do not decode: the byte offset, from the first byte given, where
    /// the sequence that fails begins (a character cut off by the end: where it begins). Nothing
    /// before a failure, and after one at a lone surrogate.
    std::optional<std::uint64_t> failureOffset() const;

    /// For a message on a text decodeTextNamed() refused: where in `bytes` the first sequence that
    /// does not decode in the encoding `name` names begins (at the end: a character cut off).
    /// Nothing when they decode or the name names no encoding.
    static std::optional<std::uint64_t> failureOffsetIn(std::string_view bytes, std::string_view name);

    /// Bytes given to decode() and decodeToUtf8() so far.
    std::uint64_t bytesDecoded() const { return _bytes; }

private:
    struct State;
    explicit TextDecoder(std::unique_ptr<State> state);

    std::unique_ptr<State> _state;
    std::uint64_t _bytes = 0;
};

} // namespace plistable
