#pragma once

#include <cstddef>
#include <string>
#include <system_error>

namespace plistable {

/// A source of bytes read front to back once: open, read until 0 (the end) or a negative count (a
/// failure), close. Failures are remembered and reported by error(), never thrown.
class InputStream {
public:
    virtual ~InputStream();

    /// Prepares the stream for reading. A failure (a missing file) is remembered: error() says why,
    /// hasBytesAvailable() is false and read() returns -1.
    virtual void open() = 0;

    /// Copies at most `maxLength` bytes into `buffer`. Returns the count, 0 at the end of the stream,
    /// or a negative number after a failure (error() then says why).
    virtual std::ptrdiff_t read(char* buffer, std::size_t maxLength) = 0;

    /// True while a read may still return bytes; false once the end or a failure has been reached.
    virtual bool hasBytesAvailable() const = 0;

    /// Releases what open() acquired; reads after it return -1. Closing twice does nothing.
    virtual void close() = 0;

    /// The system's reason for the first failure, or {} while there was none.
    std::error_code error() const { return _error; }

    /// What the stream reads, for messages: a file's path, "standard input", "memory".
    virtual std::string name() const = 0;

protected:
    /// Remembers the first failure.
    void fail(std::error_code error)
    {
        if (!_error)
            _error = error;
    }

private:
    std::error_code _error;
};

} // namespace plistable
