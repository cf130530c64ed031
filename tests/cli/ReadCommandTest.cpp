#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <nlohmann/json.hpp>

#include <sstream>

using plistable::test::CliResult;
using plistable::test::TempDir;

namespace {

CliResult run(std::vector<std::string> args, const std::string& input = "")
{
    TempDir dir;
    args.insert(args.begin(), "read");
    return plistable::test::runCli(args, dir.file("settings.json"), input);
}

struct Case {
    std::string_view name;
    std::vector<std::string> args;
    std::string input; // standard input
    int status;
    std::string out;
    std::string errContains;
};

TEST(ReadCommandTest, PrintsRowsEventsAndFailures)
{
    const Case cases[] = {
        {"RowsFromStandardInput", {}, "a,b\nc", 0, "[[\"a\",\"b\"],[\"c\"]]\n", ""},
        {"DashIsStandardInput", {"-"}, "x", 0, "[[\"x\"]]\n", ""},
        {"OptionsApply", {"--escapes", "--sanitize", "--comments"}, "#c\n \"a\" ,b\\,c", 0,
         "[[\"a\",\"b,c\"]]\n", ""},
        {"TabDelimiterByName", {"--delimiter", "tab"}, "a\tb,c", 0, "[[\"a\",\"b,c\"]]\n", ""},
        {"TabDelimiterEscaped", {"--delimiter", "\\t"}, "a\tb", 0, "[[\"a\",\"b\"]]\n", ""},
        {"NonAsciiDelimiter", {"--delimiter", "§"}, "a§b", 0, "[[\"a\",\"b\"]]\n", ""},
        {"Events", {"--events", "--comments"}, "#n\na,\"b\"", 0,
         "{\"event\":\"beginDocument\"}\n{\"event\":\"comment\",\"text\":\"n\"}\n{\"event\":\"beginLine\",\"line\":1}\n"
         "{\"event\":\"field\",\"index\":0,\"text\":\"a\"}\n{\"event\":\"field\",\"index\":1,\"text\":\"\\\"b\\\"\"}\n"
         "{\"event\":\"endLine\",\"line\":1}\n{\"event\":\"endDocument\"}\n",
         ""},
        {"FailureEventThenMessage", {"--events"}, "a\"", 1,
         "{\"event\":\"beginDocument\"}\n{\"event\":\"beginLine\",\"line\":1}\n"
         "{\"event\":\"field\",\"index\":0,\"text\":\"a\"}\n{\"event\":\"endLine\",\"line\":1}\n"
         "{\"event\":\"error\",\"code\":1,\"message\":\"Unexpected delimiter. Expected ',' (0x2C), but got '\\\"' "
         "(0x22)\"}\n",
         "<stdin>:1: Unexpected delimiter"},
        {"FailurePrintsNoRows", {}, "a\nb,\"c", 1, "", "<stdin>:2: Unterminated quoted field"},
        {"ControlCharactersEscaped", {}, std::string("\x01\t", 2), 0, "[[\"\\u0001\\t\"]]\n", ""},
        {"NewlineDelimiterIsUsage", {"--delimiter", "\n"}, "", 2, "", "--delimiter"},
        {"QuoteDelimiterIsUsage", {"--delimiter", "\""}, "", 2, "", "--delimiter"},
        {"HashDelimiterIsUsage", {"--delimiter", "#"}, "", 2, "", "--delimiter"},
        {"EmptyDelimiterIsUsage", {"--delimiter", ""}, "", 2, "", "--delimiter"},
        {"LongDelimiterIsUsage", {"--delimiter", ";;"}, "", 2, "", "--delimiter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = run(c.args, c.input);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_NE(result.err.find(c.errContains), std::string::npos) << result.err;
    }
}

TEST(ReadCommandTest, ReadsFilesAndNamesThemInFailures)
{
    TempDir dir;
    const std::string good = dir.write("good.csv", "id;name\n1;\"x,y\"\n");
    EXPECT_EQ(run({dir.write("plain.csv", "id;name\n1;x,y")}).out, "[[\"id;name\"],[\"1;x\",\"y\"]]\n");
    EXPECT_EQ(run({"--delimiter", ";", "--sanitize", good}).out, "[[\"id\",\"name\"],[\"1\",\"x,y\"],[\"\"]]\n");

    const std::string bad = dir.write("bad.csv", "a\n\"b\"c\n");
    const CliResult failed = run({bad});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, bad + ":2: Unexpected delimiter. Expected ',' (0x2C), but got 'c' (0x63)\n");

    const CliResult missing = run({dir.file("none.csv")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "cannot read " + dir.file("none.csv") + ": No such file or directory\n");
}

// The library's guess of an encoding names no file; the command puts the one it reads in front.
TEST(ReadCommandTest, AnEncodingGuessNamesTheFile)
{
    TempDir dir;
    const std::string latin = dir.write("latin.csv", "caf\xE9\n");
    const std::string guess = ": unable to determine stream encoding; assuming MacOSRoman\n";
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string err;
    } cases[] = {
        {{latin}, "", latin + guess},
        {{"--events", latin}, "", latin + guess},
        {{}, "caf\xE9\n", "standard input" + guess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "standard input" : c.args.front());
        const CliResult result = run(c.args, c.input);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, c.err);
    }
}

// A lone surrogate (from UTF-16 input) cannot be UTF-8, so it is escaped; the output stays UTF-8
// and, but for that escape (which some JSON readers refuse), parses.
TEST(ReadCommandTest, LoneSurrogatesStillGiveValidJson)
{
    const std::string input("\xFF\xFE" "a\0\x00\xD8,\0b\0", 10);
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"--events"}}) {
        const CliResult result = run(args, input);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("a\\ud800"), std::string::npos) << result.out;
        std::istringstream lines(result.out);
        EXPECT_EQ(plistable::toUtf8Lossy(plistable::fromUtf8Lossy(result.out)), result.out);
        for (std::string line; std::getline(lines, line);) {
            if (const auto at = line.find("\\ud800"); at != std::string::npos) {
                // Erase and insert rather than replace(): GCC 12 reports a false -Werror=restrict on it.
                line.erase(at, 6);
                line.insert(at, 1, 'X');
            }
            EXPECT_TRUE(nlohmann::json::accept(line)) << line;
        }
    }
}

} // namespace

namespace {

TEST(ReadCommandTest, DecodesInANamedEncodingWithoutSniffing)
{
    struct EncodingCase {
        std::string_view name;
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<EncodingCase> cases = {
        // Sniffing would take these bytes as UTF-8 ("é"), the named encoding gives two characters.
        {"latin1 over sniffing", {"--encoding", "latin1"}, "\xC3\xA9,b\n", 0, "[[\"\xC3\x83\xC2\xA9\",\"b\"],[\"\"]]\n", ""},
        {"shift_jis with a delimiter", {"--encoding", "shift_jis", "--delimiter", ";"}, "\x93\xFA;\x96\x7B\n", 0,
         "[[\"\xE6\x97\xA5\",\"\xE6\x9C\xAC\"],[\"\"]]\n", ""},
        {"bytes the encoding lacks", {"--encoding", "utf-8"}, "a\xFF\n", 1, "", "<stdin>: cannot be decoded as utf-8 at byte offset 1\n"},
        {"a failure keeps the file's line", {"--encoding", "latin1"}, "a\nb\"c\n", 1, "", "<stdin>:2: "},
    };
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = run(c.args, c.input);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
    }
    EXPECT_EQ(run({"--encoding", "no-such-encoding"}).status, 2);
}

} // namespace
