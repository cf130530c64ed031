#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

namespace fs = std::filesystem;

// 200 files of every kind the converter meets, with the cases where order matters: two inputs
// with the same output name, an output that a later argument reads, an input that a later output
// replaces, a file named twice. Rebuilt from scratch before each run.
std::vector<std::string> makeTree(const std::string& root)
{
    fs::remove_all(root);
    for (const char* folder : {"in", "in/b", "out"})
        fs::create_directories(root + "/" + folder);
    auto write = [&](const std::string& name, const std::string& bytes) {
        const std::string path = root + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return path;
    };
    std::vector<std::string> args;
    for (int i = 0; args.size() < 190; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 10) {
        case 0: args.push_back(write("in/c" + n + ".csv", "h1,h2\n" + n + ",\"x,\ny\"\n")); break;
        case 1: args.push_back(write("in/s" + n + ".csv", "\x83\x65\x83\x58\x83\x67," + n + "\n")); break;
        case 2: args.push_back(write("in/bad" + n + ".csv", "a,\"unterminated\n")); break;
        case 3:
            args.push_back(write("in/d" + n + ".plist", "<plist><array><dict><key>k</key><string>" + n
                                                              + "</string></dict><dict><key>z</key><integer>1"
                                                                "</integer></dict></array></plist>"));
            break;
        case 4:
            args.push_back(write("in/a" + n + ".plist",
                                 "<?xml version=\"1.0\"?><plist><array><array><string>" + n
                                     + "</string><true/></array></array></plist>"));
            break;
        case 5: args.push_back(write("in/r" + n + ".plist", "<plist><dict/></plist>")); break;
        case 6: args.push_back(write("in/m" + n + ".plist", "<plist><array><dict><key>a</key>")); break;
        case 7:
            args.push_back(write("in/k" + n + ".plist",
                                 "<plist><array><array/><dict/></array></plist>"));
            break;
        case 8: args.push_back(write("in/t" + n + ".txt", "text")); break;
        case 9: args.push_back(root + "/in/missing" + n + ".csv"); break;
        }
    }
    // Same output name: the later wins.
    args.push_back(write("in/same.csv", "first\n"));
    args.push_back(write("in/b/same.csv", "second\n"));
    // An output read by a later argument, which then writes over the first input's name.
    args.push_back(write("in/chain.csv", "1,2\n"));
    args.push_back(root + "/out/chain.plist");
    // An input that a later argument's output replaces (out/over.plist is read, then rewritten).
    args.push_back(write("out/over.plist", "<plist><array><array><string>old</string></array></array></plist>"));
    args.push_back(write("in/over.csv", "new\n"));
    // The same file twice, and a few more independent ones.
    args.push_back(args.front());
    for (int i = 0; i < 3; ++i)
        args.push_back(write("in/tail" + std::to_string(i) + ".csv", "t\n"));
    return args;
}

std::map<std::string, std::string> filesUnder(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::FILE* file = std::fopen(entry.path().c_str(), "rb");
        std::string bytes;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
        files[entry.path().string()] = bytes;
    }
    return files;
}

TEST(ConvertJobsTest, ParallelRunGivesExactlyTheSequentialResult)
{
    TempDir dir;
    const std::string root = dir.file("tree");
    const std::string settings = dir.file("settings.json");
    std::vector<std::string> args = makeTree(root);
    ASSERT_EQ(args.size(), 200u);
    auto run = [&](const std::string& jobs) {
        std::vector<std::string> full{"convert", "-j", jobs, "-o", root + "/out"};
        full.insert(full.end(), args.begin(), args.end());
        makeTree(root);
        return runCli(full, settings);
    };
    const CliResult sequential = run("1");
    const auto sequentialFiles = filesUnder(root);
    EXPECT_EQ(sequential.status, 1);
    EXPECT_NE(sequential.err.find("were left out"), std::string::npos);
    for (const std::string jobs : {"4", "0", "2"}) {
        SCOPED_TRACE("-j " + jobs);
        const CliResult parallel = run(jobs);
        EXPECT_EQ(parallel.status, sequential.status);
        EXPECT_EQ(parallel.out, sequential.out);
        EXPECT_EQ(parallel.err, sequential.err);
        EXPECT_EQ(filesUnder(root), sequentialFiles);
    }
    EXPECT_EQ(sequentialFiles.at(root + "/out/same.plist").find("second") != std::string::npos, true);
}

// Standard output that another thread can watch while the command runs.
class WatchedOutput : public std::streambuf {
public:
    std::string text()
    {
        const std::lock_guard lock(_mutex);
        return _text;
    }
    // Whether `expected` was printed within `limit`.
    bool waitFor(const std::string& expected, std::chrono::seconds limit)
    {
        std::unique_lock lock(_mutex);
        return _printed.wait_for(lock, limit, [&] { return _text.find(expected) != std::string::npos; });
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char byte = traits_type::to_char_type(c);
            xsputn(&byte, 1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* bytes, std::streamsize count) override
    {
        const std::lock_guard lock(_mutex);
        _text.append(bytes, static_cast<std::size_t>(count));
        _printed.notify_all();
        return count;
    }

private:
    std::mutex _mutex;
    std::condition_variable _printed;
    std::string _text;
};

// Opens the pipe for writing once its reader has opened it, writes `bytes` and closes it; false when
// no reader came within the limit.
bool feedPipe(const std::string& path, const std::string& bytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int writer = -1;
    while ((writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (writer < 0)
        return false;
    const bool written = ::write(writer, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(writer);
    return written;
}

TEST(ConvertJobsTest, EachReportIsPrintedOnceItsFileAndEveryOneBeforeItAreDone)
{
    // The last input is a pipe that stays open and empty until the earlier reports are printed: a
    // run that prints only once every file is done never shows them while it waits.
    const struct {
        const char* jobs;
    } cases[] = {{"1"}, {"2"}, {"3"}};
    struct Run {
        std::string out;
        std::string err;
        int status;
    };
    std::vector<Run> runs;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("-j ") + c.jobs);
        TempDir dir;
        const std::string a = dir.write("a.csv", "a,b\n1,2\n");
        const std::string bad = dir.write("bad.csv", "a,\"open\n");
        const std::string notes = dir.write("notes.txt", "x");
        const std::string pipe = dir.file("pipe.csv");
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        ::mkdir(dir.file("out").c_str(), 0700);

        WatchedOutput watched;
        std::ostream out(&watched);
        std::ostringstream err;
        std::istringstream in;
        int status = -1;
        std::thread command([&] {
            status = plistable::cli::run({"plistable", "convert", "-j", c.jobs, "-o", dir.file("out"), a, bad,
                                          notes, pipe},
                                         in, out, err, dir.file("settings.json"));
        });
        const bool earlierShown = watched.waitFor(a + " -> " + dir.file("out/a.plist") + "\n", std::chrono::seconds(20));
        const bool fed = feedPipe(pipe, "p\n");
        command.join();
        EXPECT_TRUE(earlierShown) << watched.text();
        EXPECT_TRUE(fed);
        EXPECT_NE(watched.text().find(pipe + " -> "), std::string::npos) << watched.text();
        // Reports relative to the run's own folder, so the runs can be compared.
        auto relative = [&dir](std::string text) {
            for (std::size_t at; (at = text.find(dir.path())) != std::string::npos;)
                text.replace(at, dir.path().size(), "DIR");
            return text;
        };
        runs.push_back({relative(watched.text()), relative(err.str()), status});
    }
    ASSERT_EQ(runs.size(), std::size(cases));
    EXPECT_NE(runs[0].err.find("bad.csv"), std::string::npos) << runs[0].err;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].jobs);
        EXPECT_EQ(runs[i].out, runs[0].out);
        EXPECT_EQ(runs[i].err, runs[0].err);
        EXPECT_EQ(runs[i].status, runs[0].status);
    }
}

} // namespace
