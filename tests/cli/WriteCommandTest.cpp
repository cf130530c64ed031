#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <span>

using plistable::test::CliResult;
using plistable::test::TempDir;
using plistable::test::runCli;

namespace {

CliResult run(std::vector<std::string> args, const std::string& input = "")
{
    TempDir dir;
    args.insert(args.begin(), "write");
    return plistable::test::runCli(args, dir.file("settings.json"), input);
}

struct WriteCase {
    const char* name;
    std::string json;
    std::string csv;
};

// Each JSON document, written with no options, prints its CSV and nothing else.
void expectWritten(std::span<const WriteCase> cases)
{
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = run({}, c.json);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.csv);
        EXPECT_EQ(result.err, "");
    }
}

TEST(WriteCommandTest, PrintsTheCsvOfAJsonArray)
{
    const WriteCase cases[] = {
        {"empty array", "[]", ""},
        {"rows of strings, with quoting", R"([["a","b,c"],["say \"hi\"","x\ny"],[]])",
         "a,\"b,c\"\n\"say \"\"hi\"\"\",\"x\ny\"\n\n"},
        {"elements that are no collection are skipped", R"([["a"],"plain",3,null,["b"]])", "a\nb\n"},
        {"an object gives its keys in document order", R"([{"zeta":1,"alpha":{"n":2}}])", "zeta,alpha\n"},
        {"non-text values and null", R"([[1,-2,2.5,true,false,null,18446744073709551615,[1,"x"]]])",
         "1,-2,2.5,true,false,,18446744073709551615,\"[1,\"\"x\"\"]\"\n"},
        {"a line of one empty field, first, middle and last", R"([[""],["a"],[""],["b"],[""]])",
         "\"\"\na\n\"\"\nb\n\"\"\n"},
        {"nested objects keep their key order", R"([[{"z":1,"a":[{"y":true,"b":"s"}]}]])",
         "\"{\"\"z\"\":1,\"\"a\"\":[{\"\"y\"\":true,\"\"b\"\":\"\"s\"\"}]}\"\n"},
        {"text beyond ASCII", "[[\"caf\xC3\xA9\",\"\\u00e9\\ud83d\\ude00\"]]", "caf\xC3\xA9,\xC3\xA9\xF0\x9F\x98\x80\n"},
    };
    expectWritten(cases);
}

// Numbers nested in a field keep their source text; the rest of the field is written as before.
TEST(WriteCommandTest, NumbersNestedInAFieldKeepTheirDigits)
{
    const WriteCase cases[] = {
        {"a real in an array", "[[[2.50]]]", "[2.50]\n"},
        {"a real in an object", R"([[{"a":1.0}]])", "\"{\"\"a\"\":1.0}\"\n"},
        {"an exponent and negative zero", "[[[1E+2,-0.0,1e-7]]]", "\"[1E+2,-0.0,1e-7]\"\n"},
        {"integers no 64-bit integer holds", "[[[-9223372036854775809,123456789012345678901234567890]]]",
         "\"[-9223372036854775809,123456789012345678901234567890]\"\n"},
        {"deeper down", R"([[{"z":[[{"y":0.50}]]}]])", "\"{\"\"z\"\":[[{\"\"y\"\":0.50}]]}\"\n"},
        {"other values beside a real", R"([[["\u001f",null,true,-3,18446744073709551615,{"k":"v"},0.10]]])",
         "\"[\"\"\\u001F\"\",\"\"\"\",true,-3,18446744073709551615,{\"\"k\"\":\"\"v\"\"},0.10]\"\n"},
        {"key order, a repeated key keeping its first place and last value", R"([[{"b":1.10,"a":2.0,"b":3.30}]])",
         "\"{\"\"b\"\":3.30,\"\"a\"\":2.0}\"\n"},
        {"a repeated key does not shift the spellings after it", R"([[{"a":1.25,"a":2.50},3.0,[4.00]]])",
         "\"{\"\"a\"\":2.50}\",3.0,[4.00]\n"},
    };
    expectWritten(cases);
}

TEST(WriteCommandTest, RefusesInputThatIsNoJsonArray)
{
    struct Case {
        const char* name;
        std::string json;
        std::string error; // the start of the message
    };
    const Case cases[] = {
        {"invalid literal", "[1,x]", "-: byte offset 3: invalid JSON: "},
        {"cut off", "[1,", "-: byte offset 3: invalid JSON: "},
        {"empty input", "", "-: byte offset 0: invalid JSON: "},
        {"trailing text", "[[1]] x", "-: byte offset 6: invalid JSON: "},
        {"an object", "{\"a\":1}", "-: byte offset 0: expected a JSON array at the top level, found: object"},
        {"a number after white space", " \n 7", "-: byte offset 3: expected a JSON array at the top level, found: number"},
        {"a real", "2.50", "-: byte offset 0: expected a JSON array at the top level, found: number"},
        {"a real too large for a double", "[[1e400]]", "-: byte offset 6: invalid JSON: number overflow parsing '1e400'"},
        {"nested too deep", std::string(600, '[') + std::string(600, ']'), "-: byte offset 512: JSON nested deeper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = run({"-"}, c.json);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, c.error.size()), c.error) << result.err;
    }
}

TEST(WriteCommandTest, ReadsANamedFile)
{
    TempDir dir;
    const std::string good = dir.write("rows.json", R"([["a","b"]])");
    CliResult result = run({good}, "[[\"ignored\"]]");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "a,b\n");

    const std::string bad = dir.write("bad.json", "[\"a\" \"b\"]");
    result = run({bad});
    EXPECT_EQ(result.status, 1);
    // The offset is where reading stopped: the last byte of the unexpected token "b".
    EXPECT_EQ(result.err.substr(0, bad.size() + 15), bad + ": byte offset 7");

    result = run({dir.file("none.json")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("none.json: cannot read"), std::string::npos);
}

} // namespace

namespace {

// The writing options of convert, on write: delimiter, line ends, mark and output encoding.
TEST(WriteCommandTest, WritesTheCsvDialectAsked)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    const std::string rows = "[[\"\xE6\x97\xA5\xE6\x9C\xAC\",\"a;b\"],[1]]"; // 日本, a;b
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string expected;
    };
    const Case cases[] = {
        {"semicolon", {"-d", "semicolon"}, "\xE6\x97\xA5\xE6\x9C\xAC;\"a;b\"\n1\n"},
        {"crlf", {"--crlf"}, "\xE6\x97\xA5\xE6\x9C\xAC,a;b\r\n1\r\n"},
        {"bom", {"--bom"}, "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC,a;b\n1\n"},
        {"excel", {"--excel"}, "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC,a;b\r\n1\r\n"},
        {"excel in cp932: no mark", {"--excel", "--output-encoding", "cp932"}, "\x93\xFA\x96\x7B,a;b\r\n1\r\n"},
        {"utf-16le with mark", {"--bom", "--output-encoding", "utf-16le"},
         std::string("\xFF\xFE\xE5\x65\x2C\x67,\0a\0;\0b\0\n\0001\0\n\0", 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"write"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult result = runCli(args, settings, rows);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(plistable::test::hex(result.out), plistable::test::hex(c.expected));
    }
}

TEST(WriteCommandTest, ACharacterTheOutputEncodingCannotHoldFailsAndPrintsNothing)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    CliResult result = runCli({"write", "--output-encoding", "latin1"}, settings, "[[\"caf\xC3\xA9\"],[\"\xE6\x97\xA5\"]]");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "-: line 2: \"\xE6\x97\xA5\" (U+65E5) cannot be written in latin1\n");
    result = runCli({"write", "--output-encoding", "no-such"}, settings, "[]");
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("unknown encoding: no-such"), std::string::npos);
}

TEST(WriteCommandTest, Cp932WritesTheWaveDashInItsWindowsFormWithANote)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    const std::string rows = "[[\"1〜3\", \"〜\"]]";
    CliResult result = runCli({"write", "--output-encoding", "cp932"}, settings, rows);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(plistable::test::hex(result.out), plistable::test::hex("1\x81\x60" "3,\x81\x60\n"));
    EXPECT_EQ(result.err, "-: 2 characters written in their Windows forms (〜 → ～)\n");
    result = runCli({"write", "--output-encoding", "shift_jis"}, settings, rows);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "-: line 1: \"〜\" (U+301C) cannot be written in shift_jis\n");
}

} // namespace
