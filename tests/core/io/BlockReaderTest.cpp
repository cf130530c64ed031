#include "core/io/detail/BlockReader.hpp"

#include "core/io/detail/FileDescriptor.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>

using plistable::detail::BlockReader;
using plistable::detail::FileDescriptor;
using plistable::test::TempDir;

namespace {

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

} // namespace

// Every span reads as the bytes at its place, in memory and from a file at any block size: spans
// within a block, straddling two, longer than a block, at the very end, empty; lanes going back
// and forth so that the cache fills and evicts.
TEST(BlockReaderTest, ReadsEverySpanAsItIs)
{
    TempDir dir;
    const std::string contents = randomBytes(3000, 1);
    FileDescriptor file(::open(dir.write("in", contents).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file.valid());
    const std::pair<std::size_t, std::size_t> shapes[] = {{1, 7}, {3, 7}, {64, 7}, {100, 9}, {4096, 16}, {0, 0}};
    for (const auto& [blockSize, blockCount] : shapes) {
        SCOPED_TRACE("blocks of " + std::to_string(blockSize) + ", " + std::to_string(blockCount) + " cached");
        std::optional<BlockReader> reader;
        if (blockSize == 0)
            reader.emplace(contents);
        else
            reader.emplace(file.get(), contents.size(), blockSize, blockCount);
        std::mt19937 random(2);
        for (int i = 0; i < 3000; ++i) {
            const std::size_t length = i % 50 == 0 ? random() % 400 : random() % 10;
            const std::size_t position =
                i % 7 == 0 ? contents.size() - length : random() % (contents.size() - length + 1);
            const unsigned lane = static_cast<unsigned>(random() % BlockReader::laneCount);
            ASSERT_EQ(reader->bytes(position, length, lane), contents.substr(position, length))
                << "at " << position << ", " << length << " bytes, lane " << lane;
        }
        EXPECT_FALSE(reader->failed());
    }
}

// Spans past the size, and bytes the file no longer has, read as zeros and fail the reader for good.
TEST(BlockReaderTest, FailsOnSpansItCannotRead)
{
    TempDir dir;
    const std::string contents = randomBytes(1000, 3);
    const std::string path = dir.write("in", contents);
    struct Case {
        const char* name;
        std::uint64_t position;
        std::size_t length;
        std::size_t truncatedTo; // the file's size when read
    };
    const Case cases[] = {
        {"past the end", 999, 2, 1000},       {"far past the end", UINT64_MAX - 1, 4, 1000},
        {"a block cut short", 900, 8, 905},   {"a block gone", 10, 1, 0},
        {"a long span cut short", 100, 800, 850},
    };
    for (const Case& c : cases)
        for (const std::size_t blockSize : {std::size_t{16}, std::size_t{4096}}) {
            SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(blockSize));
            dir.write("in", contents);
            FileDescriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC));
            ASSERT_TRUE(file.valid());
            BlockReader reader(file.get(), contents.size(), blockSize);
            ASSERT_EQ(::ftruncate(file.get(), static_cast<off_t>(c.truncatedTo)), 0);
            EXPECT_EQ(reader.bytes(c.position, c.length), std::string(c.length, '\0'));
            EXPECT_TRUE(reader.failed());
            EXPECT_EQ(reader.bytes(0, 4), std::string(4, '\0'));
        }
    BlockReader memory(contents);
    EXPECT_EQ(memory.bytes(998, 3), std::string(3, '\0'));
    EXPECT_TRUE(memory.failed());
}
