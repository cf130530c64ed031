#include "core/io/FileInputStream.hpp"
#include "core/io/ReadError.hpp"
#include "core/io/MemoryInputStream.hpp"

#include "support/TestSupport.hpp"

#include <functional>
#include <memory>

using namespace plistable;

namespace {

// Reads everything in pieces of `piece` bytes; stops at 0 or a failure.
std::string drain(InputStream& stream, std::size_t piece)
{
    std::string out;
    std::string buffer(piece, '\0');
    while (stream.hasBytesAvailable()) {
        const std::ptrdiff_t count = stream.read(buffer.data(), piece);
        if (count <= 0)
            break;
        out.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return out;
}

std::string sampleBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

TEST(InputStreamTest, StreamsGiveEveryByteInOrderAtAnyReadSize)
{
    test::TempDir dir;
    // Sizes around the file stream's 64 KiB buffer, so reads straddle its refills.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{65537 + 300}}) {
        const std::string bytes = sampleBytes(size);
        // Not "f" + std::to_string(size): GCC 12 reports a false -Werror=restrict on it in Release.
        const std::string path = dir.write(std::string("f").append(std::to_string(size)), bytes);
        const std::function<std::unique_ptr<InputStream>()> makers[] = {
            [&] { return std::make_unique<FileInputStream>(path); },
            [&] { return std::make_unique<MemoryInputStream>(bytes); },
        };
        for (const auto& make : makers) {
            for (std::size_t piece : {1, 512, 100000}) {
                SCOPED_TRACE("size " + std::to_string(size) + " piece " + std::to_string(piece));
                auto stream = make();
                stream->open();
                EXPECT_EQ(drain(*stream, piece), bytes);
                EXPECT_FALSE(stream->hasBytesAvailable());
                EXPECT_FALSE(stream->error());
                stream->close();
            }
        }
    }
}

TEST(InputStreamTest, MissingFileRemembersTheSystemReason)
{
    test::TempDir dir;
    FileInputStream stream(dir.file("none.csv"));
    stream.open();
    EXPECT_EQ(stream.error(), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(stream.hasBytesAvailable());
    char buffer[4];
    EXPECT_LT(stream.read(buffer, sizeof buffer), 0);
    EXPECT_EQ(stream.name(), dir.file("none.csv"));
}

TEST(InputStreamTest, ReadingAFolderFailsWithTheSystemReason)
{
    test::TempDir dir;
    FileInputStream stream(dir.path());
    stream.open();
    char buffer[4];
    EXPECT_LT(stream.read(buffer, sizeof buffer), 0);
    EXPECT_EQ(stream.error(), std::errc::is_a_directory);
    EXPECT_FALSE(stream.hasBytesAvailable());
}

TEST(InputStreamTest, ADeviceIsRefusedAtOpenBeforeAnyRead)
{
    FileInputStream stream("/dev/zero");
    stream.open();
    EXPECT_EQ(stream.error(), ReadError::NotAFileOrPipe);
    char buffer[4];
    EXPECT_LT(stream.read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(stream.hasBytesAvailable());
}

TEST(InputStreamTest, ClosedStreamsReadNothing)
{
    MemoryInputStream stream("abc");
    char buffer[4];
    EXPECT_LT(stream.read(buffer, sizeof buffer), 0); // not opened yet
    stream.open();
    EXPECT_EQ(stream.read(buffer, 2), 2);
    stream.close();
    EXPECT_LT(stream.read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(stream.hasBytesAvailable());
}

} // namespace
