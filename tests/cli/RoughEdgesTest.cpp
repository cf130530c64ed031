// What a new user meets first: a hint on the line that reports a problem, -d auto, the Windows forms
// of cp932 output, the top-level help and the version flags.
#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

struct Case {
    std::string_view name;
    std::string file;     // written into the folder
    std::string contents;
    std::vector<std::string> options;
    int status;
    std::string err;      // the expected standard error, FILE standing for the file's path
};

// Runs `convert OPTIONS FILE -o DIR` and compares standard error, FILE replaced by the path.
void runCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.write(c.file, c.contents);
        std::vector<std::string> args{"convert", "-o", dir.path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(path);
        const CliResult result = runCli(args, dir.file("settings.json"));
        std::string expected = c.err;
        for (std::size_t at; (at = expected.find("FILE")) != std::string::npos;)
            expected.replace(at, 4, path);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, expected);
    }
}

TEST(RoughEdgesTest, AFilePassedOverNamesTheOptionThatConvertsIt)
{
    const std::string csv = "; --from csv converts it\n";
    runCases({
        {"upper-case csv", "DATA.CSV", "a\n", {}, 0, "FILE: passed over: the extension is \"CSV\", not \"csv\"" + csv},
        {"kept with -q", "DATA.CSV", "a\n", {"-q"}, 0, "FILE: passed over: the extension is \"CSV\", not \"csv\"" + csv},
        {"tsv", "x.tsv", "a\tb\n", {}, 0,
         "FILE: passed over: the extension is \"tsv\", not \"csv\"; --from csv -d tab converts it\n"},
        {"txt", "x.txt", "a\n", {}, 0, "FILE: passed over: the extension is \"txt\", not \"csv\"" + csv},
        {"upper-case plist", "L.PLIST", "", {}, 0,
         "FILE: passed over: the extension is \"PLIST\", not \"plist\"; --from plist converts it\n"},
        {"strings", "Localizable.strings", "", {"-q"}, 0,
         "FILE: passed over: the extension is \"strings\", not \"plist\"; --from plist converts it\n"},
        {"another extension keeps the plain note", "notes.md", "", {}, 0,
         "FILE: not a .csv or .plist file; passed over\n"},
        {"which -q leaves out", "notes.md", "", {"-q"}, 0, ""},
    });
}

TEST(RoughEdgesTest, ACsvSeparatedOtherwiseSaysWhichDelimiterToTry)
{
    runCases({
        {"a parse failure", "s.csv", "name;note\nx;1\ny;\"a;b\"\nz;\"q\"r\n", {}, 1,
         "FILE: line 3: unexpected double quote; 2 records converted and the third cut short at the fault; the rest "
         "was not read; "
         "looks separated by \";\": try -d semicolon\n"},
        {"one column", "t.csv", "a;b\n1;2\n", {}, 0, "FILE: looks separated by \";\": try -d semicolon\n"},
        {"tabs", "t.csv", "a\tb\n1\t2\n", {}, 0, "FILE: looks separated by tabs: try -d tab\n"},
        {"pipes", "t.csv", "a|b\n1|2\n", {}, 0, "FILE: looks separated by \"|\": try -d pipe\n"},
        {"quoted semicolons do not count", "t.csv", "\"a;b;c\"\n", {}, 0, ""},
        {"commas", "t.csv", "a,b;c\n1,2\n", {}, 0, ""},
        {"not with -d", "t.csv", "a;b\n", {"-d", "comma"}, 0, ""},
        {"-d auto picks semicolons", "t.csv", "a;b\n1;2\n", {"-d", "auto"}, 0, "FILE: separated by \";\" (-d auto)\n"},
        {"-d auto picks tabs", "t.csv", "a,b\tc\n1\t2\n3\t4\n", {"-d", "auto"}, 0, "FILE: separated by tabs (-d auto)\n"},
        {"-d auto keeps commas", "t.csv", "a,b\n1,2\n", {"-d", "auto"}, 0, "FILE: separated by \",\" (-d auto)\n"},
    });
}

TEST(RoughEdgesTest, DashLowerONamingAFileSaysToUseDashUpperO)
{
    TempDir dir;
    const std::string csv = dir.write("t.csv", "a,b\n");
    const std::string target = dir.file("out.plist");
    const CliResult result = runCli({"convert", csv, "-o", target}, dir.file("settings.json"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, csv + ": cannot write " + target + "/t.plist: No such file or directory; use -O " + target
                              + " to name the output file\n");
    // A name that does not end in the output's extension is taken for a folder name mistyped.
    const CliResult folder = runCli({"convert", csv, "-o", dir.file("out")}, dir.file("settings.json"));
    EXPECT_EQ(folder.err.find("use -O"), std::string::npos) << folder.err;
}

TEST(RoughEdgesTest, Cp932WritesTheJisFormsInTheirWindowsFormsWithANote)
{
    TempDir dir;
    const std::string list = dir.write("t.plist", "<plist><array><array><string>1〜2</string><string>〜〜</string>"
                                                  "</array></array></plist>");
    for (const char* encoding : {"cp932", "windows-31j"}) {
        SCOPED_TRACE(encoding);
        const CliResult result =
            runCli({"convert", "--output-encoding", encoding, "-O", dir.file("t.csv"), list}, dir.file("s.json"));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, list + ": 3 characters written in their Windows forms (〜 → ～)\n");
        EXPECT_EQ(plistable::test::hex(dir.read("t.csv")), plistable::test::hex("1\x81\x60" "2,\x81\x60\x81\x60\n"));
    }
    const CliResult strict =
        runCli({"convert", "--output-encoding", "shift_jis", "-O", dir.file("u.csv"), list}, dir.file("s.json"));
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err, list + ": line 1: \"〜\" (U+301C) cannot be written in shift_jis\n");
}

TEST(RoughEdgesTest, TopLevelHelpGivesExamplesExitStatusesAndFiles)
{
    TempDir dir;
    const CliResult help = runCli({"--help"}, dir.file("s.json"));
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"Examples:\n  plistable convert", "Exit status:\n  0", "2  usage error",
                             "XDG_CONFIG_HOME/plistable/settings.json"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    for (const char* flag : {"-V", "-v", "--version"}) {
        SCOPED_TRACE(flag);
        const CliResult version = runCli({flag}, dir.file("s.json"));
        EXPECT_EQ(version.status, 0);
        EXPECT_TRUE(version.out.starts_with("plistable 0.")) << version.out;
    }
    // The options of convert come in the groups of the conversion options.
    const CliResult convert = runCli({"convert", "--help"}, dir.file("s.json"));
    for (const char* group : {"CSV read:", "CSV written:", "Data shape:", "Output:", "Run:"})
        EXPECT_NE(convert.out.find(group), std::string::npos) << group;
}

} // namespace
