// Awkward file names through the convert command: spaces, line breaks, bytes that are not UTF-8,
// names that look like options, and output folders that are missing.
#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

const std::string csv = "a,b\n1,2\n";

class PathsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string settings = dir.file("conf/settings.json");

    void SetUp() override { ::mkdir(dir.file("out").c_str(), 0700); }
};

TEST_F(PathsTest, NamesWithSpacesLineBreaksAndOtherBytesKeepThemInTheOutput)
{
    const std::string names[] = {"with space", "line\nbreak", "caf\xE9 latin-1", "tab\there", "\xFF\xFE", "quote\"d",
                                 "a.b.c"};
    for (const std::string& name : names) {
        SCOPED_TRACE(plistable::test::hex(name));
        const std::string source = dir.write(name + ".csv", csv);
        const CliResult result = runCli({"convert", "-o", dir.file("out"), source}, settings);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, source + " -> " + dir.file("out/" + name + ".plist") + "\n");
        EXPECT_NE(dir.read("out/" + name + ".plist").find("<string>1</string>"), std::string::npos);
    }
}

TEST_F(PathsTest, NamesBeginningWithADashAreFilesAfterTheMarkerOrAPath)
{
    dir.write("-x.csv", csv);
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const CliResult afterMarker = runCli({"convert", "-o", "out", "--", "-x.csv"}, settings);
    const CliResult asPath = runCli({"convert", "-o", "out", "./-x.csv", "--no-header"}, settings);
    const CliResult asOption = runCli({"convert", "-o", "out", "-x.csv"}, settings);
    ASSERT_EQ(::chdir(previous.c_str()), 0);

    EXPECT_EQ(afterMarker.status, 0) << afterMarker.err;
    EXPECT_EQ(afterMarker.out, "-x.csv -> out/-x.plist\n");
    EXPECT_EQ(asPath.status, 0) << asPath.err;
    EXPECT_EQ(asPath.out, "./-x.csv -> out/-x.plist\n");
    EXPECT_EQ(asOption.status, 2); // an unknown option, not a file
    EXPECT_NE(dir.read("out/-x.plist").find("<string>1</string>"), std::string::npos);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"-x.csv", "out"}));
}

TEST_F(PathsTest, AMissingOutputFolderIsReportedForEachFile)
{
    const std::string source = dir.write("data.csv", csv);
    const std::string list = dir.write("list.plist", "<plist><array/></plist>");
    const std::string missing = dir.file("missing");
    const CliResult result = runCli({"convert", "-o", missing, source, list}, settings);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, source + ": cannot write " + missing + "/data.plist: No such file or directory\n" + list
                              + ": cannot write " + missing + "/list.csv: No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(PathsTest, ASymbolicLinkAtTheOutputIsReplacedByTheConvertedFile)
{
    const std::string source = dir.write("data.csv", csv);
    dir.write("precious.txt", "precious");
    std::filesystem::create_symlink(dir.file("precious.txt"), dir.file("out/data.plist"));
    const CliResult result = runCli({"convert", "-o", dir.file("out"), source}, settings);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir.read("precious.txt"), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("out/data.plist")));
}

} // namespace
