// Where the conversions write: an output is only ever replaced by a complete new file, through a
// symbolic link never, into a missing or read-only folder not at all (with a report), and
// temporary files that a killed run left behind are cleared once they are stale.
#include "core/io/AtomicFile.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/UserDefaults.hpp"

#include "support/ReadOnlyFolder.hpp"
#include "support/TestSupport.hpp"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <time.h>

using namespace plistable;
using plistable::test::TempDir;

namespace {

const std::string csv = "a,b\n1,2\n";
const std::string plist = "<?xml version=\"1.0\"?>\n<plist><array><array><string>a</string></array></array></plist>";

// Sets the modification time of `path` (not following a link) `seconds` into the past.
void age(const std::string& path, int seconds)
{
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

class AtomicityTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    // Converts data.csv and list.plist into `folder`; the reports in that order.
    std::vector<ConversionReport> convertBoth(const std::string& folder)
    {
        const std::string csvPath = dir.write("data.csv", csv);
        const std::string plistPath = dir.write("list.plist", plist);
        FileConverter converter(defaults);
        return converter.convertDroppedFiles({csvPath, plistPath}, folder);
    }
};

TEST_F(AtomicityTest, ASymbolicLinkAtTheOutputIsReplacedNotWrittenThrough)
{
    ::mkdir(dir.file("out").c_str(), 0700);
    dir.write("precious.plist", "precious plist");
    dir.write("precious.csv", "precious csv");
    std::filesystem::create_symlink(dir.file("precious.plist"), dir.file("out/data.plist"));
    std::filesystem::create_symlink(dir.file("precious.csv"), dir.file("out/list.csv"));

    for (const ConversionReport& report : convertBoth(dir.file("out")))
        EXPECT_EQ(report.status, ConversionReport::Status::Converted) << report.sourcePath;
    EXPECT_EQ(dir.read("precious.plist"), "precious plist");
    EXPECT_EQ(dir.read("precious.csv"), "precious csv");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("out/data.plist")));
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("out/list.csv")));
    EXPECT_EQ(dir.read("out/list.csv"), "a\n");
}

TEST_F(AtomicityTest, AMissingOutputFolderFailsBothConversionsWithTheReason)
{
    const std::string missing = dir.file("missing");
    const auto reports = convertBoth(missing);
    ASSERT_EQ(reports.size(), 2u);
    const std::string outputs[] = {missing + "/data.plist", missing + "/list.csv"};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(outputs[i]);
        EXPECT_EQ(reports[i].status, ConversionReport::Status::Failed);
        ASSERT_FALSE(reports[i].problems.empty());
        EXPECT_EQ(reports[i].problems[0], "cannot write " + outputs[i] + ": No such file or directory");
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(AtomicityTest, AReadOnlyOutputFolderFailsAndKeepsTheOldOutputs)
{
    ::mkdir(dir.file("out").c_str(), 0755);
    dir.write("out/data.plist", "old plist");
    dir.write("out/list.csv", "old csv");
    std::vector<ConversionReport> reports;
    {
        test::ReadOnlyFolder readOnly(dir.file("out"));
        if (!readOnly.effective())
            GTEST_SKIP() << "this process can still create files in a read-only folder";
        reports = convertBoth(dir.file("out"));
    }
    ASSERT_EQ(reports.size(), 2u);
    for (const ConversionReport& report : reports) {
        SCOPED_TRACE(report.sourcePath);
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        ASSERT_FALSE(report.problems.empty());
        EXPECT_EQ(report.problems[0].rfind("cannot write " + dir.file("out/"), 0), 0u) << report.problems[0];
    }
    EXPECT_EQ(dir.read("out/data.plist"), "old plist");
    EXPECT_EQ(dir.read("out/list.csv"), "old csv");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data.csv", "list.plist", "out"}));
}

TEST_F(AtomicityTest, StaleTemporariesOfTheSameTargetAreRemovedByTheNextWrite)
{
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
