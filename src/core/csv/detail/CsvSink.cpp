#include "core/csv/detail/CsvSink.hpp"

#include "core/text/TextEncoder.hpp"

namespace plistable::detail {

std::optional<CsvSink> CsvSink::open(std::shared_ptr<OutputStream> target, const Dialect& dialect,
                                     std::string& problem)
{
    CsvSink sink;
    std::shared_ptr<OutputStream> out = std::move(target);
    if (dialect.encodingName && *dialect.encodingName) {
        std::optional<TextEncoder> encoder = TextEncoder::open(**dialect.encodingName);
        if (!encoder) {
            problem = "unknown output encoding: " + **dialect.encodingName;
            return std::nullopt;
        }
        if (encoder->canonicalName() != "UTF-8") {
            sink._transcoder = std::make_shared<TranscodingOutputStream>(out, std::move(*encoder));
            out = sink._transcoder;
        }
    }
    if (dialect.byteOrderMark && (!sink._transcoder || sink._transcoder->encoder().takesByteOrderMark())) {
        // Opened here so that the mark goes first; the writer takes the open stream as it is.
        out->open();
        out->write("\xEF\xBB\xBF", 3);
    }
    sink._writer = std::make_unique<CHCSVWriter>(out, NSUTF8StringEncoding, dialect.delimiter);
    if (dialect.crlf)
        sink._writer->setLineEnd(u"\r\n");
    sink._writer->setBuffersLines(true); // one write per line into the stream's buffer
    return sink;
}

} // namespace plistable::detail
