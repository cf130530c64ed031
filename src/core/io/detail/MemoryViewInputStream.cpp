#include "core/io/detail/MemoryViewInputStream.hpp"

#include <algorithm>
#include <cstring>

namespace plistable::detail {

std::ptrdiff_t MemoryViewInputStream::read(char* buffer, std::size_t maxLength)
{
    if (!_open)
        return -1;
    const std::size_t count = std::min(maxLength, _bytes.size());
    std::memcpy(buffer, _bytes.data(), count);
    _bytes.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
}

} // namespace plistable::detail
