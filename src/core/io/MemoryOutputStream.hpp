#pragma once

#include "core/io/OutputStream.hpp"

#include <string>

namespace plistable {

/// An output stream that collects every byte written to it in memory. It never fails.
class MemoryOutputStream : public OutputStream {
public:
    /// An empty stream, not yet open.
    MemoryOutputStream() = default;

    /// All bytes written so far; still readable after close().
    const std::string& bytes() const { return _bytes; }

protected:
    std::error_code openSink() override { return {}; }
    std::ptrdiff_t writeSink(const char* bytes, std::size_t length) override
    {
        _bytes.append(bytes, length);
        return static_cast<std::ptrdiff_t>(length);
    }
    std::error_code closeSink() override { return {}; }

private:
    std::string _bytes;
};

} // namespace plistable
