// The settings store under faults: writers in several processes at once, a store cut short or
// overwritten with garbage, a folder that cannot be written. Settings then read as their last good
// value or their default, with a warning; the store on disk is always whole JSON.
#include "core/io/FileContents.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/UserDefaults.hpp"

#include "support/ReadOnlyFolder.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::TempDir;

namespace {

// The store's contents as JSON; fails the test when they are not whole JSON.
nlohmann::json readStore(const std::string& path)
{
    const FileContents contents = readFileContents(path);
    EXPECT_FALSE(contents.error) << contents.error.message();
    const nlohmann::json document = nlohmann::json::parse(contents.bytes, nullptr, false);
    EXPECT_TRUE(document.is_object()) << contents.bytes;
    return document;
}

// Run in a child process: toggles `key` `rounds` times, synchronizing each time, and checks before
// every toggle that the store still holds the value this writer last stored under its key (no
// other writer sets it). Returns how often it did not.
int toggleMany(const std::string& path, const std::string& key, int rounds)
{
    int lost = 0;
    UserDefaults defaults(path);
    std::optional<bool> last;
    for (int i = 0; i < rounds; ++i) {
        if (last) {
            const nlohmann::json stored = nlohmann::json::parse(readFileContents(path).bytes, nullptr, false);
            if (!stored.is_object() || !stored.contains(key) || stored[key] != *last)
                ++lost;
        }
        last = i % 2 == 0;
        defaults.setBool(key, *last);
        if (!defaults.synchronize())
            ++lost;
    }
    return lost;
}

TEST(UserDefaultsFaultTest, ConcurrentWritersNeverLoseEachOthersValues)
{
    TempDir dir;
    const std::string path = dir.file("config/plistable/settings.json");
    constexpr int writers = 3;
    constexpr int rounds = 301; // odd: every writer ends having stored true
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            LogCapture quiet;
            ::_exit(std::min(toggleMany(path, "key" + std::to_string(w), rounds), 100));
        }
        children.push_back(pid);
    }
    // Meanwhile the store, whenever it exists, is whole JSON.
    for (int i = 0; i < 300; ++i) {
        const FileContents contents = readFileContents(path);
        if (!contents.error) {
            EXPECT_TRUE(nlohmann::json::parse(contents.bytes, nullptr, false).is_object()) << contents.bytes;
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "times a writer found its value gone";
    }
    const nlohmann::json stored = readStore(path);
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(stored.value("key" + std::to_string(w), false), true) << w;
    EXPECT_EQ(dir.names(), std::vector<std::string>{"config"});
    EXPECT_EQ(std::filesystem::directory_iterator(dir.file("config/plistable"))->path().filename(), "settings.json");
}

TEST(UserDefaultsFaultTest, ADamagedStoreGivesDefaultsAndIsReplacedWhole)
{
    const std::string cuts[] = {"{\"header\": tr", "{\"header\": true", "{\"header\"", "\xEF\xBB\xBF{\"header\": tru",
                                "{\"header\": true} garbage", std::string(5000, '{')};
    for (const std::string& damaged : cuts) {
        SCOPED_TRACE(test::hex(damaged.substr(0, 24)));
        TempDir dir;
        const std::string path = dir.write("settings.json", damaged);
        LogCapture log;
        UserDefaults defaults(path);
        defaults.registerDefaults({{"header", false}, {"other", true}});
        EXPECT_EQ(defaults.objectForKey("header"), false);
        EXPECT_EQ(defaults.objectForKey("other"), true);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("damaged"), std::string::npos) << log.lines()[0];

        defaults.setBool("other", false);
        EXPECT_TRUE(defaults.synchronize());
        EXPECT_EQ(readStore(path), nlohmann::json({{"other", false}}));
    }
}

TEST(UserDefaultsFaultTest, AStoreDamagedAfterLoadingKeepsTheLastGoodValues)
{
    TempDir dir;
    const std::string path = dir.write("settings.json", "{\"header\": true}");
    UserDefaults defaults(path);
    dir.write("settings.json", "garbage");
    EXPECT_EQ(defaults.objectForKey("header"), true); // read at loading, and still answered
    LogCapture log;
    defaults.setBool("other", true);
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(defaults.objectForKey("header"), true);
    EXPECT_EQ(readStore(path), nlohmann::json({{"header", true}, {"other", true}}));
}

TEST(UserDefaultsFaultTest, AReadOnlyFolderKeepsTheValueInMemoryAndTheStoreAsItWas)
{
    TempDir dir;
    ::mkdir(dir.file("config").c_str(), 0755);
    const std::string path = dir.write("config/settings.json", "{\"header\": false}");
    UserDefaults defaults(path);
    LogCapture log;
    {
        test::ReadOnlyFolder readOnly(dir.file("config"));
        if (!readOnly.effective())
            GTEST_SKIP() << "this process can still create files in a read-only folder";
        defaults.setBool("header", true);
        EXPECT_FALSE(defaults.synchronize());
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("plistable: cannot write settings " + path + ": ", 0), 0u) << log.lines()[0];
    EXPECT_EQ(defaults.objectForKey("header"), true);
    EXPECT_EQ(UserDefaults(path).objectForKey("header"), false);
    EXPECT_EQ(dir.read("config/settings.json"), "{\"header\": false}");
    EXPECT_TRUE(defaults.synchronize()); // writable again: the change is kept, not lost
    EXPECT_EQ(UserDefaults(path).objectForKey("header"), true);
}

} // namespace

namespace {

// A store named without a folder lives in the current folder (no folder of its name is made).
TEST(UserDefaultsFaultTest, AStoreWithoutAFolderInItsPathIsWrittenInTheCurrentFolder)
{
    TempDir dir;
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    UserDefaults defaults("settings.json");
    defaults.setBool("header", true);
    const bool written = defaults.synchronize();
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_TRUE(written);
    EXPECT_EQ(readStore(dir.file("settings.json")), nlohmann::json({{"header", true}}));
}

} // namespace
