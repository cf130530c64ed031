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

} // namespace
