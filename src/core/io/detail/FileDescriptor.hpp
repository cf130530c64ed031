#pragma once

#include <atomic>
#include <cstddef>
#include <sys/types.h>
#include <system_error>

namespace plistable::detail {

/// Owns a POSIX file descriptor and closes it on destruction; move-only. A negative value means "none".
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : _fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    /// The descriptor, or a negative value when none is held. Ownership stays here.
    int get() const noexcept { return _fd; }
    /// True when a descriptor is held.
    bool valid() const noexcept { return _fd >= 0; }
    /// Gives up ownership without closing and returns the descriptor.
    int release() noexcept;

private:
    int _fd = -1;
};

/// read() retried on interruption: bytes read, 0 at the end, -1 on an error (errno set). When an
/// interrupted read finds `stop` reading true it is not retried: -1 with errno ECANCELED.
ssize_t readSome(int fd, void* buffer, std::size_t size, const std::atomic<bool>* stop = nullptr);

/// Writes every byte, retrying on interruption and short writes. Returns errno's error, or
/// io_error when the descriptor accepts nothing, so that the loop cannot spin for ever.
std::error_code writeAll(int fd, const char* bytes, std::size_t length);

} // namespace plistable::detail
