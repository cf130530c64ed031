#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct UConverter;

namespace plistable::detail {

/// One ICU converter set to stop at the first invalid, unassigned or cut-off sequence in either
/// direction: nothing is ever substituted. Not thread-safe; make one per user.
class IcuConverter {
public:
    /// Opens the converter named `name` (an ICU name or alias); nothing when ICU has none.
    static std::optional<IcuConverter> open(const char* name);

    IcuConverter(IcuConverter&&) noexcept = default;
    IcuConverter& operator=(IcuConverter&&) noexcept = default;
    ~IcuConverter();

    /// Decodes all of `bytes`; nothing when any sequence is invalid or cut off at the end.
    std::optional<std::u16string> decodeAll(std::string_view bytes);

    /// Encodes all of `text`; nothing when any character cannot be represented.
    std::optional<std::string> encodeAll(std::u16string_view text);

    /// Outcome of decodeSome().
    struct Chunk {
        std::size_t consumed = 0; ///< bytes taken: decoded, or held inside the converter as the start of a character
        bool failed = false;      ///< an invalid sequence ends at bytes[consumed - 1]
        std::size_t invalidLength = 0; ///< with `failed`: bytes in that sequence (some may come from earlier calls)
    };

    /// Streaming decode: appends to `out` every character that `bytes` completes, keeping the bytes
    /// of a character cut off at the end inside the converter for the next call. With `flush`, the
    /// input ends here and a cut-off character is a failure.
    Chunk decodeSome(std::string_view bytes, bool flush, std::u16string& out);

    /// Streaming encode: appends to `out` the bytes of `text`, keeping the state of a stateful
    /// encoding (and a high surrogate cut off at the end) for the next call; `flush` ends the
    /// text. Stops at the first character the encoding cannot hold: nothing when every character
    /// was written, else that character's offset in `text` (UTF-16 units), with the bytes of the
    /// characters before it appended.
    std::optional<std::size_t> encodeSome(std::u16string_view text, bool flush, std::string& out);

    /// The characters that the bytes below 0x80 stand for wherever no character is begun, by byte:
    /// there when the converter has no shift states (single- or multi-byte) and decodes each such
    /// byte alone to one UTF-16 unit (ASCII itself in most; IBM's Shift_JIS swaps three controls).
    /// Resets the converter.
    std::optional<std::array<char16_t, 0x80>> singleByteRange();
    /// Bytes of a character begun but not completed, held for the next decodeSome().
    std::size_t pendingBytes() const;
    /// Forgets any partial character and any state of a stateful encoding.
    void reset();

    /// ICU's canonical name of this converter.
    const char* name() const;

private:
    struct Close {
        void operator()(UConverter* converter) const noexcept;
    };
    explicit IcuConverter(UConverter* converter) : _converter(converter) {}

    std::unique_ptr<UConverter, Close> _converter;
};

/// The ICU converter name behind a text encoding identifier (see TextEncoding.hpp), or nullptr when
/// no converter stands behind it. Defined beside the identifier table in TextEncoding.cpp.
const char* icuConverterName(std::uint64_t encoding);

} // namespace plistable::detail
