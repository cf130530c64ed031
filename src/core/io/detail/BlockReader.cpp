#include "core/io/detail/BlockReader.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace plistable::detail {

namespace {

constexpr std::uint64_t noBlock = UINT64_MAX;

// A power of two (positions split by shifts), no more than asked and than the file needs: a small
// file takes little more memory than its size.
unsigned blockShiftFor(std::uint64_t size, std::size_t asked)
{
    const std::uint64_t most = std::bit_ceil(std::max<std::uint64_t>(size, 1));
    const std::uint64_t block = std::min<std::uint64_t>(std::bit_floor(std::max<std::size_t>(asked, 1)), most);
    return static_cast<unsigned>(std::countr_zero(block));
}

} // namespace

BlockReader::BlockReader(std::string_view bytes) : _size(bytes.size())
{
    for (Span& lane : _lanes)
        lane = {0, bytes.size(), bytes.data()};
}

BlockReader::BlockReader(int fd, std::uint64_t size, std::size_t blockSize, std::size_t blockCount)
    : _fd(fd), _size(size), _blockShift(blockShiftFor(size, blockSize)),
      _blockSize(std::size_t{1} << _blockShift),
      _numbers(std::max<std::size_t>(blockCount, laneCount + 1), noBlock), _lastUse(_numbers.size()),
      _cached(_numbers.size()),
      _storage(new char[_blockSize * _numbers.size()])
{
}

std::string_view BlockReader::fetch(std::uint64_t position, std::size_t length, unsigned lane)
{
    // Most often a block the cache has, where it was last found (values shared across a list).
    if (_fd >= 0) {
        const std::uint64_t number = position >> _blockShift;
        const std::size_t slot = _hints[number % std::size(_hints)];
        const std::uint64_t within = position & (_blockSize - 1);
        if (const Span& cached = _cached[slot];
            _numbers[slot] == number && within < cached.length && length <= cached.length - within) {
            _lastUse[slot] = ++_uses;
            _lanes[lane] = cached;
            return {cached.data + within, length};
        }
    }
    if (_failed || position > _size || length > _size - position)
        return failure(length);
    if (length == 0)
        return {};
    if (_fd < 0)
        return failure(length); // in memory every span in bounds is a lane's
    const std::uint64_t number = position >> _blockShift;
    const auto within = static_cast<std::size_t>(position & (_blockSize - 1));
    if (length <= _blockSize - within) {
        const char* data = block(number, lane);
        return data ? std::string_view(data + within, length) : failure(length);
    }
    // Straddles blocks: put together from the two it touches, or read at once when longer than one
    // (a long string), so that the cache keeps what the reader goes back to.
    char* into = scratch(length);
    if (length <= _blockSize) {
        const std::size_t first = _blockSize - within;
        const char* data = block(number, lane);
        if (!data)
            return failure(length);
        std::memcpy(into, data + within, first);
        if (!(data = block(number + 1, lane)))
            return failure(length);
        std::memcpy(into + first, data, length - first);
    } else if (!readAt(into, length, position)) {
        return failure(length);
    }
    return {into, length};
}

const char* BlockReader::block(std::uint64_t number, unsigned lane)
{
    const std::uint64_t start = number * _blockSize;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(_blockSize, _size - start));
    std::size_t found = _hints[number % std::size(_hints)];
    if (_numbers[found] != number)
        found = static_cast<std::size_t>(std::find(_numbers.begin(), _numbers.end(), number) - _numbers.begin());
    if (found == _numbers.size()) {
        // The least recently used block that no lane holds (views into those may be in use).
        for (std::size_t i = 0; i < _numbers.size(); ++i) {
            const bool held = std::any_of(std::begin(_lanes), std::end(_lanes),
                                          [&](const Span& span) { return span.block == i; });
            if (!held && (found == _numbers.size() || _lastUse[i] < _lastUse[found]))
                found = i;
        }
        _numbers[found] = noBlock;
        if (!readAt(_storage.get() + found * _blockSize, length, start))
            return nullptr;
        _numbers[found] = number;
    }
    _hints[number % std::size(_hints)] = static_cast<std::uint32_t>(found);
    _lastUse[found] = ++_uses;
    const char* data = _storage.get() + found * _blockSize;
    _cached[found] = {start, length, data, found};
    _lanes[lane] = _cached[found];
    return data;
}

bool BlockReader::readAt(char* into, std::size_t length, std::uint64_t position)
{
    while (length > 0) {
        const ssize_t n = ::pread(_fd, into, length, static_cast<off_t>(position));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // an error, or the file ends early
        into += n;
        length -= static_cast<std::size_t>(n);
        position += static_cast<std::uint64_t>(n);
    }
    return true;
}

char* BlockReader::scratch(std::size_t length)
{
    if (length > _scratchSize) {
        _scratch.reset(); // the old buffer goes first: the longest span alone bounds the memory
        _scratch.reset(new char[length]);
        _scratchSize = length;
    }
    return _scratch.get();
}

std::string_view BlockReader::failure(std::size_t length)
{
    _failed = true;
    char* zeros = scratch(length);
    std::memset(zeros, 0, length);
    return {zeros, length};
}

} // namespace plistable::detail
