#include "core/io/MemoryInputStream.hpp"

#include <algorithm>
#include <cstring>

namespace plistable {

std::ptrdiff_t MemoryInputStream::read(char* buffer, std::size_t maxLength)
{
    if (!_open)
        return -1;
    const std::size_t count = std::min(maxLength, _bytes.size() - _position);
    std::memcpy(buffer, _bytes.data() + _position, count);
    _position += count;
    return static_cast<std::ptrdiff_t>(count);
}

} // namespace plistable
