#include "CliRun.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>
#include <map>

using plistable::test::CliResult;
using plistable::test::runCli;
using plistable::test::TempDir;

namespace {

namespace fs = std::filesystem;

// 200 files of every kind the converter meets, with the cases where order matters: two inputs
// with the same output name, an output that a later argument reads, an input that a later output
// replaces, a file named twice. Rebuilt from scratch before each run.
std::vector<std::string> makeTree(const std::string& root)
{
    fs::remove_all(root);
    for (const char* folder : {"in", "in/b", "out"})
        fs::create_directories(root + "/" + folder);
    auto write = [&](const std::string& name, const std::string& bytes) {
        const std::string path = root + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return path;
    };
    std::vector<std::string> args;
    for (int i = 0; args.size() < 190; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 10) {
        case 0: args.push_back(write("in/c" + n + ".csv", "h1,h2\n" + n + ",\"x,\ny\"\n")); break;
        case 1: args.push_back(write("in/s" + n + ".csv", "\x83\x65\x83\x58\x83\x67," + n + "\n")); break;
        case 2: args.push_back(write("in/bad" + n + ".csv", "a,\"unterminated\n")); break;
        case 3:
            args.push_back(write("in/d" + n + ".plist", "<plist><array><dict><key>k</key><string>" + n
                                                              + "</string></dict><dict><key>z</key><integer>1"
                                                                "</integer></dict></array></plist>"));
            break;
        case 4:
            args.push_back(write("in/a" + n + ".plist",
                                 "<?xml version=\"1.0\"?><plist><array><array><string>" + n
                                     + "</string><true/></array></array></plist>"));
            break;
        case 5: args.push_back(write("in/r" + n + ".plist", "<plist><dict/></plist>")); break;
        case 6: args.push_back(write("in/m" + n + ".plist", "<plist><array><dict><key>a</key>")); break;
        case 7:
            args.push_back(write("in/k" + n + ".plist",
                                 "<plist><array><array/><dict/></array></plist>"));
            break;
        case 8: args.push_back(write("in/t" + n + ".txt", "text")); break;
        case 9: args.push_back(root + "/in/missing" + n + ".csv"); break;
        }
    }
    // Same output name: the later wins.
    args.push_back(write("in/same.csv", "first\n"));
    args.push_back(write("in/b/same.csv", "second\n"));
    // An output read by a later argument, which then writes over the first input's name.
    args.push_back(write("in/chain.csv", "1,2\n"));
    args.push_back(root + "/out/chain.plist");
    // An input that a later argument's output replaces (out/over.plist is read, then rewritten).
    args.push_back(write("out/over.plist", "<plist><array><array><string>old</string></array></array></plist>"));
    args.push_back(write("in/over.csv", "new\n"));
    // The same file twice, and a few more independent ones.
    args.push_back(args.front());
    for (int i = 0; i < 3; ++i)
        args.push_back(write("in/tail" + std::to_string(i) + ".csv", "t\n"));
    return args;
}

std::map<std::string, std::string> filesUnder(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::FILE* file = std::fopen(entry.path().c_str(), "rb");
        std::string bytes;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
        files[entry.path().string()] = bytes;
    }
    return files;
}

TEST(ConvertJobsTest, ParallelRunGivesExactlyTheSequentialResult)
{
    TempDir dir;
    const std::string root = dir.file("tree");
    const std::string settings = dir.file("settings.json");
    std::vector<std::string> args = makeTree(root);
    ASSERT_EQ(args.size(), 200u);
    auto run = [&](const std::string& jobs) {
        std::vector<std::string> full{"convert", "-j", jobs, "-o", root + "/out"};
        full.insert(full.end(), args.begin(), args.end());
        makeTree(root);
        return runCli(full, settings);
    };
    const CliResult sequential = run("1");
    const auto sequentialFiles = filesUnder(root);
    EXPECT_EQ(sequential.status, 1);
    EXPECT_NE(sequential.err.find("were left out"), std::string::npos);
    for (const std::string jobs : {"4", "0", "2"}) {
        SCOPED_TRACE("-j " + jobs);
        const CliResult parallel = run(jobs);
        EXPECT_EQ(parallel.status, sequential.status);
        EXPECT_EQ(parallel.out, sequential.out);
        EXPECT_EQ(parallel.err, sequential.err);
        EXPECT_EQ(filesUnder(root), sequentialFiles);
    }
    EXPECT_EQ(sequentialFiles.at(root + "/out/same.plist").find("second") != std::string::npos, true);
}

} // namespace
