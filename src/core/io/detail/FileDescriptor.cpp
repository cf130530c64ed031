#include "core/io/detail/FileDescriptor.hpp"

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace plistable::detail {

FileDescriptor::~FileDescriptor()
{
    if (_fd >= 0)
        ::close(_fd);
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : _fd(other.release()) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (_fd >= 0)
            ::close(_fd);
        _fd = other.release();
    }
    return *this;
}

int FileDescriptor::release() noexcept
{
    return std::exchange(_fd, -1);
}

ssize_t readSome(int fd, void* buffer, std::size_t size, const std::atomic<bool>* stop)
{
    while (true) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
        // A signal handler that asks to stop sets the flag before read() returns EINTR.
        if (stop && stop->load()) {
            errno = ECANCELED;
            return -1;
        }
    }
}

std::error_code writeAll(int fd, const char* bytes, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::error_code(errno, std::generic_category());
        if (n == 0)
            return std::make_error_code(std::errc::io_error);
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return {};
}

} // namespace plistable::detail
