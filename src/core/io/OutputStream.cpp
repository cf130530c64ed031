#include "core/io/OutputStream.hpp"

namespace plistable {

void OutputStream::fail(std::error_code failure)
{
    if (!_error)
        _error = failure;
    _status = Status::Error;
}

void OutputStream::open()
{
    if (_status != Status::NotOpen)
        return;
    if (const std::error_code failure = openSink())
        fail(failure);
    else
        _status = Status::Open;
}

void OutputStream::failWrite()
{
    // A sink that failed without saying why still leaves a reason behind.
    fail(std::make_error_code(std::errc::io_error));
}

void OutputStream::close()
{
    if (_status == Status::Closed || _status == Status::NotOpen) {
        _status = Status::Closed;
        return;
    }
    // A stream that failed is closed too, so that its file descriptor is given back; its first
    // failure stays the one reported.
    const std::error_code failure = closeSink();
    if (failure && !_error)
        _error = failure;
    _status = Status::Closed;
}

} // namespace plistable
