// Hostile or odd invocations of the built tool, each run through a shell: every one must end in a
// clear result (the sound output, or an error naming the input and exit 1 or 2), never an abort.
#include "support/TestSupport.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

using plistable::test::TempDir;

namespace {

struct Invocation {
    const char* name;
    std::string command;     // a shell command; "TOOL" stands for the built tool
    int status;              // the exit status expected
    std::string inErr;       // a part of the error output ("" for any)
    std::string out;         // the whole standard output, when `exactOut`
    bool exactOut = false;
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runShell(TempDir& dir, std::string command)
{
    for (std::size_t at; (at = command.find("TOOL")) != std::string::npos;)
        command.replace(at, 4, PLISTABLE_BINARY);
    dir.write("invocation.sh", "cd " + dir.path() + " && export XDG_CONFIG_HOME=" + dir.file("conf") + " && " + command
                                   + "\n");
    const std::string full = "sh " + dir.file("invocation.sh") + " > " + dir.file("stdout") + " 2> " + dir.file("stderr");
    const int status = std::system(full.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), dir.read("stdout"), dir.read("stderr")};
}

void expectOutcome(TempDir& dir, const Invocation& c)
{
    SCOPED_TRACE(std::string(c.name) + ": " + c.command);
    const Outcome outcome = runShell(dir, c.command);
    EXPECT_EQ(outcome.status, c.status) << outcome.out << outcome.err;
    EXPECT_NE(outcome.err.find(c.inErr), std::string::npos) << outcome.err;
    if (c.exactOut) {
        EXPECT_EQ(outcome.out, c.out);
    }
}

TEST(HostileInvocationTest, TheMarkerEndsOptionsWhereverItStands)
{
    TempDir dir;
    dir.write("t.csv", "a\n1\n");
    dir.write("-x.csv", "b\n2\n");
    dir.write("rows.json", "[[\"a\"]]");
    ::mkdir(dir.file("out").c_str(), 0700);
    const Invocation cases[] = {
        {"convert: after an operand", "TOOL convert -o out t.csv -- -x.csv --no-header", 0, "--no-header: not a",
         "t.csv -> out/t.plist\n-x.csv -> out/-x.plist\n", true},
        {"convert: last", "TOOL convert -o out t.csv --", 0, "", "t.csv -> out/t.plist\n", true},
        {"convert: a second marker is an operand", "TOOL convert -o out -- t.csv --", 0, "--: not a", "", false},
        {"detect-encoding: after an operand", "TOOL detect-encoding t.csv -- -x.csv", 0, "",
         "t.csv\t4\tUTF-8\n-x.csv\t4\tUTF-8\n", true},
        {"read: before the operand", "TOOL read -- -x.csv", 0, "", "[[\"b\"],[\"2\"],[\"\"]]\n", true},
        {"read: after the operand", "TOOL read t.csv --", 0, "", "[[\"a\"],[\"1\"],[\"\"]]\n", true},
        {"read: one operand too many", "TOOL read t.csv -- -x.csv", 2, "not expected: -x.csv", "", true},
        {"write: one operand too many", "TOOL write rows.json -- --bom", 2, "not expected: --bom", "", true},
        {"write: after the operand", "TOOL write rows.json --", 0, "", "a\n", true},
        {"config: between operands", "TOOL config header -- on", 0, "", "header = on\n", true},
        {"config: after both operands", "TOOL config header off --", 0, "", "header = off\n", true},
    };
    for (const Invocation& c : cases)
        expectOutcome(dir, c);
}

TEST(HostileInvocationTest, DevicesAndFoldersAreRefusedAndStandardInputErrorsAreErrors)
{
    TempDir dir;
    ::mkdir(dir.file("folder").c_str(), 0700);
    ::mkdir(dir.file("out").c_str(), 0700);
    const std::string refused = "/dev/zero: cannot read: not a regular file or a pipe";
    const Invocation cases[] = {
        {"convert a device as CSV", "TOOL convert -o out --from csv /dev/zero", 1, refused, "", true},
        {"convert a device as a property list", "TOOL convert -o out --from plist /dev/zero", 1, refused, "", true},
        {"read a device", "TOOL read /dev/zero", 1, "cannot read /dev/zero: not a regular file or a pipe", "", true},
        {"read a device in a named encoding", "TOOL read --encoding cp932 /dev/zero", 1, refused, "", true},
        {"write a device", "TOOL write /dev/zero", 1, refused, "", true},
        {"detect the encoding of a device and a folder", "TOOL detect-encoding /dev/zero folder", 1,
         "folder: cannot read: Is a directory", "", true},
        {"read a folder as standard input", "TOOL read < folder", 1, "cannot read standard input: Is a directory",
         "", true},
        {"read a folder as standard input, named encoding", "TOOL read --encoding utf-8 < folder", 1,
         "standard input: cannot read: Is a directory", "", true},
        {"write a folder as standard input", "TOOL write < folder", 1, "standard input: cannot read: Is a directory",
         "", true},
        {"convert a folder as standard input", "TOOL convert --from csv -o - - < folder", 1,
         "standard input: cannot read: Is a directory", "", true},
        {"a pipe is still read", "printf \"a,b\\n\" | TOOL read", 0, "", "[[\"a\",\"b\"],[\"\"]]\n", true},
    };
    for (const Invocation& c : cases)
        expectOutcome(dir, c);
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("out")));
}

// UTF-8 whose last character is cut off is read as UTF-8, the character written as U+FFFD, and reported.
TEST(HostileInvocationTest, Utf8CutOffAtTheEndIsReadAsUtf8AndReported)
{
    TempDir dir;
    dir.write("cut.csv", "a,\xE6\x97\xA5\xE6\x9C\xAC\n\xE6\x97");
    const std::string cut = "the character at byte offset 9 is cut off by the end of the file; written as U+FFFD";
    const Invocation cases[] = {
        {"detect-encoding", "TOOL detect-encoding cut.csv", 0, "", "cut.csv\t4\tUTF-8\n", true},
        {"convert", "TOOL convert --no-header -o - --from csv cut.csv", 1, "cut.csv: " + cut, "", false},
        {"read", "TOOL read cut.csv", 1,
         "cut.csv:2: Cannot decode the input as UTF-8: the character at byte offset 9 is cut off by the end of the input",
         "", true},
    };
    for (const Invocation& c : cases)
        expectOutcome(dir, c);
    const Outcome converted = runShell(dir, "TOOL convert --no-header -o - --from csv cut.csv");
    EXPECT_NE(converted.out.find("<string>\xE6\x97\xA5\xE6\x9C\xAC</string>"), std::string::npos) << converted.out;
    EXPECT_NE(converted.out.find("<string>\xEF\xBF\xBD</string>"), std::string::npos) << converted.out;
}

// write keeps the digits of numbers that no 64-bit integer holds, and of reals, as they were read, nested ones too.
TEST(HostileInvocationTest, WriteKeepsTheDigitsOfEveryNumber)
{
    TempDir dir;
    struct NumberCase {
        const char* name;
        std::string json;
        std::string csv;
    };
    const NumberCase cases[] = {
        {"below the smallest 64-bit integer", "[[-9223372036854775809]]", "-9223372036854775809\n"},
        {"beyond the largest unsigned one", "[[18446744073709551616]]", "18446744073709551616\n"},
        {"30 digits", "[[123456789012345678901234567890]]", "123456789012345678901234567890\n"},
        {"a real as written", "[[1.50,1E+2,0.1,-0.0]]", "1.50,1E+2,0.1,-0.0\n"},
        {"64-bit integers as before", "[[9223372036854775807,-9223372036854775808,18446744073709551615]]",
         "9223372036854775807,-9223372036854775808,18446744073709551615\n"},
        {"reals nested in a field as written", "[[[2.50],{\"k\":3.0}]]", "[2.50],\"{\"\"k\"\":3.0}\"\n"},
        {"a repeated key keeps its value", "[{\"a\":1.25,\"a\":2.50,\"b\":7.0}]", "a,b\n"},
    };
    for (const NumberCase& c : cases) {
        dir.write("numbers.json", c.json);
        expectOutcome(dir, {c.name, "TOOL write numbers.json", 0, "", c.csv, true});
    }
}

// An endless input fills memory (held low here) and is then refused, naming it; nothing is written.
TEST(HostileInvocationTest, InputLargerThanMemoryIsTooLargeToRead)
{
    if (plistable::test::sanitized)
        GTEST_SKIP() << "the sanitizer's shadow memory does not fit under a lowered address-space limit";
    TempDir dir;
    ::mkdir(dir.file("out").c_str(), 0700);
    ::mkfifo(dir.file("endless.csv").c_str(), 0600);
    const std::string endless = "yes aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    const std::string limited = "(ulimit -v 200000; exec TOOL ";
    const Invocation cases[] = {
        {"read", endless + " | " + limited + "read)", 1, "standard input: too large to read into memory", "", true},
        {"write", endless + " | " + limited + "write)", 1, "standard input: too large to read into memory", "", true},
        {"convert standard input", endless + " | " + limited + "convert --from csv -o - -)", 1,
         "standard input: too large to read into memory", "", true},
        {"convert a named pipe", "(" + endless + " > endless.csv &) && " + limited + "convert -o out endless.csv)", 1,
         "endless.csv: too large to read into memory", "", true},
    };
    for (const Invocation& c : cases)
        expectOutcome(dir, c);
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("out")));
}

} // namespace
