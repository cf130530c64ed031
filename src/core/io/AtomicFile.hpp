#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace plistable {

namespace detail {
class BackgroundWriter;
}

/// What commit() does when its target exists.
enum class ExistingTarget {
    Replace, ///< the new file takes its place
    Keep,    ///< commit() fails with file_exists and the target stays; decided atomically, so of
             ///< several writers of one absent target exactly one succeeds
};

/// Takes bytes in order as they are written; returns {} or why they could not be written.
using ByteStream = std::function<std::error_code(std::string_view)>;

/// Writes a file so that its target is only ever replaced by a complete new file: the bytes go to
/// a temporary file in the target's folder, which commit() renames over the target. Until then
/// the target (or its absence) is untouched; a symbolic link at the target is replaced, never
/// written through. Only a regular file, or a symbolic link that leads to one or to nothing, is
/// replaced: commit() refuses a folder (is_a_directory) and any other kind of file
/// (ReadError::NotARegularFile), also through a link. The temporary file is locked while it is written, and stale temporary files of
/// the same target that no writer holds locked (killed writers left them) are removed. Failures
/// are remembered, never thrown. Large files are written by a helper thread while the caller goes
/// on producing; the caller still sees one ordered stream of bytes.
///
/// Given a ByteStream, the bytes go out through it as they are written (in pieces of the buffer's
/// size) instead: no file is made or replaced, `targetPath` only names the output, and what went
/// out stays out when the writer fails or is discarded later.
class AtomicFile {
public:
    /// Creates the temporary file (with `stream`: none). On failure error() says why and every
    /// later call does nothing.
    explicit AtomicFile(std::string targetPath, ExistingTarget existing = ExistingTarget::Replace,
                        ByteStream stream = {});
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Appends bytes (buffered). After a failure nothing more is written.
    void write(std::string_view bytes);

    /// For writers that produce their bytes in place: room for at most `maxBytes` bytes after those
    /// buffered, where the caller writes them before endWrite() appends the first `bytes` of them.
    /// The room is valid until the next call on this file; it is always given, also after a
    /// failure (what is written there is then dropped). Bytes written without endWrite() are not
    /// part of the file.
    char* beginWrite(std::size_t maxBytes);
    void endWrite(std::size_t bytes);

    /// Flushes, syncs and closes the temporary file, then renames it over the target (with
    /// ExistingTarget::Keep: moves it into place only where nothing is).
    /// Returns the first failure since construction (then the temporary file is removed), or {}.
    std::error_code commit();

    /// Removes the temporary file; the target stays as it was.
    void discard();

    /// The first failure so far, or {}. While a large file is being written, a failure of the last
    /// bytes handed over may only show after commit().
    std::error_code error() const;

    const std::string& targetPath() const { return _targetPath; }
    const std::string& temporaryPath() const { return _temporaryPath; }

private:
    void flush();
    // Grows the buffer towards its limit to give room for `bytes` more; false when it cannot.
    bool grow(std::size_t bytes);
    void finishBackground();
    void writeThrough(std::string_view bytes);
    void fail(int errnoValue);
    void releaseLock();
    bool failed() const;
    // Moves the finished temporary file into place as _existing says, if the target's kind allows.
    std::error_code moveIntoPlace();
    bool isOpen() const { return _fd >= 0 || _streaming; }

    std::string _targetPath;
    std::string _temporaryPath;
    std::string _buffer;             // its first _used bytes are pending; sized to give room
    std::size_t _used = 0;
    int _fd = -1;
    int _lockFd = -1;                // holds the temporary file's lock until it is renamed or removed
    std::size_t _written = 0;        // bytes in the temporary file so far
    std::size_t _writeBackStart = 0; // bytes before this were handed to write-back already
    bool _committed = false;
    ExistingTarget _existing = ExistingTarget::Replace;
    std::error_code _error;                               // written by the helper thread while it runs
    std::unique_ptr<detail::BackgroundWriter> _background; // set once the file grows large
    ByteStream _stream;                                   // set: bytes go out through it, no file is made
    bool _streaming = false;                              // _stream takes bytes until commit or discard
};

} // namespace plistable
