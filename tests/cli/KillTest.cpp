// The built tool killed (SIGKILL) at random points while it converts a large file: the output
// folder must then hold the old output or the whole new one, never a part, and at most temporary
// files, which the next conversion does not mind.
#include "support/TestSupport.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using plistable::test::TempDir;

using plistable::test::sanitized;

namespace {

// Starts `plistable convert -o OUT SOURCE` with its settings under `config`; returns the child.
pid_t startConversion(const std::string& config, const std::string& out, const std::string& source)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execl(PLISTABLE_BINARY, PLISTABLE_BINARY, "convert", "-o", out.c_str(), source.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

bool isTemporaryOf(const std::string& name, const std::string& target)
{
    const std::string prefix = "." + target + ".plistable-";
    return name.size() == prefix.size() + 6 && name.starts_with(prefix);
}

TEST(KillTest, AKilledConversionLeavesTheOldOutputOrTheWholeNewOne)
{
    TempDir dir;
    // About 50 MB of CSV (a quarter under the sanitizer) in lines of ten 50-character fields.
    const std::size_t lines = (sanitized ? 12 : 50) * (1 << 20) / 510;
    {
        std::string text;
        std::string line;
        for (int f = 0; f < 10; ++f)
            line += (f ? "," : "") + std::string(49, static_cast<char>('a' + f)) + "%";
        line += "\n";
        text.reserve(line.size() * lines);
        for (std::size_t i = 0; i < lines; ++i)
            text += line;
        dir.write("data.csv", text);
    }
    const std::string config = dir.file("config");
    const std::string out = dir.file("out");
    ::mkdir(out.c_str(), 0700);
    const std::string source = dir.file("data.csv");

    // The reference conversion, timed only to spread the kills over a run's length.
    const auto started = std::chrono::steady_clock::now();
    int status = waitFor(startConversion(config, dir.path(), source));
    const auto runTime = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string reference = dir.read("data.plist");
    const std::string old = "<?xml version=\"1.0\"?>\n<plist><array/></plist>\n";
    dir.write("out/data.plist", old);

    std::mt19937 random(20240601);
    std::uniform_int_distribution<long> fraction(0, 1000);
    const long runMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(runTime).count();
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 6; ++round) {
        const long delay = runMicroseconds * fraction(random) / 1000;
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(delay) + " us");
        const pid_t pid = startConversion(config, out, source);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ::kill(pid, SIGKILL);
        waitFor(pid);

        const std::string now = dir.read("out/data.plist");
        EXPECT_TRUE(now == old || now == reference) << "a partial output of " << now.size() << " bytes";
        (now == old ? sawOld : sawNew) += 1;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == "data.plist" || isTemporaryOf(name, "data.plist")) << name;
        }
        // Start the next round from the old output, so that every round can show a partial one.
        dir.write("out/data.plist", old);
    }
    RecordProperty("killedBeforeRename", sawOld);
    RecordProperty("killedAfterRename", sawNew);

    // The next run converts whole, whatever temporary files the killed ones left.
    status = waitFor(startConversion(config, out, source));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(dir.read("out/data.plist"), reference);
}

} // namespace
