#pragma once

#include "core/io/OutputStream.hpp"

#include <string>

namespace plistable {

/// An output stream into a file. Opening creates the file, or empties an existing one, so that it
/// holds exactly what is written from then on. Bytes are gathered in a buffer of its own and reach
/// the file when it fills, at close and at destruction; a failure on the way (the file cannot be
/// opened, the device is full) is remembered in error().
class FileOutputStream : public OutputStream {
public:
    /// A stream for `path`; nothing happens to the file until open().
    explicit FileOutputStream(std::string path);
    /// Flushes and closes the file if it is still open.
    ~FileOutputStream() override;

    /// The file's path, as given.
    const std::string& path() const { return _path; }

protected:
    std::error_code openSink() override;
    std::ptrdiff_t writeSink(const char* bytes, std::size_t length) override;
    std::error_code closeSink() override;

private:
    std::error_code flush();
    std::error_code writeAll(const char* bytes, std::size_t length);

    std::string _path;
    std::string _buffer;
    int _fd = -1;
};

} // namespace plistable
