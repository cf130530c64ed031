#include "core/io/AtomicFile.hpp"
#include "core/io/detail/FileDescriptor.hpp"
#include "core/io/detail/StaleTemporaries.hpp"

#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/ReadError.hpp"

#include "support/TestSupport.hpp"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <time.h>

using namespace plistable;
using plistable::test::TempDir;

namespace {

// Sets the modification time of `path` (not following a link) `seconds` into the past.
void age(const std::string& path, int seconds)
{
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(AtomicFileTest, ReplacesTheTargetOnlyAtCommit)
{
    TempDir dir;
    dir.write("out.txt", "old");
    {
        AtomicFile file(dir.file("out.txt"));
        file.write("new ");
        file.write(std::string(200000, 'x')); // larger than the buffer
        EXPECT_EQ(dir.read("out.txt"), "old");
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(dir.read("out.txt"), "new " + std::string(200000, 'x'));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
}

TEST(AtomicFileTest, NamesUpToTheLongestAllowedAreWritten)
{
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"237 bytes", std::string(233, 'a') + ".csv"},
        {"238 bytes", std::string(234, 'a') + ".csv"},
        {"255 bytes", std::string(251, 'a') + ".csv"},
        // Built by appending: GCC 12 misreads a concatenation here as an overlapping copy (-Wrestrict).
        {"255 bytes, two-byte characters at the cut", [] {
             std::string e(1, 'a');
             for (int i = 0; i < 125; ++i)
                 e.append("\xC3\xA9");
             e.append(".csv");
             return e;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        AtomicFile file(dir.file(c.file));
        file.write("x");
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(dir.read(c.file), "x");
        EXPECT_EQ(dir.names(), std::vector<std::string>{c.file});
    }
}

TEST(AtomicFileTest, LargeFilesKeepEveryByteInOrder)
{
    // Past a few megabytes a helper thread does the writing; the bytes must come out as written.
    TempDir dir;
    std::string expected;
    {
        AtomicFile file(dir.file("big.bin"));
        for (std::size_t i = 0; expected.size() < (24u << 20); ++i) {
            const std::string piece(1 + (i * 7919) % 300000, static_cast<char>('a' + i % 26));
            file.write(piece);
            expected += piece;
        }
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(dir.read("big.bin"), expected);
    {
        AtomicFile file(dir.file("big.bin"));
        file.write(std::string(16u << 20, 'x'));
    } // not committed
    EXPECT_EQ(dir.read("big.bin").size(), expected.size());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"big.bin"});
}

// With a stream no file is made: the bytes go out in order on the writing thread as they pass the
// buffer; a failing stream stops the writing and commit() returns its reason; what went out stays out.
TEST(AtomicFileTest, AStreamGetsTheBytesInOrderAndNoFileIsMade)
{
    TempDir dir;
    for (const std::size_t failAfter : {std::size_t(0), std::size_t(1) << 20, std::size_t(64) << 20}) {
        SCOPED_TRACE(failAfter);
        std::string out, expected;
        const std::thread::id writer = std::this_thread::get_id();
        AtomicFile file(dir.file("named.bin"), ExistingTarget::Replace, [&](std::string_view bytes) -> std::error_code {
            EXPECT_EQ(std::this_thread::get_id(), writer);
            if (failAfter > 0 && out.size() >= failAfter)
                return std::make_error_code(std::errc::broken_pipe);
            out += bytes;
            return {};
        });
        for (std::size_t i = 0; expected.size() < (8u << 20); ++i) {
            const std::string piece(1 + (i * 7919) % 300000, static_cast<char>('a' + i % 26));
            file.write(piece);
            expected += piece;
        }
        EXPECT_EQ(file.commit(), failAfter > 0 && failAfter < expected.size() ? std::make_error_code(std::errc::broken_pipe)
                                                                               : std::error_code());
        EXPECT_TRUE(expected.starts_with(out));
        EXPECT_EQ(out.size() == expected.size(), failAfter == 0 || failAfter >= expected.size());
        EXPECT_TRUE(dir.names().empty());
    }
}

TEST(AtomicFileTest, BytesWrittenInPlaceMixWithAppendedOnes)
{
    // Room asked for and partly used, pieces larger than the buffer, room left unused and plain
    // appends, across the size where the helper thread takes over.
    struct Step {
        std::size_t room;
        std::size_t used;
    };
    const std::vector<Step> steps = {{10, 10}, {4096, 3}, {5000, 0}, {3u << 20, 3u << 20}, {100, 99}, {1u << 20, 1}};
    TempDir dir;
    std::string expected;
    {
        AtomicFile file(dir.file("out.bin"));
        for (std::size_t round = 0; round < 3; ++round)
            for (std::size_t i = 0; i < steps.size(); ++i) {
                const char fill = static_cast<char>('a' + (round * steps.size() + i) % 26);
                char* room = file.beginWrite(steps[i].room);
                std::fill(room, room + steps[i].room, fill);
                file.endWrite(steps[i].used);
                expected.append(steps[i].used, fill);
                file.write("|");
                expected += '|';
            }
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(dir.read("out.bin"), expected);
}

TEST(AtomicFileTest, RoomIsGivenAfterAFailureAndNothingIsWritten)
{
    TempDir dir;
    AtomicFile file(dir.file("missing/out.bin"));
    ASSERT_TRUE(file.error());
    for (const std::size_t room : {std::size_t(1), std::size_t(3) << 20}) {
        char* at = file.beginWrite(room);
        std::fill(at, at + room, 'x');
        file.endWrite(room);
    }
    EXPECT_TRUE(file.commit());
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(AtomicFileTest, AnUncommittedFileLeavesNothingBehind)
{
    TempDir dir;
    dir.write("out.txt", "old");
    {
        AtomicFile file(dir.file("out.txt"));
        file.write("partial");
    }
    EXPECT_EQ(dir.read("out.txt"), "old");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
}

// The two ways to write a file in place, each as one row of the fault tables below: the file itself,
// and the output stream over it that the writers use.
struct Writer {
    const char* name;
    // Writes "new" to `path` and commits; the commit's error.
    std::error_code (*writeAndCommit)(const std::string& path);
};

const Writer writers[] = {
    {"AtomicFile",
     [](const std::string& path) {
         AtomicFile file(path);
         file.write("new");
         return file.commit();
     }},
    {"AtomicFileOutputStream",
     [](const std::string& path) {
         AtomicFileOutputStream stream(path);
         stream.open();
         if (stream.streamStatus() == OutputStream::Status::Open) {
             EXPECT_EQ(stream.write("new", 3), 3);
         }
         return stream.commit();
     }},
};

class AtomicFileWriterTest : public ::testing::TestWithParam<Writer> {};

INSTANTIATE_TEST_SUITE_P(Writers, AtomicFileWriterTest, ::testing::ValuesIn(writers),
                         [](const auto& info) { return std::string(info.param.name); });

// A missing folder fails the commit with the system's reason and is not created; a stream
// already fails to open.
TEST_P(AtomicFileWriterTest, AMissingFolderFailsWithTheReason)
{
    TempDir dir;
    EXPECT_EQ(GetParam().writeAndCommit(dir.file("missing/out.txt")), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    AtomicFileOutputStream stream(dir.file("missing/out.csv"));
    stream.open();
    EXPECT_EQ(stream.streamStatus(), OutputStream::Status::Error);
}

// A symbolic link at the output is replaced by the new file; what it pointed to is left alone.
TEST_P(AtomicFileWriterTest, ASymbolicLinkIsReplacedNotWrittenThrough)
{
    TempDir dir;
    dir.write("elsewhere.txt", "keep");
    std::filesystem::create_symlink(dir.file("elsewhere.txt"), dir.file("out.txt"));
    EXPECT_FALSE(GetParam().writeAndCommit(dir.file("out.txt")));
    EXPECT_EQ(dir.read("elsewhere.txt"), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("out.txt")));
    EXPECT_EQ(dir.read("out.txt"), "new");
}

TEST(AtomicFileTest, KeepsTheModeOfTheFileItReplaces)
{
    TempDir dir;
    const std::string target = dir.write("out.txt", "old");
    ::chmod(target.c_str(), 0640);
    AtomicFile file(target);
    file.write("new");
    ASSERT_FALSE(file.commit());
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(AtomicFileTest, ReadsWholeFilesAndReportsFailures)
{
    TempDir dir;
    dir.write("in.txt", std::string("a\0b", 3));
    EXPECT_EQ(readFileContents(dir.file("in.txt")).bytes, std::string("a\0b", 3));
    EXPECT_EQ(readFileContents(dir.file("none.txt")).error, std::errc::no_such_file_or_directory);
    EXPECT_EQ(readFileContents(dir.path()).error, std::errc::is_a_directory);
}

TEST(AtomicFileTest, StaleTemporariesOfTheSameTargetAreRemovedByTheNextWrite)
{
    TempDir dir;
    const struct {
        std::string name;
        int age;
        bool removed;
    } leftovers[] = {
        {".out.txt.plistable-Stale1", 120, true},
        {".out.txt.plistable-Fresh1", 5, false},      // perhaps another writer at work
        {".other.txt.plistable-Stale2", 120, false},  // another target's
        {".out.txt.plistable-TooLong", 120, false},   // not a name this writer makes
        {".out.txt.plistable-", 120, false},
        {"out.txt.plistable-Stale3", 120, false},
    };
    for (const auto& leftover : leftovers) {
        dir.write(leftover.name, "partial");
        age(dir.file(leftover.name), leftover.age);
    }
    // Neither a link nor a folder is ever removed, however old.
    std::filesystem::create_symlink(dir.file("out.txt"), dir.file(".out.txt.plistable-Link01"));
    age(dir.file(".out.txt.plistable-Link01"), 120);
    ::mkdir(dir.file(".out.txt.plistable-Fold01").c_str(), 0700);
    age(dir.file(".out.txt.plistable-Fold01"), 120);

    AtomicFile file(dir.file("out.txt"));
    file.write("new");
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(dir.read("out.txt"), "new");
    for (const auto& leftover : leftovers)
        EXPECT_EQ(std::filesystem::exists(dir.file(leftover.name)), !leftover.removed) << leftover.name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(".out.txt.plistable-Link01")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(".out.txt.plistable-Fold01")));
}

} // namespace

namespace {

void makeOld(const std::string& path)
{
    const timespec old[2] = {{::time(nullptr) - 600, 0}, {::time(nullptr) - 600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
}

// A writer quiet for longer than the age limit keeps its temporary file: only unlocked ones go.
TEST(AtomicFileTest, TheSweepRemovesOnlyTemporariesNoWriterHoldsLocked)
{
    TempDir dir;
    const std::string stale = dir.write(".out.txt.plistable-Stale1", "partial");
    const std::string live = dir.write(".out.txt.plistable-Alive1", "in progress");
    const std::string fresh = dir.write(".out.txt.plistable-Fresh1", "just begun");
    makeOld(stale);
    makeOld(live);
    const detail::FileDescriptor liveWriter(::open(live.c_str(), O_RDONLY));
    ASSERT_EQ(::flock(liveWriter.get(), LOCK_EX), 0);

    AtomicFile file(dir.file("out.txt"));
    // The writer's own temporary file is locked while it is written.
    const detail::FileDescriptor own(::open(file.temporaryPath().c_str(), O_RDONLY));
    EXPECT_NE(::flock(own.get(), LOCK_EX | LOCK_NB), 0);
    file.write("new");
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".out.txt.plistable-Alive1", ".out.txt.plistable-Fresh1",
                                                     "out.txt"}));
    EXPECT_EQ(dir.read("out.txt"), "new");
}

// Writing many files into one folder reads it once: a stale file that appears after the first
// write is left for the next run.
TEST(AtomicFileTest, TheSweepReadsEachFolderOncePerRun)
{
    TempDir dir;
    const std::size_t before = detail::temporaryFolderScans();
    for (int i = 0; i < 50; ++i) {
        // Built by appending: GCC 12 flags the concatenation with a false -Werror=restrict in Release.
        std::string name = "f";
        name += std::to_string(i);
        name += ".csv";
        AtomicFile file(dir.file(name));
        EXPECT_FALSE(file.commit());
        if (i == 0) {
            dir.write(".f1.csv.plistable-Later1", "left by a killed writer");
            makeOld(dir.file(".f1.csv.plistable-Later1"));
        }
    }
    EXPECT_EQ(detail::temporaryFolderScans() - before, 1u);
    EXPECT_TRUE(std::filesystem::exists(dir.file(".f1.csv.plistable-Later1")));
    TempDir other;
    AtomicFile file(other.file("x.csv"));
    EXPECT_EQ(detail::temporaryFolderScans() - before, 2u);
}

TEST(AtomicFileTest, TemporaryNamesAreRecognised)
{
    const struct {
        const char* name;
        bool temporary;
    } cases[] = {
        {".out.csv.plistable-a1B2c3", true},  {".x.plistable-abcdef", true},
        {"out.csv.plistable-a1B2c3", false},  {".out.csv.plistable-a1B2c", false},
        {".out.csv.plistable-a1B2c3d", false}, {"..plistable-abcdef", false},
        {".out.csv.plistabl-abcdef", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::isTemporaryName(c.name), c.temporary);
    }
}

} // namespace

namespace {

// Only a regular file, a link to one, a link to nothing or nothing is replaced; every other kind
// of target is refused at commit and stays what it was, with no temporary file left.
TEST(AtomicFileTest, OnlyRegularFilesAreReplaced)
{
    TempDir dir;
    dir.write("file", "old");
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    ::mkdir(dir.file("folder").c_str(), 0700);
    std::filesystem::create_symlink(dir.file("fifo"), dir.file("fifo-link"));
    std::filesystem::create_symlink(dir.file("folder"), dir.file("folder-link"));
    std::filesystem::create_symlink(dir.file("file"), dir.file("file-link"));
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling-link"));
    const struct {
        const char* target;
        std::error_code expected;
    } cases[] = {
        {"fifo", make_error_code(ReadError::NotARegularFile)},
        {"fifo-link", make_error_code(ReadError::NotARegularFile)},
        {"folder", std::make_error_code(std::errc::is_a_directory)},
        {"folder-link", std::make_error_code(std::errc::is_a_directory)},
        {"file-link", {}},
        {"dangling-link", {}},
        {"file", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        struct stat before {};
        ::lstat(dir.file(c.target).c_str(), &before);
        AtomicFile file(dir.file(c.target));
        file.write("new");
        EXPECT_EQ(file.commit(), c.expected);
        struct stat after {};
        ASSERT_EQ(::lstat(dir.file(c.target).c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, c.expected ? before.st_mode & S_IFMT : S_IFREG);
    }
    EXPECT_EQ(dir.read("file"), "new");
    EXPECT_EQ(dir.names().size(), 7u); // no temporary file
}

// Keep: a target that exists stays and commit() says file_exists; an absent one is written.
TEST(AtomicFileTest, KeepingAnExistingTargetIsDecidedAtCommit)
{
    TempDir dir;
    AtomicFile late(dir.file("out.txt"), ExistingTarget::Keep);
    late.write("late");
    AtomicFile early(dir.file("out.txt"), ExistingTarget::Keep);
    early.write("early");
    EXPECT_FALSE(early.commit());
    EXPECT_EQ(late.commit(), std::errc::file_exists);
    EXPECT_EQ(dir.read("out.txt"), "early");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
}

} // namespace
