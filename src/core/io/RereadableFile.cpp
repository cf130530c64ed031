#include "core/io/RereadableFile.hpp"

#include "core/io/FileContents.hpp"
#include "core/io/detail/BackgroundReader.hpp"
#include "core/io/detail/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace plistable {

RereadableFile RereadableFile::open(const std::string& path, const std::atomic<bool>* stop)
{
    RereadableFile file;
    file._stop = stop;
    detail::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        file._error = std::error_code(errno, std::generic_category());
        return file;
    }
    if ((file._error = detail::checkReadableKind(fd.get())))
        return file;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        // A pipe gives its bytes once: they are kept. They are read through this opening: a writer
        // may have paired with it alone, and a second opening would wait for another writer.
        FileContents contents = readDescriptorContents(fd.get(), stop);
        if (contents.error) {
            file._error = contents.error;
            return file;
        }
        return fromBytes(std::move(contents.bytes));
    }
    file._size = static_cast<std::uint64_t>(info.st_size);
    file._piece = std::make_unique<char[]>(pieceSize);
    file._fd = fd.release();
    return file;
}

RereadableFile RereadableFile::fromBytes(std::string bytes)
{
    RereadableFile file;
    file._inMemory = true;
    file._size = bytes.size();
    file._memory = std::move(bytes);
    return file;
}

RereadableFile::RereadableFile(RereadableFile&& other) noexcept
    : _fd(std::exchange(other._fd, -1)),
      _stop(other._stop),
      _memory(std::move(other._memory)),
      _inMemory(other._inMemory),
      _piece(std::move(other._piece)),
      _ahead(std::move(other._ahead)),
      _aheadPiece(std::move(other._aheadPiece)),
      _size(other._size),
      _position(other._position),
      _error(other._error)
{
}

RereadableFile& RereadableFile::operator=(RereadableFile&& other) noexcept
{
    if (this != &other) {
        _ahead.reset(); // before its descriptor is closed
        if (_fd >= 0)
            ::close(_fd);
        _fd = std::exchange(other._fd, -1);
        _stop = other._stop;
        _memory = std::move(other._memory);
        _inMemory = other._inMemory;
        _piece = std::move(other._piece);
        _ahead = std::move(other._ahead);
        _aheadPiece = std::move(other._aheadPiece);
        _size = other._size;
        _position = other._position;
        _error = other._error;
    }
    return *this;
}

RereadableFile::~RereadableFile()
{
    _ahead.reset(); // before its descriptor is closed
    if (_fd >= 0)
        ::close(_fd);
}

void RereadableFile::rewind()
{
    _position = 0;
    _ahead.reset(); // it read ahead of the new position
    if (_fd >= 0 && ::lseek(_fd, 0, SEEK_SET) != 0)
        _error = std::error_code(errno, std::generic_category());
}

std::string_view RereadableFile::next()
{
    if (_error)
        return {};
    if (_inMemory) {
        const std::string_view rest = std::string_view(_memory).substr(static_cast<std::size_t>(_position));
        const std::string_view piece = rest.substr(0, pieceSize);
        _position += piece.size();
        return piece;
    }
    if (_fd < 0)
        return {};
    if (_stop && _stop->load()) {
        _error = std::make_error_code(std::errc::operation_canceled);
        return {};
    }
    if (_position == 0 && _size > pieceSize && !_ahead)
        _ahead = std::make_unique<detail::BackgroundReader>(_fd, pieceSize, 2);
    const char* bytes = _piece.get();
    ssize_t n = 0;
    if (_ahead) {
        n = _ahead->next(_aheadPiece, _stop);
        bytes = _aheadPiece.data();
    } else {
        n = detail::readSome(_fd, _piece.get(), pieceSize, _stop);
    }
    if (n < 0) {
        _error = std::error_code(errno, std::generic_category());
        return {};
    }
    _position += static_cast<std::uint64_t>(n);
    return std::string_view(bytes, static_cast<std::size_t>(n));
}

} // namespace plistable
