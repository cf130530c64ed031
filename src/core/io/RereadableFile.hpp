#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace plistable {

namespace detail {
class BackgroundReader;
}

/// A file's bytes, read in pieces from the start as often as asked, so that a file of any size can
/// be read more than once without being held whole: a regular file through a buffer of its own (the
/// next pieces of a larger file read ahead on a thread of their own while this one is used), or
/// bytes held in memory (standard input, a pipe, which cannot be read twice).
class RereadableFile {
public:
    /// Opens `path`. A regular file is read in pieces; a pipe is read whole, as readFileContents()
    /// reads it (with its errors). A file that cannot be opened or read, a folder or another special
    /// file gives error() before anything is read. `stop` as for readFileContents().
    static RereadableFile open(const std::string& path, const std::atomic<bool>* stop = nullptr);

    /// Bytes already in memory.
    static RereadableFile fromBytes(std::string bytes);

    RereadableFile(RereadableFile&&) noexcept;
    RereadableFile& operator=(RereadableFile&&) noexcept;
    ~RereadableFile();

    /// Why the file could not be read (open() or a later next()); {} while all is well.
    std::error_code error() const { return _error; }

    /// The number of bytes, as far as known when opened (a regular file may still change).
    std::uint64_t size() const { return _size; }

    /// Reading starts again at the first byte.
    void rewind();

    /// The next piece, valid until the next call; empty at the end, and when reading fails or is
    /// stopped (then error() tells why: operation_canceled when stopped).
    std::string_view next();

    /// Bytes handed out since the last rewind().
    std::uint64_t position() const { return _position; }

private:
    RereadableFile() = default;

    static constexpr std::size_t pieceSize = std::size_t(1) << 20;
    int _fd = -1;
    const std::atomic<bool>* _stop = nullptr;
    std::string _memory;            // the bytes, when held in memory
    bool _inMemory = false;
    std::unique_ptr<char[]> _piece; // the buffer of a file read in pieces
    std::unique_ptr<detail::BackgroundReader> _ahead; // reads a file of more than one piece ahead
    std::string _aheadPiece;                          // the piece last taken from _ahead
    std::uint64_t _size = 0;
    std::uint64_t _position = 0;
    std::error_code _error;
};

} // namespace plistable
