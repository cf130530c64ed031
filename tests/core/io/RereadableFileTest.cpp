#include "core/io/RereadableFile.hpp"

#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

using plistable::RereadableFile;

namespace {

std::string readRest(RereadableFile& file)
{
    std::string bytes;
    for (std::string_view piece = file.next(); !piece.empty(); piece = file.next())
        bytes.append(piece);
    return bytes;
}

// Read whole, again after a rewind in the middle and at the end, around the piece size (a file of
// more than one piece is read ahead on a thread).
TEST(RereadableFileTest, ReadsTheSameBytesEachTime)
{
    plistable::test::TempDir dir;
    constexpr std::size_t piece = std::size_t{1} << 20;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, piece, piece + 1, 3 * piece + 5}) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>(i * 7 % 251);
        RereadableFile file = RereadableFile::open(dir.write("in", content));
        ASSERT_FALSE(file.error());
        EXPECT_EQ(readRest(file), content);
        EXPECT_TRUE(file.next().empty());
        file.rewind();
        file.next(); // part way, then from the start once more
        file.rewind();
        EXPECT_EQ(readRest(file), content);
        EXPECT_EQ(file.position(), size);
        RereadableFile moved = std::move(file);
        moved.rewind();
        EXPECT_EQ(readRest(moved), content);
        EXPECT_FALSE(moved.error());
    }
}

TEST(RereadableFileTest, AStopEndsTheReading)
{
    plistable::test::TempDir dir;
    std::atomic<bool> stop = false;
    RereadableFile file = RereadableFile::open(dir.write("in", std::string(3 << 20, 'x')), &stop);
    EXPECT_FALSE(file.next().empty());
    stop = true;
    EXPECT_TRUE(file.next().empty());
    EXPECT_EQ(file.error(), std::make_error_code(std::errc::operation_canceled));
}

} // namespace
