#pragma once

#include "core/io/InputStream.hpp"

#include <string>

namespace plistable::test {

/// An input stream over bytes that gives at most `chunkSize` bytes per read, so tests can cut the
/// input at every place. Optionally fails (read() returns -1 with EIO) once `failAfter` bytes are given.
class ChunkedInputStream : public InputStream {
public:
    ChunkedInputStream(std::string bytes, std::size_t chunkSize, std::size_t failAfter = std::string::npos)
        : _bytes(std::move(bytes)), _chunkSize(chunkSize), _failAfter(failAfter)
    {
    }

    void open() override { _open = true; }
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const override { return _open && !error() && _position < _bytes.size(); }
    void close() override { _open = false; }
    std::string name() const override { return "chunks"; }

    /// How many reads were made, and the largest length one asked for.
    std::size_t reads = 0;
    std::size_t largestRequest = 0;

private:
    std::string _bytes;
    std::size_t _chunkSize;
    std::size_t _failAfter;
    std::size_t _position = 0;
    bool _open = false;
};

} // namespace plistable::test
