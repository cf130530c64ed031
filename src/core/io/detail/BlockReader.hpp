#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// The bytes at any position of a file or of bytes in memory, for readers that jump about (the
/// objects of a binary property list are found through a table at its end). A file is read with
/// pread() in blocks, of which a few stay cached (the least recently used goes), so that a file of
/// any size takes a fixed amount of memory beyond the longest span asked for; a span that straddles
/// blocks is put together in a buffer of the reader's own.
class BlockReader {
public:
    static constexpr std::size_t defaultBlockSize = std::size_t{256} << 10;
    static constexpr std::size_t defaultBlockCount = 16;
    /// A reader that goes through a few places in turn (a list of references, a table, the objects)
    /// names each with a lane below this: the block last read in a lane is tried first.
    static constexpr unsigned laneCount = 8;
    static_assert((laneCount & (laneCount - 1)) == 0, "lanes are picked by a mask");

    /// Reads `bytes`, which must outlive the reader.
    explicit BlockReader(std::string_view bytes);
    /// Reads the first `size` bytes of the open file `fd`, which must stay open while the reader
    /// lives, in blocks of `blockSize` bytes (rounded down to a power of two; no more than the file
    /// needs), `blockCount` of them (at least one more than laneCount) cached.
    BlockReader(int fd, std::uint64_t size, std::size_t blockSize = defaultBlockSize,
                std::size_t blockCount = defaultBlockCount);
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    /// The size given at construction: every position read is below it.
    std::uint64_t size() const { return _size; }

    /// The `length` bytes at `position`, valid until the next call. Bytes past size(), or that the
    /// file does not give (a read that fails or comes short, as when it shrank), read as zeros, and
    /// then failed() is true for good.
    std::string_view bytes(std::uint64_t position, std::size_t length, unsigned lane = 0)
    {
        const Span& span = _lanes[lane & (laneCount - 1)];
        if (position - span.start < span.length && length <= span.length - (position - span.start)) [[likely]]
            return {span.data + (position - span.start), length};
        return fetch(position, length, lane & (laneCount - 1));
    }

    /// True when a span could not be read as it is in the file (see bytes()).
    bool failed() const { return _failed; }

private:
    struct Span {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        const char* data = nullptr;
        std::size_t block = SIZE_MAX; // the cached block it is, if any
    };

    std::string_view fetch(std::uint64_t position, std::size_t length, unsigned lane);
    // Block `number`'s bytes, read when not cached, now the lane's; null when the read fails.
    const char* block(std::uint64_t number, unsigned lane);
    bool readAt(char* into, std::size_t length, std::uint64_t position);
    char* scratch(std::size_t length);
    std::string_view failure(std::size_t length);

    const int _fd = -1;
    const std::uint64_t _size;
    const unsigned _blockShift = 0;
    const std::size_t _blockSize = 0;
    Span _lanes[laneCount];              // never evicted while a lane's
    std::vector<std::uint64_t> _numbers; // each cached block's position over the block size, or none
    std::vector<std::uint64_t> _lastUse;
    std::vector<Span> _cached; // each cached block as a span
    std::uint32_t _hints[64] = {}; // where block n was last found, by n modulo 64: mostly it still is
    std::unique_ptr<char[]> _storage;
    std::unique_ptr<char[]> _scratch;
    std::size_t _scratchSize = 0;
    std::uint64_t _uses = 0;
    bool _failed = false;
};

} // namespace plistable::detail
