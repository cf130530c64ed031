// The built tool in real pipelines, one group per feature of the command line: standard streams,
// CSV dialects read and written, output encodings, -n, and the progress line. (Interrupts are in
// InterruptTest, a full standard output in CliTest.)
#include "support/TestSupport.hpp"

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

using plistable::test::hex;
using plistable::test::TempDir;

namespace {

struct ShellRun {
    int status;
    std::string out;
    std::string err;
};

// Runs `command` with bash in `dir`, "plistable" standing for the built tool and the settings
// kept inside `dir`; standard output and error are captured.
ShellRun shell(const TempDir& dir, const std::string& command)
{
    const std::string script = dir.write("command.sh", "plistable() { \"" + std::string(PLISTABLE_BINARY)
                                                           + "\" \"$@\"; }\ncd \"" + dir.path() + "\" || exit 99\n"
                                                           + command + "\n");
    const std::string line = "XDG_CONFIG_HOME='" + dir.file("config") + "' bash '" + script + "' > '"
                             + dir.file("stdout") + "' 2> '" + dir.file("stderr") + "'";
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.read("stdout"), dir.read("stderr")};
}

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

TEST(PipelineAcceptanceTest, StandardInputToStandardOutputAndBack)
{
    TempDir dir;
    ShellRun run = shell(dir, "printf 'a,b\\n1,2\\n' | plistable convert --from csv --header - -o -");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("<dict>\n\t\t<key>a</key>\n\t\t<string>1</string>\n\t\t<key>b</key>\n\t\t<string>2</string>\n"
                           "\t</dict>"),
              std::string::npos)
        << run.out;
    run = shell(dir, "printf 'a,b\\n1,2\\n' | plistable convert --from csv --header - -o - "
                     "| plistable convert --from plist --header - -o -");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "a,b\n1,2\n");
    EXPECT_EQ(run.err, "");
}

TEST(DialectAcceptanceTest, SemicolonsAndASeparatorLine)
{
    TempDir dir;
    ShellRun run = shell(dir, "printf 'Name;Betrag\\nM\xC3\xBCller;\"1,50\"\\n' > e.csv; plistable convert -d semicolon --header e.csv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(dir.read("e.plist").find("<dict>\n\t\t<key>Name</key>\n\t\t<string>M\xC3\xBCller</string>\n"
                                       "\t\t<key>Betrag</key>\n\t\t<string>1,50</string>\n\t</dict>\n</array>"),
              std::string::npos)
        << dir.read("e.plist");
    run = shell(dir, "printf 'sep=;\\na;b\\n' > s.csv; plistable convert --excel s.csv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(dir.read("s.plist").find("<array>\n\t<array>\n\t\t<string>a</string>\n\t\t<string>b</string>\n\t</array>\n"
                                       "</array>"),
              std::string::npos)
        << dir.read("s.plist");
}

TEST(OutputEncodingAcceptanceTest, ExactBytesMarksAndAFailureThatWritesNothing)
{
    TempDir dir;
    // The document of one line (日本, ①).
    dir.write("t.plist", "<plist><array><array><string>\xE6\x97\xA5\xE6\x9C\xAC</string>"
                         "<string>\xE2\x91\xA0</string></array></array></plist>");
    struct Case {
        const char* name;
        const char* options;
        std::string expected;
    };
    const Case cases[] = {
        {"cp932 with CRLF", "--output-encoding cp932 --crlf", "\x93\xFA\x96\x7B,\x87\x40\r\n"},
        {"excel in cp932: CRLF, no mark", "--output-encoding cp932 --excel", "\x93\xFA\x96\x7B,\x87\x40\r\n"},
        {"excel in UTF-8: mark and CRLF", "--excel", "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC,\xE2\x91\xA0\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ShellRun run = shell(dir, std::string("plistable convert -O t.csv ") + c.options + " t.plist");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(hex(dir.read("t.csv")), hex(c.expected));
    }
    std::remove(dir.file("t.csv").c_str());
    const ShellRun run = shell(dir, "plistable convert --output-encoding latin1 t.plist");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "t.plist: line 1: \"\xE6\x97\xA5\" (U+65E5) cannot be written in latin1\n");
    EXPECT_FALSE(exists(dir.file("t.csv")));
}

TEST(NoClobberAcceptanceTest, AnExistingOutputStaysUnlessReplacingIsAllowed)
{
    TempDir dir;
    dir.write("t.csv", "a,b\n");
    const std::string old = "an older output\n";
    dir.write("t.plist", old);
    ShellRun run = shell(dir, "plistable convert -n t.csv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "t.csv: ./t.plist: exists, not replaced\n");
    EXPECT_EQ(dir.read("t.plist"), old);
    run = shell(dir, "plistable convert t.csv");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(dir.read("t.plist"), old);
}

TEST(ProgressAcceptanceTest, AppearsOnATerminalOnlyAndNeverInAFile)
{
    if (std::system("command -v script > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "script (util-linux) is not installed";
    TempDir dir;
    {
        // 64 MB of CSV.
        const std::string line = std::string(90, 'x') + ",12345\n";
        std::string text;
        text.reserve(64'000'000 + line.size());
        while (text.size() < 64'000'000)
            text += line;
        dir.write("big.csv", text);
    }
    // script gives the tool a terminal for its standard error (and output); what it shows lands in stdout.
    const std::string tool = std::string("'\"") + PLISTABLE_BINARY + "\" convert ";
    ShellRun run = shell(dir, "script -qec " + tool + "big.csv' /dev/null");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\rbig.csv: "), std::string::npos) << run.out.substr(0, 200);
    EXPECT_NE(run.out.find("MB/s\x1b[K"), std::string::npos);
    EXPECT_NE(run.out.find("\r\x1b[Kbig.csv -> ./big.plist"), std::string::npos); // erased before the report
    run = shell(dir, "plistable convert big.csv 2> err.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("err.txt"), "");
    run = shell(dir, "script -qec " + tool + "-q big.csv' /dev/null");
    EXPECT_EQ(run.out, "");
    std::remove(dir.file("big.csv").c_str());
    std::remove(dir.file("big.plist").c_str());
}

} // namespace
