// What the convert command must never destroy: an input of the run, a device, a fifo or a folder in
// the place of an output, a file another -n run wrote first, or temporary files left behind when the
// reader of standard output goes away.
#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

const std::string csv = "a,b\n1,2\n3,\"x\"y\n5,6\n";
const std::string plist = "<?xml version=\"1.0\"?>\n<plist><array><array><string>a</string></array></array></plist>";
const std::string hint = " would replace the input; use -o or -O to write elsewhere";

// The output is the same file as an input of the run: refused before anything is read, the file as it was.
TEST(NothingLostTest, AnOutputThatIsAnInputOfTheRunIsRefused)
{
    const struct {
        const char* name;
        std::vector<std::string> args; // "@" stands for the folder
        std::vector<std::string> untouched;
        std::string err;
    } cases[] = {
        {"csv read from a .plist", {"--from", "csv", "-o", "@", "@/d.plist"}, {"d.plist"},
         "@/d.plist: the output" + hint + "\n"},
        {"-O naming the input", {"-O", "@/s.csv", "@/s.csv"}, {"s.csv"}, "@/s.csv: the output" + hint + "\n"},
        {"property list read from a .csv", {"--from", "plist", "-o", "@", "@/t.csv"}, {"t.csv"},
         "@/t.csv: the output" + hint + "\n"},
        {"-O naming a hard link of the input", {"-O", "@/h.plist", "@/s.csv"}, {"s.csv"},
         "@/s.csv: the output @/h.plist" + hint + "\n"},
        {"-O naming the input through another spelling", {"-O", "@/./sub/../s.csv", "@/s.csv"}, {"s.csv"},
         "@/s.csv: the output" + hint + "\n"},
        // A later input is a chain (written, then read); an earlier one was read already and stays.
        {"an earlier input", {"-o", "@", "@/a.csv", "@/a.plist"}, {"a.csv"},
         "@/a.plist: the output would replace the input @/a.csv; use -o or -O to write elsewhere\n"},
        {"an earlier input, -j 2", {"-j", "2", "-o", "@", "@/a.csv", "@/a.plist"}, {"a.csv"},
         "@/a.plist: the output would replace the input @/a.csv; use -o or -O to write elsewhere\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string folder = dir.file("").substr(0, dir.file("").size() - 1);
        std::filesystem::create_directory(dir.file("sub"));
        for (const char* name : {"d.plist", "s.csv", "t.csv"})
            dir.write(name, csv);
        dir.write("a.csv", "a,b\n1,2\n");
        dir.write("a.plist", plist);
        ::link(dir.file("s.csv").c_str(), dir.file("h.plist").c_str());
        std::vector<std::string> args{"convert", "-q"};
        for (std::string arg : c.args)
            args.push_back(arg.starts_with('@') ? folder + arg.substr(1) : arg);
        const CliResult result = runCli(args, dir.file("settings.json"));
        std::string err = c.err;
        for (std::size_t at; (at = err.find('@')) != std::string::npos;)
            err.replace(at, 1, folder);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, err);
        for (const std::string& name : c.untouched)
            EXPECT_EQ(dir.read(name), name == "a.csv" ? "a,b\n1,2\n" : csv) << name;
    }
}

// A unix socket at `path` (closed again: the file stays).
void makeSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// Only a regular file (or a link to one) is replaced; standard output, fifos and character devices
// that -O names get the result as a stream; anything else is refused and stays what it was.
TEST(NothingLostTest, SpecialFilesAreWrittenIntoOrRefusedNeverReplaced)
{
    TempDir dir;
    const std::string source = dir.write("x.csv", "a,b\n1,2\n");
    std::filesystem::create_directory(dir.file("folder"));
    std::filesystem::create_directory(dir.file("out"));
    std::filesystem::create_directory_symlink(dir.file("folder"), dir.file("folder-link"));
    std::filesystem::create_directory_symlink(dir.file("folder"), dir.file("out/x.plist"));
    makeSocket(dir.file("socket"));
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string path; // stays of its kind
        int status;
        std::string err;
    } cases[] = {
        {"a socket named by -O", {"-O", dir.file("socket")}, dir.file("socket"), 1,
         source + ": cannot write " + dir.file("socket") + ": not a regular file\n"},
        {"a link to a folder named by -O", {"-O", dir.file("folder-link")}, dir.file("folder-link"), 1,
         source + ": cannot write " + dir.file("folder-link") + ": it is a folder\n"},
        {"a folder named by -O, with a slash", {"-O", dir.file("folder/")}, dir.file("folder"), 1,
         source + ": cannot write " + dir.file("folder/") + ": it is a folder\n"},
        {"a link to a folder at the output", {"-o", dir.file("out")}, dir.file("out/x.plist"), 1,
         source + ": cannot write " + dir.file("out/x.plist") + ": it is a folder\n"},
        {"a character device named by -O", {"-O", "/dev/null"}, "/dev/null", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct stat before {};
        ASSERT_EQ(::lstat(c.path.c_str(), &before), 0);
        std::vector<std::string> args{"convert", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(source);
        const CliResult result = runCli(args, dir.file("settings.json"));
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        struct stat after {};
        ASSERT_EQ(::lstat(c.path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    }
    std::string fromFifo;
    std::thread reader([&] { fromFifo = std::string(std::istreambuf_iterator<char>(std::ifstream(dir.file("fifo")).rdbuf()), {}); });
    const CliResult intoFifo = runCli({"convert", "-q", "-O", dir.file("fifo"), source}, dir.file("settings.json"));
    reader.join();
    EXPECT_EQ(intoFifo.status, 0) << intoFifo.err;
    EXPECT_NE(fromFifo.find("<string>1</string>"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo")));
    const CliResult intoStdout = runCli({"convert", "-O", "/dev/stdout", source}, dir.file("settings.json"));
    EXPECT_EQ(intoStdout.status, 0) << intoStdout.err;
    EXPECT_NE(intoStdout.out.find("<string>1</string>"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink("/dev/stdout"));
}

// Runs `sh -c script` with the built tool as $P; the exit status.
int shell(const std::string& script)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", script.c_str(), PLISTABLE_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Eight runs of -n racing for one absent output: exactly one writes it, the others leave it alone.
TEST(NothingLostTest, OfConcurrentNoClobberRunsExactlyOneWins)
{
    TempDir dir;
    std::string text = "a,b\n";
    for (int i = 0; i < 500; ++i)
        text += std::to_string(i) + ",x\n";
    std::string script;
    for (int k = 0; k < 8; ++k) {
        const std::string n = std::to_string(k);
        std::filesystem::create_directory(dir.file("src" + n));
        dir.write("src" + n + "/x.csv", text);
        script += "\"$0\" convert -n -q -o '" + dir.file("race") + "' '" + dir.file("src" + n) + "/x.csv' 2>'"
                  + dir.file("err" + n) + "' && echo won >>'" + dir.file("wins") + "' &\n";
    }
    script += "wait\n";
    std::filesystem::create_directory(dir.file("race"));
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove(dir.file("race/x.plist"));
        dir.write("wins", "");
        ASSERT_EQ(shell(script), 0);
        EXPECT_EQ(dir.read("wins"), "won\n");
        int refused = 0;
        for (int k = 0; k < 8; ++k) {
            const std::string err = dir.read("err" + std::to_string(k));
            refused += err == dir.file("src" + std::to_string(k)) + "/x.csv: " + dir.file("race/x.plist")
                                  + ": exists, not replaced\n";
        }
        EXPECT_EQ(refused, 7);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("race")),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// A reader of standard output that goes away stops the run quietly, and nothing is left behind.
TEST(NothingLostTest, AClosedPipeLeavesNoTemporaryFiles)
{
    TempDir dir;
    std::string big = "a,b\n";
    while (big.size() < (1 << 20))
        big += "some text that repeats,and more of it\n";
    const std::string source = dir.write("big.csv", big);
    std::filesystem::create_directory(dir.file("tmp"));
    std::filesystem::create_directory(dir.file("out"));
    std::string many;
    for (int i = 0; i < 8; ++i)
        many += " '" + dir.write("f" + std::to_string(i) + ".csv", big) + "'";
    const std::string env = "TMPDIR='" + dir.file("tmp") + "' ";
    EXPECT_EQ(shell(env + "\"$0\" convert -o - '" + source + "' 2>'" + dir.file("err") + "' | head -c 10 >/dev/null"), 0);
    EXPECT_EQ(shell(env + "\"$0\" convert -j 4 -o '" + dir.file("out") + "'" + many + " 2>>'" + dir.file("err")
                    + "' | head -n 1 >/dev/null"),
              0);
    EXPECT_EQ(dir.read("err"), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("out")))
        EXPECT_FALSE(entry.path().filename().string().starts_with('.')) << entry.path();
}

// A result for standard output goes out as it is produced, byte for byte what -O writes, with
// nothing staged in $TMPDIR, also when the reader stops after ten bytes. The Shift_JIS text shows
// only past the first half megabyte: its encoding is settled before anything goes out.
TEST(NothingLostTest, StandardOutputGetsWhatAFileGets)
{
    TempDir dir;
    std::string plain;
    while (plain.size() < (600 << 10))
        plain += "plain,1\n";
    const std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array><dict><key>a</key>"
                             "<string>1</string><key>b</key><string>x,y</string></dict></array></plist>\n";
    const struct {
        const char* name;
        std::string contents;
        std::string options;
    } cases[] = {
        {"t.csv", "a,b\n1,\"x\ny\"\n", "--header"},
        {"sjis.csv", "name,value\n" + plain + "\x93\x8c\x8b\x9e,1\n\x91\xe5\x8d\xe3,2\n", "--header"},
        {"t.plist", list, "--header"},
        {"binary.csv", "a,b\n" + plain, "--header --to binary"},
    };
    std::filesystem::create_directory(dir.file("tmp"));
    const std::string run = "TMPDIR='" + dir.file("tmp") + "' \"$0\" convert ";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = "'" + dir.write(c.name, c.contents) + "'";
        ASSERT_EQ(shell(run + c.options + " -O '" + dir.file("file.out") + "' " + source + " >/dev/null"), 0);
        ASSERT_EQ(shell(run + c.options + " -o - " + source + " >'" + dir.file("stream.out") + "'"), 0);
        const std::string streamed = dir.read("stream.out"), written = dir.read("file.out");
        EXPECT_TRUE(streamed == written) << streamed.size() << " bytes streamed, " << written.size() << " written";
        EXPECT_EQ(shell("(" + run + c.options + " -o - " + source + " 2>'" + dir.file("err") + "'; echo $? >'"
                        + dir.file("status") + "') | head -c 10 >/dev/null"),
                  0);
        EXPECT_EQ(dir.read("err"), "");
        EXPECT_TRUE(dir.read("status") == "0\n" || dir.read("status") == "141\n") << dir.read("status");
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
    }
}

// The messages of the command line's edges.
TEST(NothingLostTest, EdgeMessages)
{
    TempDir dir;
    const std::string settings = dir.file("settings.json");
    const std::string empty = dir.write("empty.plist", "<?xml version=\"1.0\"?>\n<plist><array/></plist>");
    const CliResult noName = runCli({"convert", "-O", "", dir.write("x.csv", "a\n")}, settings);
    EXPECT_EQ(noName.status, 2);
    EXPECT_NE(noName.err.find("the output file name is empty"), std::string::npos) << noName.err;
    const CliResult emptyTable = runCli({"convert", "-o", "-", empty}, settings);
    EXPECT_EQ(emptyTable.status, 0) << emptyTable.err;
    EXPECT_EQ(emptyTable.out, "");
    EXPECT_EQ(shell("\"$0\" --help >/dev/full 2>/dev/null"), 1);
    // Past a file-size limit of one 512-byte block, reported instead of dying by SIGXFSZ.
    const std::string rows = dir.write("rows.json", "[[\"" + std::string(4000, 'x') + "\"]]");
    const std::string table = dir.write("table.csv", "a\n" + std::string(4000, 'x') + "\n");
    for (const std::string& command : {"write '" + rows + "'", "read '" + table + "'"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(shell("ulimit -f 1; \"$0\" " + command + " >'" + dir.file("big") + "' 2>'" + dir.file("err") + "'"), 1);
        EXPECT_NE(dir.read("err").find("File too large"), std::string::npos) << dir.read("err");
    }
}

} // namespace
