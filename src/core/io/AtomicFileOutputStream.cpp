#include "core/io/AtomicFileOutputStream.hpp"

namespace plistable {

AtomicFileOutputStream::AtomicFileOutputStream(std::string targetPath, ExistingTarget existing, ByteStream stream)
    : _file(std::move(targetPath), existing, std::move(stream))
{
}

std::error_code AtomicFileOutputStream::openSink()
{
    return _file.error();
}

std::ptrdiff_t AtomicFileOutputStream::writeSink(const char* bytes, std::size_t length)
{
    _file.write(std::string_view(bytes, length));
    // The file buffers, so a failure may belong to bytes taken earlier; either way the stream has
    // failed from here on.
    if (const std::error_code failure = _file.error()) {
        reportFailure(failure);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(length);
}

std::error_code AtomicFileOutputStream::closeSink()
{
    // The temporary file is flushed and closed by commit(), which alone may rename it.
    return _file.error();
}

std::error_code AtomicFileOutputStream::commit()
{
    close();
    if (const std::error_code failure = error()) {
        _file.discard();
        return failure;
    }
    return _file.commit();
}

} // namespace plistable
