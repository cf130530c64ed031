#include "core/io/detail/MemoryViewInputStream.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace plistable;

namespace {

TEST(MemoryViewInputStreamTest, GivesEveryByteInOrderAtAnyReadSizeWithoutTakingThem)
{
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes.push_back(static_cast<char>(i * 37));
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{512}, std::size_t{4096}}) {
        SCOPED_TRACE(piece);
        detail::MemoryViewInputStream stream(bytes);
        stream.open();
        std::string out, buffer(piece, '\0');
        while (stream.hasBytesAvailable()) {
            const std::ptrdiff_t count = stream.read(buffer.data(), piece);
            ASSERT_GT(count, 0);
            out.append(buffer.data(), static_cast<std::size_t>(count));
        }
        EXPECT_EQ(out, bytes);
        EXPECT_EQ(stream.read(buffer.data(), piece), 0); // the end, not a failure
        EXPECT_FALSE(stream.error());
    }
}

TEST(MemoryViewInputStreamTest, ReadsNothingBeforeOpenOrAfterClose)
{
    const std::string bytes = "abc";
    char buffer[4];
    detail::MemoryViewInputStream stream(bytes);
    EXPECT_FALSE(stream.hasBytesAvailable());
    EXPECT_EQ(stream.read(buffer, sizeof buffer), -1);
    stream.open();
    EXPECT_EQ(stream.read(buffer, 2), 2);
    stream.close();
    EXPECT_FALSE(stream.hasBytesAvailable());
    EXPECT_EQ(stream.read(buffer, sizeof buffer), -1);
}

} // namespace
