#include "core/io/FileContents.hpp"

#include "core/io/ReadError.hpp"
#include "support/TestSupport.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using plistable::FileContents;
using plistable::ReadError;
using plistable::readFileContents;

namespace {

TEST(FileContentsTest, ReadsFilesAndPipesAndRefusesOtherKindsUpFront)
{
    plistable::test::TempDir dir;
    const std::string file = dir.write("f.csv", "a,b\n");
    ::mkfifo(dir.file("pipe").c_str(), 0600);
    std::thread writer([&] {
        const int fd = ::open(dir.file("pipe").c_str(), O_WRONLY);
        EXPECT_EQ(::write(fd, "x\ny", 3), 3);
        ::close(fd);
    });
    struct Case {
        const char* name;
        std::string path;
        std::string bytes;
        std::error_code error;
    };
    const Case cases[] = {
        {"regular file", file, "a,b\n", {}},
        {"named pipe", dir.file("pipe"), "x\ny", {}},
        {"folder", dir.path(), "", std::make_error_code(std::errc::is_a_directory)},
        {"endless device", "/dev/zero", "", make_error_code(ReadError::NotAFileOrPipe)},
        {"empty device", "/dev/null", "", make_error_code(ReadError::NotAFileOrPipe)},
        {"missing", dir.file("none"), "", std::make_error_code(std::errc::no_such_file_or_directory)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileContents contents = readFileContents(c.path);
        EXPECT_EQ(contents.bytes, c.bytes);
        EXPECT_EQ(contents.error, c.error);
    }
    writer.join();
}

} // namespace
