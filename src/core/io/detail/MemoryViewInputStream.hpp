#pragma once

#include "core/io/InputStream.hpp"

#include <string_view>

namespace plistable::detail {

/// An input stream over bytes it does not own, which must outlive it: for readers that run to
/// their end while the caller holds the bytes, so that the bytes need not be copied first.
/// It never fails.
class MemoryViewInputStream : public InputStream {
public:
    /// Reads `bytes`, which stay the caller's.
    explicit MemoryViewInputStream(std::string_view bytes) : _bytes(bytes) {}

    void open() override { _open = true; }
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const override { return _open && !_bytes.empty(); }
    void close() override { _open = false; }
    std::string name() const override { return "memory"; }

private:
    std::string_view _bytes; // what is still to be read
    bool _open = false;
};

} // namespace plistable::detail
