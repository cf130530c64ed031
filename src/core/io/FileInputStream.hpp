#pragma once

#include "core/io/InputStream.hpp"

#include <memory>
#include <string>

namespace plistable {

/// An input stream over a file, read through a buffer of its own (64 KiB) so that small reads cost
/// a copy rather than a system call. A file that cannot be opened or read is remembered in error(),
/// as is a named file that is neither a regular file nor a pipe (a device, a socket, a folder).
class FileInputStream : public InputStream {
public:
    /// Reads the file at `path` once open() has been called.
    explicit FileInputStream(std::string path);
    ~FileInputStream() override;
    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;

    void open() override;
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const override;
    void close() override;
    std::string name() const override { return _path; }

protected:
    /// Reads the already open descriptor `fd`, which close() leaves open; `name` is for messages.
    FileInputStream(int fd, std::string name);

private:
    static constexpr std::size_t bufferSize = 64 * 1024;

    std::string _path;
    int _fd = -1;
    bool _ownsDescriptor = true;
    bool _atEnd = false;
    std::unique_ptr<char[]> _buffer;
    std::size_t _begin = 0; // unread bytes are _buffer[_begin, _end)
    std::size_t _end = 0;
};

} // namespace plistable
