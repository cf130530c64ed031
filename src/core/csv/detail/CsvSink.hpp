#pragma once

#include "core/csv/CHCSVWriter.hpp"
#include "core/io/OutputStream.hpp"
#include "core/io/TranscodingOutputStream.hpp"

#include <memory>
#include <optional>
#include <string>

namespace plistable::detail {

/// A CSV writer over an output stream in one dialect: the text re-encoded when another encoding
/// than UTF-8 is named, a byte-order mark first when asked and the encoding is a Unicode one, lines
/// written whole into the stream's buffer.
class CsvSink {
public:
    struct Dialect {
        char16_t delimiter = u',';
        bool crlf = false;
        bool byteOrderMark = false;
        const std::optional<std::string>* encodingName = nullptr; ///< none: UTF-8
    };

    /// The sink over `target`; nothing when the encoding name opens no converter, and then
    /// `problem` reads "unknown output encoding: NAME".
    static std::optional<CsvSink> open(std::shared_ptr<OutputStream> target, const Dialect& dialect,
                                       std::string& problem);

    CHCSVWriter& writer() { return *_writer; }
    /// The re-encoding stream (what it could not encode, the Windows forms it wrote); null for UTF-8.
    const TranscodingOutputStream* transcoder() const { return _transcoder.get(); }

private:
    std::shared_ptr<TranscodingOutputStream> _transcoder;
    std::unique_ptr<CHCSVWriter> _writer;
};

} // namespace plistable::detail
