#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace plistable::detail {

/// Follows EUC-JP's byte structure through a stream given in pieces: single bytes below 0x80; pairs
/// in 0xA1-0xFE; 0x8E before a byte in 0xA1-0xDF; 0x8F before two bytes in 0xA1-0xFE. ICU's
/// converter also takes the C1 control bytes 0x80-0x8D and 0x90-0xA0 on their own, which EUC-JP
/// text never holds; callers refuse what this finds before ICU judges which pairs are assigned.
class EucJpStructure {
public:
    /// The stream offset where the first character that EUC-JP never holds begins, in `bytes`
    /// (which continue the stream at offset `offset`) or in a character they continue; nothing
    /// when everything so far is well-formed.
    std::optional<std::uint64_t> findMalformed(std::string_view bytes, std::uint64_t offset);

    /// True when no character is cut off: the input may end here.
    bool atCharacterBoundary() const { return _pending == 0; }

    /// True when all of `bytes` is well-formed EUC-JP structure, ending on a character boundary.
    static bool isWellFormed(std::string_view bytes);

private:
    std::uint64_t _characterStart = 0; // stream offset of the character in progress
    unsigned _pending = 0;             // bytes that character still needs
    unsigned char _trailHigh = 0xFE;   // highest byte its next byte may be
};

} // namespace plistable::detail
