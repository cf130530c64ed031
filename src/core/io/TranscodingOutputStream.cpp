#include "core/io/TranscodingOutputStream.hpp"

#include <algorithm>

namespace plistable {
namespace {

// Bytes at the end of `utf8` that begin a sequence not yet complete (0 to 3).
std::size_t incompleteTail(std::string_view utf8)
{
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, utf8.size()); ++back) {
        const auto c = static_cast<unsigned char>(utf8[utf8.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: look further back
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

} // namespace

TranscodingOutputStream::TranscodingOutputStream(std::shared_ptr<OutputStream> sink, TextEncoder encoder)
    : _sink(std::move(sink)), _encoder(std::move(encoder))
{
}

std::error_code TranscodingOutputStream::openSink()
{
    _sink->open();
    return _sink->error();
}

bool TranscodingOutputStream::pass(std::string_view utf8, bool last)
{
    const Text text = fromUtf8Lossy(utf8);
    _encoded.clear();
    const std::optional<std::size_t> stop = _encoder.encode(text, _encoded, last);
    if (stop) {
        const std::size_t at = std::min(*stop, text.size());
        Unencodable failure;
        failure.line = _line + static_cast<std::uint64_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), u'\n'));
        char32_t c = at < text.size() ? text[at] : 0;
        if (c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[at + 1] - 0xDC00);
        failure.character = c;
        failure.reason = "line " + std::to_string(failure.line) + ": " + _encoder.describeUnencodable(c);
        _unencodable = std::move(failure);
        reportFailure(std::make_error_code(std::errc::illegal_byte_sequence));
        return false;
    }
    _line += static_cast<std::uint64_t>(std::count(text.begin(), text.end(), u'\n'));
    std::string_view bytes = _encoded;
    while (!bytes.empty()) {
        const std::ptrdiff_t written = _sink->write(bytes.data(), bytes.size());
        if (written <= 0) {
            reportFailure(_sink->error() ? _sink->error() : std::make_error_code(std::errc::io_error));
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::ptrdiff_t TranscodingOutputStream::writeSink(const char* bytes, std::size_t length)
{
    _pending.append(bytes, length);
    const std::size_t tail = incompleteTail(_pending);
    const std::string_view whole(_pending.data(), _pending.size() - tail);
    if (!pass(whole, false))
        return -1;
    _pending.erase(0, whole.size());
    return static_cast<std::ptrdiff_t>(length);
}

std::error_code TranscodingOutputStream::closeSink()
{
    // The end of the text: a stateful encoding returns to its initial state here.
    const bool passed = pass(_pending, true);
    _pending.clear();
    _sink->close();
    if (!passed)
        return error();
    return _sink->error();
}

} // namespace plistable
