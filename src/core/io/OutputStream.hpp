#pragma once

#include <cstddef>
#include <system_error>

namespace plistable {

/// A byte sink that is opened, written and closed, and that remembers its first failure instead of
/// reporting it by exception. Subclasses supply the sink; this class keeps the status and the failure.
class OutputStream {
public:
    /// Where the stream stands. The numbers follow the desktop platform's stream status, so 0 still
    /// means "not yet open".
    enum class Status {
        NotOpen = 0, ///< made, not yet opened
        Open = 2,    ///< accepts writes
        AtEnd = 5,   ///< can take no more bytes
        Closed = 6,  ///< closed; writes are refused
        Error = 7,   ///< a failure happened; error() says which, and writes are refused
    };

    OutputStream() = default;
    virtual ~OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    /// Where the stream stands now.
    Status streamStatus() const { return _status; }

    /// Opens a stream that is not yet open; any other status is left as it is. A failure to open
    /// leaves the status Error and error() set.
    void open();

    /// Writes up to `length` bytes and returns how many were taken (possibly fewer), or -1 when the
    /// stream is not open or the write failed (then error() tells why, if the stream knows).
    std::ptrdiff_t write(const char* bytes, std::size_t length)
    {
        if (_status != Status::Open)
            return -1;
        const std::ptrdiff_t written = writeSink(bytes, length);
        if (written < 0)
            failWrite();
        return written < 0 ? -1 : written;
    }

    /// Flushes what is pending and closes the stream; a failure while doing so is remembered.
    /// Closing a stream that is already closed does nothing.
    void close();

    /// The first failure of opening, writing or closing, or {}.
    std::error_code error() const { return _error; }

protected:
    /// Opens the sink; returns the failure, or {}.
    virtual std::error_code openSink() = 0;
    /// Takes bytes; returns the count taken, or -1 after telling why with reportFailure().
    virtual std::ptrdiff_t writeSink(const char* bytes, std::size_t length) = 0;
    /// Flushes and closes the sink; returns the failure, or {}.
    virtual std::error_code closeSink() = 0;

    /// Remembers `failure` if it is the first; for writeSink() before it returns -1.
    void reportFailure(std::error_code failure)
    {
        if (!_error)
            _error = failure;
    }

private:
    void fail(std::error_code failure);
    void failWrite();

    Status _status = Status::NotOpen;
    std::error_code _error;
};

} // namespace plistable
