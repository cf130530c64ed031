#include "support/ChunkedInputStream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plistable::test {

std::ptrdiff_t ChunkedInputStream::read(char* buffer, std::size_t maxLength)
{
    ++reads;
    largestRequest = std::max(largestRequest, maxLength);
    if (!_open)
        return -1;
    if (_position >= _failAfter) {
        fail(std::error_code(EIO, std::generic_category()));
        return -1;
    }
    std::size_t count = std::min({maxLength, _chunkSize, _bytes.size() - _position});
    if (_failAfter != std::string::npos)
        count = std::min(count, _failAfter - _position);
    std::memcpy(buffer, _bytes.data() + _position, count);
    _position += count;
    return static_cast<std::ptrdiff_t>(count);
}

} // namespace plistable::test
