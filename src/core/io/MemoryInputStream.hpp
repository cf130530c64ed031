#pragma once

#include "core/io/InputStream.hpp"

#include <string>

namespace plistable {

/// An input stream over bytes it owns. It never fails.
class MemoryInputStream : public InputStream {
public:
    /// Takes the bytes to be read.
    explicit MemoryInputStream(std::string bytes) : _bytes(std::move(bytes)) {}

    void open() override { _open = true; }
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const override { return _open && _position < _bytes.size(); }
    void close() override { _open = false; }
    std::string name() const override { return "memory"; }

private:
    std::string _bytes;
    std::size_t _position = 0;
    bool _open = false;
};

} // namespace plistable
