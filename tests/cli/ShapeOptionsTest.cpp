// The data-shape options of "plistable convert", through run() and through the built tool.
#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

class ShapeOptionsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string settings = dir.file("conf/settings.json");

    // `convert ARGS - -o -` with `input` on standard input.
    CliResult pipe(std::vector<std::string> args, const std::string& input)
    {
        args.insert(args.begin(), "convert");
        args.insert(args.end(), {"-", "-o", "-"});
        return runCli(args, settings, input);
    }
};

TEST_F(ShapeOptionsTest, TypedValuesComeBackAsTheyWere)
{
    const CliResult xml = pipe({"--from", "csv", "--header", "--types"}, "id,n,r,b,s\n1,007,1.50,true,x\n");
    EXPECT_EQ(xml.status, 0);
    for (const char* element :
         {"<integer>1</integer>", "<string>007</string>", "<real>1.5</real>", "<true/>", "<string>x</string>"})
        EXPECT_NE(xml.out.find(element), std::string::npos) << element;
    const CliResult back = pipe({"--from", "plist", "--header"}, xml.out);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.out, "id,n,r,b,s\n1,007,1.5,true,x\n");
}

TEST_F(ShapeOptionsTest, KeyedTablesAndTheirErrors)
{
    const CliResult list = pipe({"--from", "csv", "--header", "--keyed", "id"}, "id,name\nb,2\na,1\n");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("<dict>\n\t<key>b</key>\n\t<dict>\n\t\t<key>name</key>\n\t\t<string>2</string>"),
              std::string::npos)
        << list.out;
    EXPECT_EQ(pipe({"--from", "plist", "--header", "--keyed", "id"}, list.out).out, "id,name\nb,2\na,1\n");
    EXPECT_EQ(pipe({"--from", "plist", "--header"}, list.out).out, "key,name\nb,2\na,1\n");

    const std::string source = dir.write("t.csv", "id,name\nb,2\nb,1\n");
    ::mkdir(dir.file("out").c_str(), 0700);
    const CliResult repeated = runCli({"convert", "--header", "--keyed", "id", "-o", dir.file("out"), source}, settings);
    EXPECT_EQ(repeated.status, 1);
    EXPECT_EQ(repeated.err, source + ": lines 2 and 3: the key \"b\" repeats; nothing was written\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"out", "t.csv"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("out")));
}

TEST_F(ShapeOptionsTest, EveryKeyAndUniqueNames)
{
    const std::string list = "<plist><array><dict><key>b</key><string>1</string><key>a</key><string>2</string>"
                             "</dict><dict><key>a</key><string>3</string><key>c</key><string>4</string></dict>"
                             "</array></plist>";
    const CliResult some = pipe({"--from", "plist", "--header"}, list);
    EXPECT_EQ(some.status, 1);
    EXPECT_EQ(some.err, "-: --all-keys writes a column for every key\n"
                        "-: keys not in the first dictionary were left out: element 2 (c)\n");
    const CliResult all = pipe({"--from", "plist", "--header", "--all-keys"}, list);
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.out, "b,a,c\n1,2,\n,3,4\n");

    const CliResult repeated = pipe({"--from", "csv", "--header"}, "a,a,\n1,2,3\n");
    EXPECT_EQ(repeated.status, 1);
    EXPECT_NE(repeated.err.find("-: header repeats \"a\" (columns 1 and 2); the later value is kept\n"),
              std::string::npos);
    const CliResult deduped = pipe({"--from", "csv", "--header", "--dedupe-keys"}, "a,a,\n1,2,3\n");
    EXPECT_EQ(deduped.status, 0);
    EXPECT_EQ(pipe({"--from", "plist", "--header"}, deduped.out).out, "a,a_2,column_3\n1,2,3\n");
}

TEST_F(ShapeOptionsTest, OutputFormsAndTheirExtensions)
{
    const std::string source = dir.write("t.csv", "a,b\n1,x\n");
    ::mkdir(dir.file("out").c_str(), 0700);
    CliResult result = runCli({"convert", "--header", "--types", "--to", "json", "-o", dir.file("out"), source}, settings);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, source + " -> " + dir.file("out/t.json") + "\n");
    EXPECT_EQ(dir.read("out/t.json"), "[\n{\"a\":1,\"b\":\"x\"}\n]\n");
    result = runCli({"convert", "--header", "--to", "binary", "-o", dir.file("out"), source}, settings);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(dir.read("out/t.plist").starts_with("bplist00"));
    EXPECT_EQ(pipe({"--from", "plist", "--header"}, dir.read("out/t.plist")).out, "a,b\n1,x\n");
    EXPECT_EQ(runCli({"convert", "--to", "yaml", source}, settings).status, 2);
}

// Python's plistlib and json, where the machine has them, read what the built tool writes.
TEST(ShapeOptionsOracleTest, PythonReadsBinaryAndJsonOutput)
{
    if (std::system("python3 -c 'import plistlib, json' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no python3";
    TempDir dir;
    const std::string source = dir.write("t.csv", "id,n,r,b,s\n1,007,1.50,true,caf\xC3\xA9\n2,-3,2e3,false,\n");
    const std::string tool = std::string("XDG_CONFIG_HOME=") + dir.file("conf") + " " + PLISTABLE_BINARY
                             + " convert --header --types -o " + dir.path() + " ";
    ASSERT_EQ(std::system((tool + "--to binary " + source + " > /dev/null").c_str()), 0);
    ASSERT_EQ(std::system((tool + "--to json " + source + " > /dev/null").c_str()), 0);
    const std::string expected = "[{'id': 1, 'n': '007', 'r': 1.5, 'b': True, 's': 'caf\\xe9'},"
                                 " {'id': 2, 'n': -3, 'r': 2000.0, 'b': False, 's': ''}]";
    const std::string check = "python3 -c \"import plistlib, json, sys; e = " + expected
                              + "; p = plistlib.load(open(sys.argv[1], 'rb')); j = json.load(open(sys.argv[2]));"
                                " sys.exit(0 if p == e and j == e and list(p[0]) == list(e[0]) else 1)\" "
                              + dir.file("t.plist") + " " + dir.file("t.json");
    const int status = std::system(check.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
