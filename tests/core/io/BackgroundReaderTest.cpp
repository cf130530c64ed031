#include "core/io/detail/BackgroundReader.hpp"

#include "core/io/detail/FileDescriptor.hpp"
#include "core/io/detail/QuietThread.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>

using plistable::detail::BackgroundReader;
using plistable::detail::FileDescriptor;

namespace {

// Every piece in order, the end repeated, with and without a thread, for sizes around the piece size.
TEST(BackgroundReaderTest, GivesTheFileInOrderThenTheEnd)
{
    constexpr std::size_t pieceSize = 7;
    plistable::test::TempDir dir;
    for (const bool threaded : {true, false}) {
        for (const std::size_t queued : {1, 3}) {
            for (const std::size_t size : {0, 1, 6, 7, 8, 70, 1003}) {
                SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(queued) + " queued"
                             + (threaded ? "" : ", no thread"));
                std::string content;
                for (std::size_t i = 0; i < size; ++i)
                    content.push_back(static_cast<char>('a' + i % 26));
                const std::string path = dir.write("in", content);
                FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
                plistable::detail::refuseThreadStartsForTesting(!threaded);
                std::string read;
                {
                    BackgroundReader reader(file.get(), pieceSize, queued);
                    plistable::detail::refuseThreadStartsForTesting(false);
                    std::string piece;
                    ssize_t n = 0;
                    while ((n = reader.next(piece)) > 0) {
                        ASSERT_LE(static_cast<std::size_t>(n), pieceSize);
                        read.append(piece, 0, static_cast<std::size_t>(n));
                    }
                    EXPECT_EQ(n, 0);
                    EXPECT_EQ(reader.next(piece), 0);
                }
                EXPECT_EQ(read, content);
            }
        }
    }
}

TEST(BackgroundReaderTest, ReportsAReadErrorAndKeepsIt)
{
    plistable::test::TempDir dir;
    FileDescriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    BackgroundReader reader(folder.get(), 16);
    std::string piece;
    for (int call = 0; call < 2; ++call) {
        errno = 0;
        EXPECT_EQ(reader.next(piece), -1);
        EXPECT_EQ(errno, EISDIR);
    }
}

// Destroyed while pieces wait and the file is not read to its end: no hang, no leak.
TEST(BackgroundReaderTest, StopsBeforeTheEnd)
{
    plistable::test::TempDir dir;
    const std::string path = dir.write("in", std::string(1 << 20, 'x'));
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    BackgroundReader reader(file.get(), 4096, 2);
    std::string piece;
    EXPECT_EQ(reader.next(piece), 4096);
}

} // namespace
