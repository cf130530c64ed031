#pragma once

#include "core/io/OutputStream.hpp"
#include "core/text/TextEncoder.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace plistable {

/// An output stream that takes UTF-8 and hands the same text, in another encoding, to the stream
/// it wraps. A character the encoding cannot hold fails the stream (illegal_byte_sequence) and is
/// kept in unencodable() with its line; nothing after it is written.
class TranscodingOutputStream : public OutputStream {
public:
    /// The character that stopped the stream, and where.
    struct Unencodable {
        std::uint64_t line = 0;   ///< 1-based line of the text written (counted by line feeds)
        char32_t character = 0;   ///< the code point
        std::string reason;       ///< "line 1: "日" (U+65E5) cannot be written in ISO-8859-1"
    };

    /// Writes into `sink` (opened with this stream, closed with it) through `encoder`.
    TranscodingOutputStream(std::shared_ptr<OutputStream> sink, TextEncoder encoder);

    /// The character that could not be encoded, or nothing.
    const std::optional<Unencodable>& unencodable() const { return _unencodable; }

    /// The encoder in use.
    const TextEncoder& encoder() const { return _encoder; }

protected:
    std::error_code openSink() override;
    std::ptrdiff_t writeSink(const char* bytes, std::size_t length) override;
    std::error_code closeSink() override;

private:
    bool pass(std::string_view utf8, bool last);

    std::shared_ptr<OutputStream> _sink;
    TextEncoder _encoder;
    std::string _pending;  // the start of a UTF-8 sequence cut off at the end of the last write
    std::string _encoded;  // reused for every piece
    std::uint64_t _line = 1;
    std::optional<Unencodable> _unencodable;
};

} // namespace plistable
