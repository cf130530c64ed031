#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

class ConvertCommandTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string settings = dir.file("conf/settings.json");

    CliResult convert(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"convert", "-o", dir.file("out")});
        ::mkdir(dir.file("out").c_str(), 0700);
        return runCli(args, settings);
    }
};

TEST_F(ConvertCommandTest, ConvertsEveryFileInOrderAndSaysWhatItWrote)
{
    const std::string csv = dir.write("a.csv", "a,b\n1,2\n");
    const std::string list = dir.write("b.plist", "<plist><array><array><string>x</string></array></array></plist>");
    const std::string text = dir.write("c.txt", "x");
    const CliResult result = convert({csv, list, text});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, csv + " -> " + dir.file("out/a.plist") + "\n" + list + " -> " + dir.file("out/b.csv") + "\n");
    EXPECT_EQ(result.err, text + ": passed over: the extension is \"txt\", not \"csv\"; --from csv converts it\n");
    EXPECT_EQ(dir.read("out/b.csv"), "x\n");
}

TEST_F(ConvertCommandTest, HeaderFlagsOverrideTheStoredSettingForOneRun)
{
    const std::string csv = dir.write("t.csv", "a,b\n1,2\n");
    EXPECT_EQ(runCli({"config", "header", "on"}, settings).status, 0);
    ASSERT_EQ(convert({csv}).status, 0);
    EXPECT_NE(dir.read("out/t.plist").find("<dict>"), std::string::npos);
    ASSERT_EQ(convert({"--no-header", csv}).status, 0);
    EXPECT_EQ(dir.read("out/t.plist").find("<dict>"), std::string::npos);
    EXPECT_EQ(runCli({"config"}, settings).out, "header = on\n");
    EXPECT_EQ(runCli({"config", "header", "off"}, settings).status, 0);
    ASSERT_EQ(convert({"--header", csv}).status, 0);
    EXPECT_NE(dir.read("out/t.plist").find("<dict>"), std::string::npos);
    EXPECT_EQ(convert({"--header", "--no-header", csv}).status, 2);
}

TEST_F(ConvertCommandTest, PipesStandardInputToStandardOutputBothWays)
{
    const CliResult list = runCli({"convert", "--from", "csv", "--header", "-", "-o", "-"}, settings, "a,b\n1,2\n");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "");
    EXPECT_NE(list.out.find("<dict>\n\t\t<key>a</key>\n\t\t<string>1</string>"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find(" -> "), std::string::npos);

    const CliResult csv = runCli({"convert", "--from", "plist", "--header", "-", "-o", "-"}, settings, list.out);
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, "a,b\n1,2\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{}); // nothing left behind
}

TEST_F(ConvertCommandTest, WritesOneFileToStandardOutputOrToAnExactPath)
{
    const std::string text = dir.write("DATA.TXT", "x,y\n");
    CliResult result = runCli({"convert", "--from", "csv", text, "-o", "-"}, settings);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("<string>y</string>"), std::string::npos);

    result = runCli({"convert", "--from", "csv", "-O", dir.file("exact.name"), text}, settings);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, text + " -> " + dir.file("exact.name") + "\n");
    EXPECT_NE(dir.read("exact.name").find("<string>x</string>"), std::string::npos);

    result = runCli({"convert", "-O", dir.file("t.csv"), "-", "--from", "plist"}, settings,
                    "<plist><array><array><string>z</string></array></array></plist>");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir.read("t.csv"), "z\n");
}

TEST_F(ConvertCommandTest, RefusesStandardStreamsItCannotServe)
{
    const std::string a = dir.write("a.csv", "1\n");
    const std::string b = dir.write("b.csv", "2\n");
    struct Case {
        std::string_view name;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {"stdin without a kind", {"-", "-o", "-"}},
        {"stdin without an output", {"--from", "csv", "-"}},
        {"stdin among files", {"--from", "csv", "-", a, "-O", dir.file("x")}},
        {"stdout with two files", {"-o", "-", a, b}},
        {"exact path with two files", {"-O", dir.file("x"), a, b}},
        {"stdout and an exact path", {"-o", "-", "-O", dir.file("x"), a}},
        {"an unknown kind", {"--from", "json", a}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult result = runCli(args, settings, "1\n");
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err, "");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.csv", "b.csv"}));
}

TEST_F(ConvertCommandTest, ReadsTheDelimiterGivenOrNamedByASeparatorLine)
{
    struct Case {
        std::string_view name;
        std::vector<std::string> options;
        std::string input;
        std::string expected; // the strings of the document, in order
    };
    const std::vector<Case> cases = {
        {"semicolon by name", {"-d", "semicolon", "--header"}, "Name;Betrag\nM\xC3\xBCller;\"1,50\"\n",
         "Name M\xC3\xBCller Betrag 1,50 "},
        {"tab by name", {"--delimiter", "tab"}, "a\tb,c\n", "a b,c "},
        {"one character", {"-d", "|"}, "a|b\n", "a b "},
        {"separator line", {"--excel"}, "sep=;\na;b\n", "a b "},
        {"separator line with CRLF over -d", {"--excel", "-d", "tab"}, "sep=|\r\na|b\r\n", "a b "},
        {"separator line is data without --excel", {}, "sep=;\na;b\n", "sep=; a;b "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"convert", "--from", "csv", "-", "-o", "-"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult result = runCli(args, settings, c.input);
        ASSERT_EQ(result.status, 0) << result.err;
        // The contents of the key and string elements, in document order.
        std::string strings;
        for (std::size_t at = 0; (at = result.out.find('<', at)) != std::string::npos; ++at) {
            for (std::string_view tag : {"<key>", "<string>"})
                if (result.out.compare(at, tag.size(), tag) == 0) {
                    const std::size_t start = at + tag.size();
                    strings += result.out.substr(start, result.out.find('<', start) - start) + " ";
                }
        }
        EXPECT_EQ(strings, c.expected);
    }
    EXPECT_EQ(runCli({"convert", "-d", "ab", "x.csv"}, settings).status, 2);
}

// A separator line naming no delimiter the reader can use fails its file; the next file goes on.
TEST_F(ConvertCommandTest, ASeparatorLineNamingNoUsableDelimiterFailsOnlyItsFile)
{
    const std::string good = dir.write("good.csv", "sep=;\na;b\n");
    const std::pair<const char*, const char*> cases[] = {
        {"sep=\"\na\n", R"(line 1: "sep=\"" names no usable delimiter)"},
        {"sep=\n\na\n", R"(line 1: "sep=" names no usable delimiter)"},
        {"sep=\r\na\n", R"(line 1: "sep=" names no usable delimiter)"},
        {"sep=\r\ra\n", R"(line 1: "sep=" names no usable delimiter)"},
        {"sep=\n", R"(line 1: "sep=" names no usable delimiter)"},
    };
    for (const auto& [csv, problem] : cases) {
        SCOPED_TRACE(csv);
        const std::string bad = dir.write("bad.csv", csv);
        const CliResult result = convert({"--excel", bad, good});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, bad + ": " + problem + "\n");
        EXPECT_EQ(result.out, good + " -> " + dir.file("out/good.plist") + "\n");
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"bad.csv", "good.csv", "out"}));
        std::remove(dir.file("out/good.plist").c_str());
    }
}

// The one FILE of -O or -o - passed over would leave that output unwritten: an error.
TEST_F(ConvertCommandTest, TheOnlyInputPassedOverIsAnErrorWhenTheOutputIsNamed)
{
    const std::string data = dir.write("data.bin", "a,b\n");
    for (const std::vector<std::string>& output : {std::vector<std::string>{"-O", dir.file("out.csv")},
                                                    std::vector<std::string>{"-o", "-"}}) {
        SCOPED_TRACE(output[0]);
        std::vector<std::string> args{"convert", "-q"};
        args.insert(args.end(), output.begin(), output.end());
        args.push_back(data);
        const CliResult result = runCli(args, settings);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, data + ": not a .csv or .plist file; nothing was written\n");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data.bin"}));
}

TEST_F(ConvertCommandTest, WritesTheCsvDialectAsked)
{
    const std::string list = "<plist><array><array><string>a;b</string><string>c</string></array>"
                             "<array><string>d</string></array></array></plist>";
    struct Case {
        std::string_view name;
        std::vector<std::string> options;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"as today", {}, "a;b,c\nd\n"},
        {"semicolon quotes a field holding it", {"-d", "semicolon"}, "\"a;b\";c\nd\n"},
        {"CRLF", {"--crlf"}, "a;b,c\r\nd\r\n"},
        {"byte-order mark", {"--bom"}, "\xEF\xBB\xBF" "a;b,c\nd\n"},
        {"excel", {"--excel"}, "\xEF\xBB\xBF" "a;b,c\r\nd\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"convert", "--from", "plist", "-", "-o", "-"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult result = runCli(args, settings, list);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.expected);
    }
}

TEST_F(ConvertCommandTest, ReportsPartialAndFailedFilesWithExitStatusOne)
{
    const std::string bad = dir.write("data.csv", "a,b\n1,2\nx,y\"z\n");
    const std::string good = dir.write("good.csv", "a\n");
    CliResult result = convert({bad, good});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, bad + ": line 3: unexpected double quote; 2 records converted and the third cut short at "
                                "the fault; the rest was not read\n");

    const std::string list = dir.write("list.plist", "<plist><string>a</string></plist>");
    result = convert({list});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, list + ": a property list whose root is a string\n");

    result = convert({dir.file("missing.csv")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("missing.csv: cannot read: "), std::string::npos);
}

TEST_F(ConvertCommandTest, ReadsInANamedEncodingOrSaysWhenItGuessed)
{
    const std::string latin = dir.write("latin.csv", "caf\xE9\n");
    CliResult result = convert({latin});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, latin + ": read as Mac OS Roman; use --encoding to choose another\n");

    result = convert({"--encoding", "windows-1252", latin});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(dir.read("out/latin.plist").find("<string>caf\xC3\xA9</string>"), std::string::npos);

    result = convert({"--encoding", "no-such-encoding", latin});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("unknown encoding: no-such-encoding"), std::string::npos);

    result = convert({"--encoding", "utf-8", latin});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, latin + ": cannot be decoded as utf-8 at byte offset 3\n");
}

// -n leaves an existing output as it is and fails that file; without it the output is replaced.
TEST_F(ConvertCommandTest, NoClobberLeavesAnExistingOutputAndFailsThatFile)
{
    const std::string csv = dir.write("t.csv", "a,b\n");
    const std::string list = dir.write("u.plist", "<plist><array><array><string>x</string></array></array></plist>");
    struct Case {
        const char* name;
        std::vector<std::string> flags;
        bool existing;
        int status;
        bool replaced;
    };
    const Case cases[] = {
        {"-n over an existing output", {"-n"}, true, 1, false},
        {"--no-clobber over an existing output", {"--no-clobber"}, true, 1, false},
        {"-n with no output yet", {"-n"}, false, 0, true},
        {"no flag over an existing output", {}, true, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::mkdir(dir.file("out").c_str(), 0700);
        std::remove(dir.file("out/t.plist").c_str());
        std::remove(dir.file("out/u.csv").c_str());
        if (c.existing) {
            dir.write("out/t.plist", "old list");
            dir.write("out/u.csv", "old csv");
        }
        std::vector<std::string> args = c.flags;
        args.push_back(csv);
        args.push_back(list);
        const CliResult result = convert(args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(dir.read("out/t.plist") == "old list", !c.replaced);
        EXPECT_EQ(dir.read("out/u.csv") == "old csv", !c.replaced);
        if (!c.replaced) {
            EXPECT_EQ(result.err, csv + ": " + dir.file("out/t.plist") + ": exists, not replaced\n" + list + ": "
                                      + dir.file("out/u.csv") + ": exists, not replaced\n");
        }
    }
}

// The property lists people hold: old-style text and strings files, tables inside, repeated keys.
TEST_F(ConvertCommandTest, ReadsPropertyListsAsTheyCome)
{
    const struct {
        const char* name;
        std::string file;     // name
        std::string contents;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err; // after "<path>: "
    } cases[] = {
        {"strings file", "Localizable.strings", "/* Greeting */\n\"hello\" = \"Hallo\";\n\"bye\" = \"Tsch\\U00fcss\";\n",
         {"--from", "plist"}, 0, "hello,Hallo\nbye,Tsch\xC3\xBCss\n", ""},
        {"old-style error", "t.plist", "{\n a = 1;\n name = \"x\"\n b = 2; }", {}, 1, "",
         "not a property list: line 3: expected ';' after the value of \"name\""},
        {"unterminated comment", "t.strings", "a = b;\n/* open\n", {"--from", "plist"}, 1, "",
         "not a property list: line 2: unterminated comment"},
        {"repeated key", "d.plist", "<plist><array><dict><key>a</key><string>1</string>\n<key>a</key><string>2</string>"
                                    "<key>b</key><string>3</string></dict></array></plist>",
         {"--header"}, 1, "a,b\n2,3\n", "line 2: dictionary repeats key \"a\"; the later value is kept"},
        {"select", "lib.plist", "{ Tracks = { 7 = { \"Track ID\" = 7; }; }; }", {"--header", "--select", "/Tracks"}, 0,
         "key,Track ID\n7,7\n", ""},
        {"select nowhere", "lib.plist", "{ Tracks = { 7 = { \"Track ID\" = 7; }; }; }", {"--select", "/Tracks/x"}, 1, "",
         "no value at /Tracks/x: the dictionary at /Tracks has no key \"x\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(c.file, c.contents);
        std::vector<std::string> args = {"convert", "-o", "-"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(path);
        const CliResult result = runCli(args, settings);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err.empty() ? "" : path + ": " + c.err + "\n");
    }
    EXPECT_EQ(runCli({"convert", "--select", "Tracks", dir.file("lib.plist")}, settings).status, 2);

    // A table's repeated key to a stream: its lines are out before the repeat is read.
    const std::string rows = dir.write("r.plist", "{ x = 1;\n y = 2;\n x = 3; }");
    const CliResult streamed = runCli({"convert", "-o", "-", rows}, settings);
    EXPECT_EQ(streamed.status, 1);
    EXPECT_EQ(streamed.out, "x,1\ny,2\nx,3\n");
    EXPECT_EQ(streamed.err, rows + ": line 3: dictionary repeats key \"x\"; the later value is kept\n" + rows
                                + ": a line was written for each entry of a repeated key, as the output is a stream "
                                  "(written to a file, the later entry is kept)\n");

    const std::string table = dir.write("tr.csv", "k,v\nhello,\"say \"\"hi\"\"\"\n");
    EXPECT_EQ(runCli({"convert", "--header", "--to", "strings", "-o", "-", table}, settings).out,
              "\"hello\" = \"say \\\"hi\\\"\";\n");
    EXPECT_EQ(runCli({"convert", "--header", "--to", "openstep", "-o", "-", table}, settings).out,
              "(\n\t{ \"k\" = \"hello\"; \"v\" = \"say \\\"hi\\\"\"; }\n)\n");
}

TEST_F(ConvertCommandTest, NeedsAtLeastOneFile)
{
    EXPECT_EQ(runCli({"convert"}, settings).status, 2);
}

// --quiet: the problems still show; what was written, notes and passed-over files do not.
TEST_F(ConvertCommandTest, QuietPrintsOnlyProblems)
{
    const std::string good = dir.write("good.csv", "a,b\n");
    const std::string guessed = dir.write("latin.csv", "caf\xE9\n");
    const std::string text = dir.write("c.md", "x"); // an extension no option converts: no hint to keep
    const std::string bad = dir.write("bad.csv", "a\nx\"y\n");
    for (const char* flag : {"-q", "--quiet"}) {
        SCOPED_TRACE(flag);
        CliResult result = convert({flag, good, guessed, text});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
        result = convert({flag, bad});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, bad + ": line 2: unexpected double quote; 1 record converted and the second cut short "
                                    "at the fault; the rest was not read\n");
    }
}

// The real binary on the bundled examples, as the Quick start runs it.
TEST(ConvertExamplesTest, TheBuiltToolConvertsTheBundledExamples)
{
    TempDir dir;
    const std::string command = std::string("XDG_CONFIG_HOME=") + dir.file("conf") + " " + PLISTABLE_BINARY
                                + " convert -o " + dir.path() + " " + PLISTABLE_EXAMPLES + "/* > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"contacts.csv", "fruit.plist", "stations-sjis.plist"}));
    EXPECT_EQ(dir.read("contacts.csv"), "Ada Lovelace,ada@example.com,2024-03-01T09:30:00Z\n"
                                        "\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E,taro@example.jp,2025-11-20T17:05:00Z\n"
                                        "\"Grace \"\"Amazing\"\" Hopper\",grace@example.com,\n");
    EXPECT_NE(dir.read("stations-sjis.plist").find("<string>\xE6\x96\xB0\xE5\xAE\xBF</string>"), std::string::npos);
}

} // namespace
