#include "core/io/FileOutputStream.hpp"

#include "core/io/detail/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace plistable {
namespace {

// Large enough that a writer's many small pieces cost a copy each, not a system call each.
constexpr std::size_t bufferLimit = 1 << 16;

std::error_code lastError()
{
    return std::error_code(errno, std::generic_category());
}

} // namespace

FileOutputStream::FileOutputStream(std::string path) : _path(std::move(path)) {}

FileOutputStream::~FileOutputStream()
{
    close();
}

std::error_code FileOutputStream::openSink()
{
    _fd = ::open(_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (_fd < 0)
        return lastError();
    _buffer.reserve(bufferLimit);
    return {};
}

std::error_code FileOutputStream::writeAll(const char* bytes, std::size_t length)
{
    return detail::writeAll(_fd, bytes, length);
}

std::error_code FileOutputStream::flush()
{
    const std::error_code failure = writeAll(_buffer.data(), _buffer.size());
    _buffer.clear();
    return failure;
}

std::ptrdiff_t FileOutputStream::writeSink(const char* bytes, std::size_t length)
{
    if (_buffer.size() + length > bufferLimit) {
        std::error_code failure = flush();
        // Pieces at least as large as the buffer go straight to the file.
        if (!failure && length >= bufferLimit)
            failure = writeAll(bytes, length);
        if (failure) {
            reportFailure(failure);
            return -1;
        }
        if (length >= bufferLimit)
            return static_cast<std::ptrdiff_t>(length);
    }
    _buffer.append(bytes, length);
    return static_cast<std::ptrdiff_t>(length);
}

std::error_code FileOutputStream::closeSink()
{
    if (_fd < 0)
        return {};
    std::error_code failure = flush();
    if (::close(_fd) != 0 && !failure)
        failure = lastError();
    _fd = -1;
    return failure;
}

} // namespace plistable
