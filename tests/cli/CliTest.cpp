#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

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

// Hostile or odd invocations: each a clear result, never an abort or a write somewhere unasked.
TEST(CliTest, ProbedInvocationsGiveClearResults)
{
    TempDir dir;
    const std::string csv = dir.write("t.csv", "a\n1\n");
    ::mkdir(dir.file("out").c_str(), 0700);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string inErr; // a part of the error output
        std::string inOut; // a part of the output
    };
    const Case cases[] = {
        {"an empty output folder name is a usage error", {"convert", "-o", "", csv}, 2,
         "the output folder name is empty", ""},
        {"-- before the operands makes the rest operands", {"convert", "-o", dir.file("out"), "--", csv, "--no-header"},
         0, "--no-header", "out/t.plist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = run(c.args, dir.file("s.json"));
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_NE(result.err.find(c.inErr), std::string::npos) << result.err;
        EXPECT_NE(result.out.find(c.inOut), std::string::npos) << result.out;
    }
}

} // namespace

namespace {

// Output that never reaches standard output is a failure, named, for every command that prints.
TEST(CliOutputTest, AFullDiskAtStandardOutputFailsTheRun)
{
    TempDir dir;
    const std::string csv = dir.write("x.csv", "a,b\n1,2\n");
    const std::string json = dir.write("j.json", "[[\"a\",\"b\"],[1,2]]");
    struct Case {
        const char* name;
        std::string arguments;
        const char* message;
    };
    const Case cases[] = {
        {"read", "read " + csv, "cannot write standard output: No space left on device"},
        {"write", "write " + json, "cannot write standard output: No space left on device"},
        {"convert to standard output", "convert --from csv -o - " + csv, "cannot write the result to standard output"},
        {"config", "config", "cannot write standard output: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string command = std::string("XDG_CONFIG_HOME=") + dir.file("conf") + " " + PLISTABLE_BINARY + " "
                                    + c.arguments + " > /dev/full 2> " + dir.file("err");
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_NE(dir.read("err").find(c.message), std::string::npos) << dir.read("err");
    }
}

} // namespace

namespace {

// Every command's help ends with examples, and "help COMMAND" prints the same text.
TEST(CliHelpTest, HelpOfEachCommandEndsWithExamplesAndHelpCommandIsTheSame)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    for (const char* command : {"convert", "config", "detect-encoding", "read", "write"}) {
        SCOPED_TRACE(command);
        const CliResult help = run({command, "--help"}, settings);
        EXPECT_EQ(help.status, 0);
        const std::size_t examples = help.out.find("Examples:\n  ");
        ASSERT_NE(examples, std::string::npos) << help.out;
        EXPECT_NE(help.out.find(std::string("plistable ") + command, examples), std::string::npos);
        const CliResult viaHelp = run({"help", command}, settings);
        EXPECT_EQ(viaHelp.status, 0);
        EXPECT_EQ(viaHelp.out, help.out);
    }
    EXPECT_EQ(run({"help"}, settings).out, run({"--help"}, settings).out);
}

} // namespace
