#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace plistable {

/// Writes a file so that its target is only ever replaced by a complete new file: the bytes go to
/// a temporary file in the target's folder, which commit() renames over the target. Until then
/// the target (or its absence) is untouched; a symbolic link at the target is replaced, never
/// written through. Failures are remembered, never thrown.
class AtomicFile {
public:
    /// Creates the temporary file. On failure error() says why and every later call does nothing.
    explicit AtomicFile(std::string targetPath);
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Appends bytes (buffered). After a failure nothing more is written.
    void write(std::string_view bytes);

    /// Flushes, syncs and closes the temporary file, then renames it over the target.
    /// Returns the first failure since construction (then the temporary file is removed), or {}.
    std::error_code commit();

    /// Removes the temporary file; the target stays as it was.
    void discard();

    /// The first failure so far, or {}.
    std::error_code error() const { return _error; }

    const std::string& targetPath() const { return _targetPath; }
    const std::string& temporaryPath() const { return _temporaryPath; }

private:
    void flush();
    void fail(int errnoValue);

    std::string _targetPath;
    std::string _temporaryPath;
    std::string _buffer;
    int _fd = -1;
    bool _committed = false;
    std::error_code _error;
};

/// The bytes of a file, or the reason it could not be read.
struct FileContents {
    std::string bytes;
    std::error_code error; ///< {} when `bytes` holds the whole file
};

/// Reads a whole file (a regular file, a pipe or a device) into memory.
FileContents readFileContents(const std::string& path);

} // namespace plistable
