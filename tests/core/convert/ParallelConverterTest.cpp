#include "core/convert/ParallelConverter.hpp"

#include "core/Log.hpp"
#include "core/UserDefaults.hpp"
#include "core/io/detail/QuietThread.hpp"
#include "support/TestSupport.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>

using namespace plistable;
using plistable::test::TempDir;

namespace {

namespace fs = std::filesystem;
using Status = ConversionReport::Status;

class ParallelConverterTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    // An empty folder to convert into, made anew.
    std::string freshFolder(const std::string& name)
    {
        fs::remove_all(dir.file(name));
        fs::create_directories(dir.file(name));
        return dir.file(name);
    }
};

// What a caller hears, in the order it hears it on its own thread: log lines and handed-over reports.
struct Transcript {
    std::vector<std::string> events;
    std::vector<ConversionReport> returned;
};

TEST_F(ParallelConverterTest, HandsReportsOverInArgumentOrderAsOneThreadWould)
{
    const std::string folder = dir.file("out");
    // Files that convert, fall back to Mac OS Roman, fail, are passed over, and one that reads the
    // output of an earlier one, so that the hand-over cannot simply follow the threads' finishing
    // order. Any log line must come where one thread would have logged it.
    const std::vector<std::string> paths = {
        dir.write("latin1.csv", "caf\xE9,\xE9t\xE9\n"),
        dir.write("a.csv", "a,b\n1,2\n"),
        dir.write("notes.txt", "x"),
        dir.file("missing.csv"),
        dir.write("list.plist", "<plist><array><array><string>x</string></array></array></plist>"),
        folder + "/a.plist",
        dir.write("latin2.csv", "na\xEFve\n"),
        dir.write("bad.csv", "a,\"open\n"),
        dir.write("b.csv", "c\n3\n"),
    };
    auto run = [&](unsigned jobs) {
        freshFolder("out");
        Transcript transcript;
        const LogSink previous = setLogSink(
            [&transcript](std::string_view line) { transcript.events.push_back("log " + std::string(line)); });
        ParallelHooks hooks;
        hooks.finished = [&transcript](std::size_t index, const ConversionReport& report) {
            transcript.events.push_back("report " + std::to_string(index) + " " + report.sourcePath + " -> "
                                        + report.outputPath + " status "
                                        + std::to_string(static_cast<int>(report.status)));
        };
        transcript.returned = ParallelConverter(defaults).convertFiles(paths, folder, jobs, hooks);
        setLogSink(previous);
        return transcript;
    };
    const Transcript sequential = run(1);
    ASSERT_EQ(sequential.returned.size(), paths.size());
    ASSERT_GE(sequential.events.size(), paths.size());
    EXPECT_EQ(sequential.returned[5].status, Status::Converted); // the output of a.csv, read back
    for (const unsigned jobs : {2u, 4u}) {
        SCOPED_TRACE(jobs);
        const Transcript parallel = run(jobs);
        EXPECT_EQ(parallel.events, sequential.events);
        ASSERT_EQ(parallel.returned.size(), paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(parallel.returned[i].status, sequential.returned[i].status) << i;
            EXPECT_EQ(parallel.returned[i].problems, sequential.returned[i].problems) << i;
        }
    }
}

TEST_F(ParallelConverterTest, HandsTheFirstReportOverWhileALaterFileIsStillConverting)
{
    const std::vector<std::string> paths = {dir.write("a.csv", "a\n"), dir.write("b.csv", "b\n")};
    std::mutex mutex;
    std::condition_variable firstHandedOver;
    bool first = false;
    bool secondWaited = false;
    bool firstCameWhileSecondConverted = false;
    ParallelHooks hooks;
    hooks.finished = [&](std::size_t index, const ConversionReport&) {
        const std::lock_guard lock(mutex);
        if (index == 0)
            first = true;
        firstHandedOver.notify_all();
    };
    // The second file cannot end until the first report is handed over; a converter that hands
    // reports over only after every file is done gets here and waits out the time.
    hooks.progress = [&](std::size_t index, std::uint64_t, std::uint64_t) {
        if (index != 1)
            return;
        std::unique_lock lock(mutex);
        secondWaited = true;
        firstCameWhileSecondConverted = firstHandedOver.wait_for(lock, std::chrono::seconds(20), [&] { return first; });
    };
    const std::vector<ConversionReport> reports =
        ParallelConverter(defaults).convertFiles(paths, freshFolder("out"), 2, hooks);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].status, Status::Converted);
    EXPECT_TRUE(secondWaited);
    EXPECT_TRUE(firstCameWhileSecondConverted);
}

TEST_F(ParallelConverterTest, ProgressNamesTheFileItIsAbout)
{
    // Sizes that tell the files apart; the last report of each file is its whole size.
    std::vector<std::string> paths;
    std::map<std::size_t, std::uint64_t> sizes;
    for (std::size_t i = 0; i < 6; ++i) {
        // Built by appending: GCC 12 flags these concatenations with a false -Werror=restrict in Release.
        std::string rows;
        for (std::size_t r = 0; r <= i * 7; ++r) {
            rows += "row";
            rows += std::to_string(r);
            rows += '\n';
        }
        std::string name = "f";
        name += std::to_string(i);
        name += i % 2 == 0 ? ".csv" : ".plist";
        std::string contents = rows;
        if (i % 2 != 0) {
            contents = "<plist><array><array><string>";
            contents += rows;
            contents += "</string></array></array></plist>";
        }
        paths.push_back(dir.write(name, contents));
        sizes[i] = contents.size();
    }
    for (const unsigned jobs : {1u, 3u}) {
        SCOPED_TRACE(jobs);
        std::mutex mutex;
        std::map<std::size_t, std::vector<std::pair<std::uint64_t, std::uint64_t>>> heard;
        std::size_t plainCalls = 0;
        ParallelHooks hooks;
        hooks.progress = [&](std::size_t index, std::uint64_t done, std::uint64_t total) {
            const std::lock_guard lock(mutex);
            heard[index].emplace_back(done, total);
        };
        ConversionOptions options;
        options.run.progress = [&](std::uint64_t, std::uint64_t) {
            const std::lock_guard lock(mutex);
            ++plainCalls;
        };
        ParallelConverter(defaults, options).convertFiles(paths, freshFolder("out"), jobs, hooks);
        ASSERT_EQ(heard.size(), paths.size());
        std::size_t hookCalls = 0;
        for (const auto& [index, calls] : heard) {
            SCOPED_TRACE(index);
            hookCalls += calls.size();
            for (const auto& [done, total] : calls) {
                EXPECT_EQ(total, sizes.at(index));
                EXPECT_LE(done, total);
            }
            EXPECT_EQ(calls.back().first, sizes.at(index));
        }
        EXPECT_EQ(plainCalls, hookCalls);
    }
}

TEST_F(ParallelConverterTest, CancelledBeforeTheStartStartsNothingAndReportsEveryFileInOrder)
{
    std::vector<std::string> paths;
    for (const char* name : {"a.csv", "b.plist", "c.csv", "d.csv"})
        paths.push_back(dir.write(name, "x\n"));
    const std::atomic<bool> cancel{true};
    ConversionOptions options;
    options.run.cancel = &cancel;
    for (const unsigned jobs : {1u, 3u}) {
        SCOPED_TRACE(jobs);
        std::mutex mutex;
        std::vector<std::size_t> started;
        std::vector<std::size_t> finished;
        ParallelHooks hooks;
        hooks.started = [&](std::size_t index) {
            const std::lock_guard lock(mutex);
            started.push_back(index);
        };
        hooks.finished = [&](std::size_t index, const ConversionReport& report) {
            EXPECT_EQ(report.status, Status::Cancelled);
            finished.push_back(index);
        };
        const std::string folder = freshFolder("out");
        const std::vector<ConversionReport> reports =
            ParallelConverter(defaults, options).convertFiles(paths, folder, jobs, hooks);
        EXPECT_TRUE(started.empty());
        EXPECT_EQ(finished, (std::vector<std::size_t>{0, 1, 2, 3}));
        ASSERT_EQ(reports.size(), paths.size());
        for (const ConversionReport& report : reports)
            EXPECT_EQ(report.status, Status::Cancelled);
        EXPECT_TRUE(fs::is_empty(folder));
    }
}

} // namespace

namespace {

// While it lives, no thread can be started, as when the system has none to give.
struct RefusedThreads {
    RefusedThreads() { detail::refuseThreadStartsForTesting(true); }
    ~RefusedThreads() { detail::refuseThreadStartsForTesting(false); }
};

// A conversion whose threads cannot start (the reader's writer thread, the output's background
// writer, the parallel workers) runs on the calling thread: the same files, reports and outputs,
// no temporary file left, no exception.
TEST_F(ParallelConverterTest, ThreadsThatCannotStartLeaveTheWorkToTheCallingThread)
{
    std::string big;
    for (int i = 0; big.size() < (6u << 20); ++i)
        big += std::to_string(i) + ",\"field " + std::to_string(i) + "\",x\n";
    const std::vector<std::string> paths = {dir.write("big.csv", big), dir.write("a.csv", "a,b\n1,2\n"),
                                            dir.write("list.plist", "<plist><array><array/></array></plist>"),
                                            dir.write("bad.csv", "a\n\"b\"c\n")};
    const struct {
        const char* name;
        unsigned jobs;
        OutputFormat format;
    } cases[] = {{"one job", 1, OutputFormat::Xml}, {"four jobs", 4, OutputFormat::Xml},
                 {"four jobs, binary", 4, OutputFormat::Binary}, {"four jobs, JSON", 4, OutputFormat::Json}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionOptions options;
        options.output.format = c.format;
        auto run = [&](const std::string& folder) {
            std::vector<std::string> written;
            for (const ConversionReport& report :
                 ParallelConverter(defaults, options).convertFiles(paths, freshFolder(folder), c.jobs))
                written.push_back(std::to_string(static_cast<int>(report.status)) + " "
                                  + testing::PrintToString(report.problems));
            for (const auto& entry : fs::directory_iterator(dir.file(folder)))
                written.push_back(entry.path().filename().string() + " "
                                  + dir.read(folder + "/" + entry.path().filename().string()));
            std::sort(written.begin() + static_cast<std::ptrdiff_t>(paths.size()), written.end());
            return written;
        };
        const std::vector<std::string> threaded = run("threaded");
        RefusedThreads refused;
        EXPECT_EQ(run("alone"), threaded);
    }
}

} // namespace
