#include "cli/CliRun.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace plistable {
namespace {

namespace fs = std::filesystem;
using test::runCli;

// A two-language app folder: English and Japanese strings files.
class StringsCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        put("app/en.lproj/Localizable.strings", "/* Greeting */\n\"hello\" = \"Hello\";\n\n\"count\" = \"%d items\";\n\n");
        put("app/ja.lproj/Localizable.strings", "/* Greeting */\n\"hello\" = \"こんにちは\";\n\n\"count\" = \"%d 件\";\n\n");
    }
    void put(const std::string& name, const std::string& bytes)
    {
        fs::create_directories((fs::path(dir.path()) / name).parent_path());
        std::ofstream(fs::path(dir.path()) / name, std::ios::binary) << bytes;
    }
    std::string path(const std::string& name) const { return dir.file(name); }

    test::TempDir dir;
    std::string settings = dir.file("settings.json");
};

TEST_F(StringsCommandTest, ExportsImportsAndChecks)
{
    const auto exported = runCli({"strings", "export", path("app")}, settings);
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, "table,key,variant,comment,en,ja\n"
                            "Localizable,hello,,Greeting,Hello,こんにちは\n"
                            "Localizable,count,,,%d items,%d 件\n");

    const auto excel = runCli({"strings", "export", "--excel", "-o", path("t.csv"), path("app")}, settings);
    EXPECT_EQ(excel.status, 0) << excel.err;
    EXPECT_EQ(dir.read("t.csv").substr(0, 12), "\xEF\xBB\xBFtable,key");
    EXPECT_NE(dir.read("t.csv").find("\r\n"), std::string::npos);

    const auto imported = runCli({"strings", "import", "--excel", path("t.csv"), "-o", path("copy")}, settings);
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find(" -> " + path("copy/ja.lproj/Localizable.strings")), std::string::npos);
    EXPECT_EQ(dir.read("copy/ja.lproj/Localizable.strings"), dir.read("app/ja.lproj/Localizable.strings"));

    // -n: the files are there now, so each one fails.
    const auto refused = runCli({"strings", "import", "-n", "--excel", path("t.csv"), "-o", path("copy")}, settings);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("exists, not replaced"), std::string::npos);

    const auto clean = runCli({"strings", "check", path("app")}, settings);
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, "");
    put("app/ja.lproj/Localizable.strings", "\"hello\" = \"こんにちは\";\n\"count\" = \"%@ 件\";\n");
    const auto faulty = runCli({"strings", "check", path("app")}, settings);
    EXPECT_EQ(faulty.status, 1);
    EXPECT_EQ(faulty.out, path("app/ja.lproj/Localizable.strings")
                              + ":2: \"count\": the placeholders %@ differ from en's %d\n");
}

TEST_F(StringsCommandTest, FailsWithTheFileAndLine)
{
    put("bad.csv", "table,key,variant,comment,en\nLocalizable,k,,,\"open\n");
    struct Case {
        std::string_view name;
        std::vector<std::string> args;
        int status;
        std::string message; // in standard error
    };
    const Case cases[] = {
        {"missing folder", {"strings", "export", path("nowhere")}, 1, path("nowhere") + ": no such file or folder"},
        {"character cp932 lacks", {"strings", "export", "--output-encoding", "cp932", path("app")}, 1, ""},
        {"malformed table", {"strings", "import", path("bad.csv"), "-o", path("out")}, 1, path("bad.csv") + ":2: "},
        {"no output folder", {"strings", "import", path("bad.csv")}, 2, "--output-dir"},
        {"strings encoding", {"strings", "import", path("bad.csv"), "-o", path("out"), "--output-encoding", "latin1"}, 2, ""},
        {"no subcommand", {"strings"}, 2, ""},
    };
    put("app/fr.lproj/Localizable.strings", "\"hello\" = \"Déjà\";\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = runCli(c.args, settings);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(path("out")));
}

} // namespace
} // namespace plistable
