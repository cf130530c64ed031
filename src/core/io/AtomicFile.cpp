#include "core/io/AtomicFile.hpp"

#include "core/io/PathUtilities.hpp"
#include "core/io/ReadError.hpp"
#include "core/io/detail/BackgroundWriter.hpp"
#include "core/io/detail/FileDescriptor.hpp"
#include "core/io/detail/StaleTemporaries.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plistable {
namespace {

// Half a megabyte a write: large enough that writes cost little each, small enough that the few
// buffers in use stay in memory already touched.
constexpr std::size_t bufferLimit = 1 << 19;
// Output beyond this is written by a helper thread; smaller files never start one.
constexpr std::size_t backgroundThreshold = 4 << 20;

// Mode bits a newly created file would get (0666 less the umask), read once at start-up while the
// process is still single-threaded.
mode_t newFileMode()
{
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}
[[maybe_unused]] const mode_t initialMode = newFileMode();

} // namespace

AtomicFile::AtomicFile(std::string targetPath, ExistingTarget existingTarget, ByteStream stream)
    : _targetPath(std::move(targetPath)), _existing(existingTarget), _stream(std::move(stream))
{
    if (_stream) {
        _streaming = true;
        return;
    }
    const std::string folder = stringByDeletingLastPathComponent(_targetPath);
    // A dot name keeps the temporary file out of sight; the suffix keeps it from ever being taken
    // for a finished output. (Built by appending: GCC 12 misreports assignments here as overlapping.)
    _temporaryPath.append(folder.empty() ? std::string_view(".") : std::string_view(folder));
    if (_temporaryPath.back() != '/')
        _temporaryPath.push_back('/');
    const std::size_t folderLength = _temporaryPath.size();
    // The name must fit NAME_MAX as the target's does: a long stem is shortened (at a character
    // boundary of UTF-8 names) and the dot, the recognisable suffix and the random part kept.
    constexpr std::string_view suffix = ".plistable-XXXXXX";
    constexpr std::size_t nameMax = 255;
    std::string stem = lastPathComponent(_targetPath);
    if (stem.size() > nameMax - 1 - suffix.size()) {
        std::size_t length = nameMax - 1 - suffix.size();
        while (length > 0 && (static_cast<unsigned char>(stem[length]) & 0xC0) == 0x80)
            --length;
        stem.resize(length);
    }
    _temporaryPath.append(".").append(stem).append(suffix);
    _fd = ::mkstemp(_temporaryPath.data());
    if (_fd < 0) {
        _temporaryPath.clear();
        fail(errno);
        return;
    }
    // The lock tells sweeps that this writer is alive, however long it takes. It is held through a
    // second descriptor of the same open file, so that it lasts from closing the file to the rename.
    ::flock(_fd, LOCK_EX | LOCK_NB);
    _lockFd = ::fcntl(_fd, F_DUPFD_CLOEXEC, 0);
    // Temporary files that killed writers of this target left are removed; the folder is read once a run.
    const std::string prefix = _temporaryPath.substr(folderLength, _temporaryPath.size() - 6 - folderLength);
    detail::removeStaleTemporaries(_temporaryPath.substr(0, folderLength), prefix);
    // Keep the mode of the file we replace, else give what a plain create would.
    struct stat existing {};
    const mode_t mode = ::stat(_targetPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? (existing.st_mode & 07777)
                            : newFileMode();
    ::fchmod(_fd, mode);
}

AtomicFile::~AtomicFile()
{
    if (!_committed)
        discard();
}

void AtomicFile::fail(int errnoValue)
{
    if (!_error)
        _error = std::error_code(errnoValue, std::generic_category());
}

bool AtomicFile::failed() const
{
    return _background ? _background->failed() : static_cast<bool>(_error);
}

std::error_code AtomicFile::error() const
{
    return _background ? std::error_code() : _error;
}

void AtomicFile::write(std::string_view bytes)
{
    if (!isOpen() || failed())
        return;
    while (_used + bytes.size() > _buffer.size()) {
        if (grow(bytes.size()))
            break;
        const std::size_t room = _buffer.size() - _used;
        bytes.copy(_buffer.data() + _used, room);
        _used += room;
        bytes.remove_prefix(room);
        flush();
    }
    bytes.copy(_buffer.data() + _used, bytes.size());
    _used += bytes.size();
}

bool AtomicFile::grow(std::size_t bytes)
{
    if (_buffer.size() >= bufferLimit)
        return false;
    // Small files never touch a whole buffer's memory.
    constexpr std::size_t first = 4096;
    _buffer.resize(std::min(bufferLimit, std::max({_used + bytes, 2 * _buffer.size(), first})));
    return _used + bytes <= _buffer.size();
}

char* AtomicFile::beginWrite(std::size_t maxBytes)
{
    if (!isOpen() || failed())
        _used = 0; // nothing more is written: the room only has to be there
    if (_used + maxBytes > _buffer.size() && !grow(maxBytes)) {
        flush();
        if (maxBytes > _buffer.size())
            _buffer.resize(maxBytes); // a piece larger than the buffer: the buffer grows to hold it
    }
    return _buffer.data() + _used;
}

void AtomicFile::endWrite(std::size_t bytes)
{
    _used += bytes;
}

void AtomicFile::flush()
{
    if (_used == 0)
        return;
    // A stream takes each piece at once, on this thread: a caller's stream need not be thread-safe.
    if (_stream || (!_background && _written + _used < backgroundThreshold)) {
        writeThrough(std::string_view(_buffer.data(), _used));
        _used = 0;
        return;
    }
    if (!_background) {
        // From here on only the helper thread touches the descriptor, the counts and _error.
        _background = std::make_unique<detail::BackgroundWriter>([this](std::string_view chunk) {
            writeThrough(chunk);
            return !_error;
        });
    }
    _buffer.resize(_used);
    _buffer = _background->push(std::move(_buffer));
    // A recycled buffer comes back with its old size: only a new one is filled to the limit.
    _buffer.resize(bufferLimit);
    _used = 0;
}

void AtomicFile::finishBackground()
{
    if (_background) {
        _background->finish();
        _background.reset();
    }
}

void AtomicFile::writeThrough(std::string_view bytes)
{
    if (_error)
        return;
    if (_stream) {
        if (const std::error_code failure = _stream(bytes))
            _error = failure;
        else
            _written += bytes.size();
        return;
    }
    if (const std::error_code failure = detail::writeAll(_fd, bytes.data(), bytes.size())) {
        fail(failure.value());
        return;
    }
    _written += bytes.size();
    // Start writing large files back while we go, so that the sync at commit waits only for the
    // tail instead of the whole file. Failures show at that sync.
    constexpr std::size_t writeBackStep = 8 << 20;
    if (_written - _writeBackStart >= writeBackStep) {
        ::sync_file_range(_fd, static_cast<off_t>(_writeBackStart), static_cast<off_t>(_written - _writeBackStart),
                          SYNC_FILE_RANGE_WRITE);
        _writeBackStart = _written;
    }
}

std::error_code AtomicFile::commit()
{
    if (_streaming) {
        if (!_error)
            flush();
        _streaming = false;
        _committed = !_error;
        _used = 0;
        return _error;
    }
    if (_fd >= 0 && !failed()) {
        flush();
        finishBackground();
        if (!_error && ::fsync(_fd) != 0)
            fail(errno);
        if (::close(_fd) != 0)
            fail(errno);
        _fd = -1;
        if (!_error)
            if (const std::error_code failure = moveIntoPlace())
                _error = failure;
        if (!_error)
            _committed = true;
    }
    if (!_committed)
        discard();
    releaseLock();
    return _error;
}

std::error_code AtomicFile::moveIntoPlace()
{
    auto lastError = [] { return std::error_code(errno, std::generic_category()); };
    // Only a regular file (or nothing) is replaced: a rename would turn a device, a fifo or a socket
    // into a regular file, and a link to a folder into a file in place of the link.
    struct stat target {};
    if (::lstat(_targetPath.c_str(), &target) == 0 && S_ISLNK(target.st_mode) && ::stat(_targetPath.c_str(), &target) != 0)
        target.st_mode = S_IFREG; // a link that leads nowhere is replaced as a file is
    if (target.st_mode != 0 && S_ISDIR(target.st_mode))
        return std::make_error_code(std::errc::is_a_directory);
    if (target.st_mode != 0 && !S_ISREG(target.st_mode))
        return make_error_code(ReadError::NotARegularFile);
    if (_existing == ExistingTarget::Replace)
        return ::rename(_temporaryPath.c_str(), _targetPath.c_str()) == 0 ? std::error_code() : lastError();
    // No clobbering, decided by the file system so that of concurrent writers only one wins: the
    // kernel's no-replace rename, else a hard link (which fails on an existing name), else -- on file
    // systems with neither -- a look just before the rename.
    if (::renameat2(AT_FDCWD, _temporaryPath.c_str(), AT_FDCWD, _targetPath.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return lastError();
    if (::link(_temporaryPath.c_str(), _targetPath.c_str()) == 0) {
        ::unlink(_temporaryPath.c_str());
        return {};
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return lastError();
    if (struct stat existing {}; ::lstat(_targetPath.c_str(), &existing) == 0)
        return std::make_error_code(std::errc::file_exists);
    return ::rename(_temporaryPath.c_str(), _targetPath.c_str()) == 0 ? std::error_code() : lastError();
}

void AtomicFile::discard()
{
    _streaming = false; // what went out stays out; the rest is dropped
    finishBackground();
    if (_fd >= 0) {
        ::close(_fd);
        _fd = -1;
    }
    if (!_temporaryPath.empty() && !_committed) {
        ::unlink(_temporaryPath.c_str());
        _temporaryPath.clear();
    }
    releaseLock();
    _used = 0;
}

void AtomicFile::releaseLock()
{
    if (_lockFd >= 0) {
        ::close(_lockFd);
        _lockFd = -1;
    }
}

} // namespace plistable
