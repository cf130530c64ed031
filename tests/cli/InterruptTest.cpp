// The built tool sent SIGINT, SIGTERM or SIGHUP while it converts: it removes its temporary file,
// leaves an older output as it was and exits 128 + the signal.
#include "support/TestSupport.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using plistable::test::TempDir;

namespace {

// Starts the tool with `args` (standard input from `input`, output and errors to `errors`).
pid_t start(const TempDir& dir, const std::vector<std::string>& args, const std::string& input,
            const std::string& errors)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
        const int in = ::open(input.c_str(), O_RDONLY);
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(in, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(PLISTABLE_BINARY)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(PLISTABLE_BINARY, argv.data());
        ::_exit(127);
    }
    return pid;
}

bool running(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

int exitCode(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(InterruptTest, SigintDuringALargeConversionRemovesTheTemporaryFileAndKeepsTheOldOutput)
{
    TempDir dir;
    const std::string out = dir.file("out");
    ::mkdir(out.c_str(), 0700);
    // About 200 MB of property list: far more than 150 ms of work even in an optimised build.
    {
        const std::string row = "<array><string>" + std::string(80, 'x') + "</string><string>12345</string></array>\n";
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n";
        const std::size_t rows = (200u << 20) / row.size();
        text.reserve(rows * row.size() + 64);
        for (std::size_t i = 0; i < rows; ++i)
            text += row;
        text += "</array>\n</plist>\n";
        dir.write("big.plist", text);
    }
    const std::string old = "an older output\n";
    dir.write("out/big.csv", old);

    const pid_t pid = start(dir, {"convert", "-o", out, dir.file("big.plist")}, "/dev/null", dir.file("err"));
    ASSERT_GT(pid, 0);
    // Signal once the temporary output exists: the conversion has begun, so the handlers are in
    // place (a signal before that would end the process as signals do, on a busy machine too).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (namesIn(out).size() < 2 && running(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(running(pid)) << "the conversion ended before its temporary file was seen; make the input larger";
    ::kill(pid, SIGINT);
    EXPECT_EQ(exitCode(pid), 130);
    EXPECT_EQ(dir.read("out/big.csv"), old);
    EXPECT_EQ(namesIn(out), std::vector<std::string>{"big.csv"}); // no temporary file
    EXPECT_NE(dir.read("err").find("big.plist: stopped on request; nothing was written"), std::string::npos)
        << dir.read("err");
    std::filesystem::remove(dir.file("big.plist"));
}

// A read blocked on a pipe ends too: standard input, and a named pipe given as FILE.
TEST(InterruptTest, EachSignalEndsABlockedReadWithItsOwnExitStatus)
{
    struct Case {
        const char* name;
        int signal;
        int exit;
        bool fromStdin;
    };
    const Case cases[] = {
        {"SIGINT, named pipe", SIGINT, 130, false},
        {"SIGTERM, standard input to standard output", SIGTERM, 143, true},
        {"SIGHUP, named pipe", SIGHUP, 129, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string fifo = dir.file("in.csv");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string old = "an older output\n";
        dir.write("in.plist", old);
        const std::vector<std::string> args = c.fromStdin
                                                  ? std::vector<std::string>{"convert", "--from", "csv", "-", "-o", "-"}
                                                  : std::vector<std::string>{"convert", "-o", dir.path(), fifo};
        // The writer end is held open and silent, so the tool's read blocks; opening for reading
        // in the child waits for it.
        const pid_t pid = start(dir, args, c.fromStdin ? fifo : "/dev/null", dir.file("err"));
        ASSERT_GT(pid, 0);
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(running(pid));
        ::kill(pid, c.signal);
        EXPECT_EQ(exitCode(pid), c.exit);
        ::close(writer);
        // Reported as every stopped conversion is, standard input too.
        const std::string source = c.fromStdin ? std::string("standard input") : fifo;
        EXPECT_EQ(dir.read("err"), source + ": stopped on request; nothing was written\n");
        EXPECT_EQ(dir.read("in.plist"), old);
        std::vector<std::string> names = namesIn(dir.path());
        std::erase(names, "config"); // the settings folder, when the tool made one
        EXPECT_EQ(names, (std::vector<std::string>{"err", "in.csv", "in.plist"}));
    }
}

} // namespace
