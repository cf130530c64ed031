#include "core/UserDefaults.hpp"

#include "support/TestSupport.hpp"

#include <filesystem>
#include <sys/stat.h>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::TempDir;

namespace {

TEST(UserDefaultsTest, RegisteredDefaultsAnswerButAreNeverWritten)
{
    TempDir dir;
    UserDefaults defaults(dir.file("conf/settings.json"));
    EXPECT_EQ(defaults.objectForKey("header"), std::nullopt);
    EXPECT_FALSE(defaults.boolForKey("header"));
    defaults.registerDefaults({{"header", true}});
    EXPECT_EQ(defaults.objectForKey("header"), true);
    EXPECT_TRUE(defaults.storedValues().empty());
}

// A store kept elsewhere and linked into place stays a link: the file it leads to gets the values.
TEST(UserDefaultsTest, AStoreThatIsASymbolicLinkIsUpdatedThroughTheLink)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link -> what it holds, made in order
    } cases[] = {
        {"absolute link", {{"conf/settings.json", "@dotfiles/settings.json"}}},
        {"relative link", {{"conf/settings.json", "../dotfiles/settings.json"}}},
        {"a link to a link", {{"conf/settings.json", "middle.json"}, {"conf/middle.json", "../dotfiles/settings.json"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ::mkdir(dir.file("conf").c_str(), 0700);
        ::mkdir(dir.file("dotfiles").c_str(), 0700);
        dir.write("dotfiles/settings.json", "{\"lastFolder\": \"/data\"}\n");
        for (const auto& [link, target] : c.links)
            std::filesystem::create_symlink(target.starts_with('@') ? dir.file(target.substr(1)) : target,
                                            dir.file(link));
        UserDefaults defaults(dir.file("conf/settings.json"));
        defaults.setBool("header", true);
        ASSERT_TRUE(defaults.synchronize());
        for (const auto& [link, target] : c.links)
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file(link))) << link;
        const std::string stored = dir.read("dotfiles/settings.json");
        EXPECT_NE(stored.find("\"header\": true"), std::string::npos) << stored;
        EXPECT_NE(stored.find("\"lastFolder\": \"/data\""), std::string::npos) << stored;
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"conf", "dotfiles"}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("dotfiles")),
                                std::filesystem::directory_iterator()),
                  1);
        EXPECT_EQ(UserDefaults(dir.file("conf/settings.json")).objectForKey("header"), true);
    }
}

TEST(UserDefaultsTest, StoredValuesPersistAcrossInstances)
{
    TempDir dir;
    const std::string path = dir.file("conf/plistable/settings.json");
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"header", false}});
        defaults.setBool("header", true);
        EXPECT_TRUE(defaults.synchronize());
    }
    UserDefaults again(path);
    again.registerDefaults({{"header", false}});
    EXPECT_EQ(again.objectForKey("header"), true);
}

TEST(UserDefaultsTest, SynchronizeKeepsKeysAnotherWriterStored)
{
    TempDir dir;
    const std::string path = dir.file("settings.json");
    UserDefaults first(path);
    UserDefaults second(path);
    first.setBool("header", true);
    ASSERT_TRUE(first.synchronize());
    second.setBool("other", true);
    ASSERT_TRUE(second.synchronize());
    UserDefaults reader(path);
    EXPECT_EQ(reader.objectForKey("header"), true);
    EXPECT_EQ(reader.objectForKey("other"), true);
}

TEST(UserDefaultsTest, ADamagedStoreReadsAsEmptyWithAWarning)
{
    // The last: a valid store padded beyond 1 MB, taken as damaged without being parsed.
    const std::string damaged[] = {"", "{", "[true]", "\x01\x02garbage", "{\"header\": \"yes\"}",
                                   "{\"header\": true}" + std::string((1 << 20) + 1, ' ')};
    for (const std::string& contents : damaged) {
        SCOPED_TRACE(contents.substr(0, 20));
        TempDir dir;
        const std::string path = dir.write("settings.json", contents);
        LogCapture log;
        UserDefaults defaults(path);
        defaults.registerDefaults({{"header", false}});
        EXPECT_FALSE(defaults.boolForKey("header"));
        EXPECT_EQ(log.lines().size(), 1u);
        defaults.setBool("header", true);
        EXPECT_TRUE(defaults.synchronize());
        EXPECT_EQ(UserDefaults(path).objectForKey("header"), true);
    }
}

TEST(UserDefaultsTest, AFailedWriteIsReportedAndChangesNothingOnDisk)
{
    TempDir dir;
    dir.write("file", "not a folder");
    LogCapture log;
    UserDefaults defaults(dir.file("file/settings.json"));
    defaults.setBool("header", true);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_FALSE(log.lines().empty());
}

TEST(UserDefaultsTest, StorePathFollowsXdgConfigHome)
{
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(UserDefaults::standardStorePath(), "/tmp/xdg/plistable/settings.json");
    ::unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (home != nullptr) {
        EXPECT_EQ(UserDefaults::standardStorePath(), std::string(home) + "/.config/plistable/settings.json");
    }
    if (saved)
        ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
}

} // namespace

namespace {

// Keys and values this class does not know stay in the store as they are.
TEST(UserDefaultsTest, SynchronizeKeepsUnknownKeysAndValues)
{
    TempDir dir;
    const std::string path =
        dir.write("settings.json", R"({"n": 1, "list": [1, "two", null], "nested": {"a": 0.5}, "header": false})");
    LogCapture log;
    UserDefaults defaults(path);
    defaults.setBool("header", true);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(dir.read("settings.json"), "{\n  \"header\": true,\n  \"list\": [\n    1,\n    \"two\",\n    null\n  ],\n"
                                         "  \"n\": 1,\n  \"nested\": {\n    \"a\": 0.5\n  }\n}\n");
}

// A store that is no regular file is neither waited on (a fifo) nor read nor replaced.
TEST(UserDefaultsTest, AStoreThatIsNoRegularFileIsNeverReadOrReplaced)
{
    const char* cases[] = {"fifo", "link to a fifo", "link to a device", "folder"};
    for (const std::string& c : std::vector<std::string>(std::begin(cases), std::end(cases))) {
        SCOPED_TRACE(c);
        TempDir dir;
        const std::string path = dir.file("settings.json");
        if (c == "fifo")
            ::mkfifo(path.c_str(), 0600);
        else if (c == "link to a fifo") {
            ::mkfifo(dir.file("fifo").c_str(), 0600);
            std::filesystem::create_symlink(dir.file("fifo"), path);
        }
        else if (c == "link to a device")
            std::filesystem::create_symlink("/dev/zero", path);
        else
            ::mkdir(path.c_str(), 0700);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        LogCapture log;
        UserDefaults defaults(path);
        EXPECT_EQ(log.lines().size(), 1u);
        defaults.setBool("header", true);
        EXPECT_FALSE(defaults.synchronize());
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
}

} // namespace
