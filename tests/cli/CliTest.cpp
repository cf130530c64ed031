#include "CliRun.hpp"
#include "support/TestSupport.hpp"

using plistable::test::CliResult;
using plistable::test::TempDir;

namespace {

CliResult run(const std::vector<std::string>& args, const std::string& settings)
{
    return plistable::test::runCli(args, settings);
}

TEST(CliTest, ConfigShowsAndStoresTheHeaderSetting)
{
    TempDir dir;
    const std::string settings = dir.file("conf/settings.json");
    EXPECT_EQ(run({"config"}, settings).out, "header = off\n");
    EXPECT_EQ(run({"config", "header", "on"}, settings).status, 0);
    EXPECT_EQ(run({"config"}, settings).out, "header = on\n");
    EXPECT_EQ(run({"config", "header", "off"}, settings).status, 0);
    EXPECT_EQ(run({"config", "header"}, settings).out, "header = off\n");
    EXPECT_EQ(run({"config", "header", "maybe"}, settings).status, 2);
}

TEST(CliTest, DetectEncodingPrintsPathIdentifierAndName)
{
    TempDir dir;
    const std::string sjis = dir.write("sjis.csv", "\x93\xFA\x96\x7B,x\n");
    const std::string utf8 = dir.write("utf8.csv", "a,b\n");
    const CliResult result = run({"detect-encoding", sjis, utf8}, dir.file("s.json"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, sjis + "\t8\tShift_JIS\n" + utf8 + "\t4\tUTF-8\n");
    const CliResult missing = run({"detect-encoding", dir.file("none.csv")}, dir.file("s.json"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.csv"), std::string::npos);
}

TEST(CliTest, UsageErrorsExitWithTwo)
{
    TempDir dir;
    EXPECT_EQ(run({}, dir.file("s.json")).status, 2);
    EXPECT_EQ(run({"frobnicate"}, dir.file("s.json")).status, 2);
    EXPECT_EQ(run({"detect-encoding"}, dir.file("s.json")).status, 2);
    const CliResult help = run({"--help"}, dir.file("s.json"));
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("convert"), std::string::npos);
    const CliResult version = run({"--version"}, dir.file("s.json"));
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("plistable"), std::string::npos);
}

} // namespace
