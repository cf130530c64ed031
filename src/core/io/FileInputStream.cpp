#include "core/io/FileInputStream.hpp"

#include "core/io/detail/FileDescriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace plistable {

FileInputStream::FileInputStream(std::string path) : _path(std::move(path)) {}

FileInputStream::FileInputStream(int fd, std::string name)
    : _path(std::move(name)), _fd(fd), _ownsDescriptor(false)
{
}

FileInputStream::~FileInputStream()
{
    close();
}

void FileInputStream::open()
{
    if (_buffer)
        return;
    if (_ownsDescriptor) {
        _fd = ::open(_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (_fd < 0) {
            fail(std::error_code(errno, std::generic_category()));
            return;
        }
        if (const std::error_code refused = detail::checkReadableKind(_fd)) {
            fail(refused);
            return;
        }
    }
    _buffer = std::make_unique<char[]>(bufferSize);
}

std::ptrdiff_t FileInputStream::read(char* buffer, std::size_t maxLength)
{
    if (!_buffer || _fd < 0 || error())
        return -1;
    if (_begin == _end && !_atEnd && maxLength > 0) {
        const ssize_t count = detail::readSome(_fd, _buffer.get(), bufferSize);
        if (count < 0) {
            fail(std::error_code(errno, std::generic_category()));
            return -1;
        }
        _begin = 0;
        _end = static_cast<std::size_t>(count);
        _atEnd = count == 0;
    }
    const std::size_t count = std::min(maxLength, _end - _begin);
    std::memcpy(buffer, _buffer.get() + _begin, count);
    _begin += count;
    return static_cast<std::ptrdiff_t>(count);
}

bool FileInputStream::hasBytesAvailable() const
{
    // Like a platform file stream, this stays true until a read has found the end.
    return _buffer && _fd >= 0 && !error() && (_begin < _end || !_atEnd);
}

void FileInputStream::close()
{
    if (_fd >= 0 && _ownsDescriptor)
        ::close(_fd);
    _fd = -1;
}

} // namespace plistable
