#include "core/io/detail/FileDescriptor.hpp"

#include "core/io/ReadError.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <sys/socket.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <utility>

using plistable::detail::checkReadableKind;
using plistable::detail::FileDescriptor;
using plistable::detail::readSome;
using plistable::detail::writeAll;

namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

Pipe makePipe()
{
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

TEST(FileDescriptorTest, WritesEveryByteAndReadsThemBack)
{
    const std::size_t sizes[] = {0, 1, 7, 4096, 60000};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        Pipe pipe = makePipe();
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('a' + i % 26);
        EXPECT_FALSE(writeAll(pipe.writeEnd.get(), bytes.data(), bytes.size()));
        pipe.writeEnd = FileDescriptor();
        std::string read;
        char chunk[1000];
        ssize_t n;
        while ((n = readSome(pipe.readEnd.get(), chunk, sizeof chunk)) > 0)
            read.append(chunk, static_cast<std::size_t>(n));
        EXPECT_EQ(n, 0);
        EXPECT_EQ(read, bytes);
    }
}

TEST(FileDescriptorTest, ReportsTheSystemErrorOnABadDescriptor)
{
    char byte = 'x';
    EXPECT_EQ(writeAll(-1, &byte, 1), std::error_code(EBADF, std::generic_category()));
    EXPECT_EQ(readSome(-1, &byte, 1), -1);
}

TEST(FileDescriptorTest, ClosesOnDestructionAndHandsOverOnMove)
{
    // Each action returns what survives the original's scope.
    struct Case {
        const char* name;
        FileDescriptor (*act)(FileDescriptor& original);
        bool openAfterScope;
    };
    const Case cases[] = {
        {"destroyed", [](FileDescriptor&) { return FileDescriptor(); }, false},
        {"moved", [](FileDescriptor& original) { return FileDescriptor(std::move(original)); }, true},
        {"released", [](FileDescriptor& original) { return FileDescriptor(original.release()); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        FileDescriptor kept;
        {
            FileDescriptor original(fd);
            kept = c.act(original);
            EXPECT_EQ(original.valid(), !c.openAfterScope);
        }
        EXPECT_EQ(isOpen(fd), c.openAfterScope);
        EXPECT_EQ(kept.get(), c.openAfterScope ? fd : -1);
    }
}

TEST(FileDescriptorTest, MoveAssignmentClosesTheDescriptorItReplaces)
{
    Pipe pipe = makePipe();
    const int replaced = pipe.readEnd.get();
    pipe.readEnd = std::move(pipe.writeEnd);
    EXPECT_FALSE(isOpen(replaced));
    EXPECT_FALSE(pipe.writeEnd.valid());
    EXPECT_TRUE(pipe.readEnd.valid());
}

// Regular files and pipes are read; folders, devices and sockets are refused before any read.
TEST(FileDescriptorTest, OnlyRegularFilesAndPipesAreReadableKinds)
{
    plistable::test::TempDir dir;
    const std::string file = dir.write("f", "x");
    Pipe pipe = makePipe();
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    const FileDescriptor socketEnd(sockets[0]), otherEnd(sockets[1]);
    const FileDescriptor regular(::open(file.c_str(), O_RDONLY)), folder(::open(dir.path().c_str(), O_RDONLY)),
        zero(::open("/dev/zero", O_RDONLY)), null(::open("/dev/null", O_RDONLY));
    const std::error_code notAFile = make_error_code(plistable::ReadError::NotAFileOrPipe);
    struct Case {
        const char* name;
        int fd;
        std::error_code expected;
    };
    const Case cases[] = {
        {"regular file", regular.get(), {}},
        {"pipe", pipe.readEnd.get(), {}},
        {"folder", folder.get(), std::make_error_code(std::errc::is_a_directory)},
        {"endless device", zero.get(), notAFile},
        {"empty device", null.get(), notAFile},
        {"socket", socketEnd.get(), notAFile},
        {"no descriptor", -1, std::make_error_code(std::errc::bad_file_descriptor)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkReadableKind(c.fd), c.expected);
    }
    EXPECT_EQ(notAFile.message(), "not a regular file or a pipe");
    EXPECT_EQ(make_error_code(plistable::ReadError::TooLarge).message(), "too large to read into memory");
}

} // namespace

namespace {

std::atomic<bool> stopFlag = false;
extern "C" void setStopFlag(int)
{
    stopFlag = true;
}

// A read blocked on an empty pipe: a signal that sets the stop flag ends it (ECANCELED); one that
// does not is retried, and the read then returns what arrives.
TEST(FileDescriptorTest, AnInterruptedReadEndsOnlyWhenTheStopFlagIsSet)
{
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = setStopFlag;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &previous); // no SA_RESTART: read() returns EINTR
    for (const bool setsFlag : {true, false}) {
        SCOPED_TRACE(setsFlag ? "flag set" : "flag not set");
        Pipe pipe = makePipe();
        stopFlag = false;
        std::atomic<bool> never = false;
        const std::atomic<bool>* watched = setsFlag ? &stopFlag : &never;
        const pthread_t reader = ::pthread_self();
        std::thread signaller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!setsFlag) {
                EXPECT_EQ(::write(pipe.writeEnd.get(), "x", 1), 1);
            }
        });
        char byte = 0;
        const ssize_t n = readSome(pipe.readEnd.get(), &byte, 1, watched);
        const int error = errno;
        signaller.join();
        if (setsFlag) {
            EXPECT_EQ(n, -1);
            EXPECT_EQ(error, ECANCELED);
        } else {
            EXPECT_EQ(n, 1);
            EXPECT_EQ(byte, 'x');
        }
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace
