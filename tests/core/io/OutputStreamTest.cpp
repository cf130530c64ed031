#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/FileOutputStream.hpp"
#include "core/io/MemoryOutputStream.hpp"

#include "support/TestSupport.hpp"

#include <filesystem>

using namespace plistable;
using plistable::test::TempDir;

namespace {

using Status = OutputStream::Status;

void writeAll(OutputStream& stream, std::string_view bytes)
{
    EXPECT_EQ(stream.write(bytes.data(), bytes.size()), static_cast<std::ptrdiff_t>(bytes.size()));
}

TEST(OutputStreamTest, FileIsEmptiedWhenOpenedAndWrittenFromItsFirstByte)
{
    TempDir dir;
    dir.write("out.csv", "a much longer old content");
    FileOutputStream stream(dir.file("out.csv"));
    EXPECT_EQ(dir.read("out.csv"), "a much longer old content"); // untouched until opened
    stream.open();
    EXPECT_EQ(stream.streamStatus(), Status::Open);
    writeAll(stream, "new");
    const std::string large(200000, 'x'); // more than the stream's buffer
    writeAll(stream, large);
    stream.close();
    EXPECT_EQ(stream.streamStatus(), Status::Closed);
    EXPECT_FALSE(stream.error());
    EXPECT_EQ(dir.read("out.csv"), "new" + large);
}

TEST(OutputStreamTest, FileIsFlushedByItsDestructor)
{
    TempDir dir;
    {
        FileOutputStream stream(dir.file("out.csv"));
        stream.open();
        writeAll(stream, "pending");
    }
    EXPECT_EQ(dir.read("out.csv"), "pending");
}

TEST(OutputStreamTest, FileRemembersItsFailures)
{
    TempDir dir;
    FileOutputStream missing(dir.file("missing/out.csv"));
    missing.open();
    EXPECT_EQ(missing.streamStatus(), Status::Error);
    EXPECT_EQ(missing.error(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(missing.write("x", 1), -1);

    FileOutputStream full("/dev/full");
    full.open();
    writeAll(full, "x"); // buffered
    const std::string large(1 << 17, 'x');
    EXPECT_EQ(full.write(large.data(), large.size()), -1);
    EXPECT_EQ(full.streamStatus(), Status::Error);
    EXPECT_EQ(full.error(), std::errc::no_space_on_device);
    full.close();
    EXPECT_EQ(full.error(), std::errc::no_space_on_device);

    FileOutputStream fullAtClose("/dev/full");
    fullAtClose.open();
    writeAll(fullAtClose, "x");
    fullAtClose.close();
    EXPECT_EQ(fullAtClose.error(), std::errc::no_space_on_device);
}

TEST(OutputStreamTest, MemoryKeepsItsBytesAfterClose)
{
    MemoryOutputStream stream;
    EXPECT_EQ(stream.streamStatus(), Status::NotOpen);
    EXPECT_EQ(stream.write("x", 1), -1); // not open yet
    stream.open();
    writeAll(stream, "ab");
    writeAll(stream, std::string_view("\0c", 2));
    stream.close();
    EXPECT_EQ(stream.write("d", 1), -1);
    EXPECT_EQ(stream.bytes(), std::string("ab\0c", 4));
    EXPECT_FALSE(stream.error());
}

TEST(OutputStreamTest, AtomicFileReplacesTheTargetOnlyOnCommit)
{
    TempDir dir;
    dir.write("out.csv", "old");
    {
        AtomicFileOutputStream stream(dir.file("out.csv"));
        stream.open();
        writeAll(stream, "new");
        stream.close();
        EXPECT_EQ(dir.read("out.csv"), "old");
    }
    EXPECT_EQ(dir.read("out.csv"), "old");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.csv"});

    AtomicFileOutputStream stream(dir.file("out.csv"));
    stream.open();
    writeAll(stream, "new");
    EXPECT_FALSE(stream.commit()); // closes the stream first
    EXPECT_EQ(stream.streamStatus(), Status::Closed);
    EXPECT_EQ(dir.read("out.csv"), "new");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.csv"});
}

} // namespace
