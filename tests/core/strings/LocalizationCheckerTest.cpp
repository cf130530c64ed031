#include "core/strings/LocalizationChecker.hpp"

#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace plistable {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

const std::string pluralDict = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                               "\t<key>%d files</key>\n\t<dict>\n"
                               "\t\t<key>NSStringLocalizedFormatKey</key>\n\t\t<string>%#@files@</string>\n"
                               "\t\t<key>files</key>\n\t\t<dict>\n"
                               "\t\t\t<key>NSStringFormatSpecTypeKey</key>\n\t\t\t<string>NSStringPluralRuleType</string>\n"
                               "\t\t\t<key>NSStringFormatValueTypeKey</key>\n\t\t\t<string>d</string>\n"
                               "\t\t\t<key>one</key>\n\t\t\t<string>one file</string>\n"
                               "\t\t\t<key>other</key>\n\t\t\t<string>%d files</string>\n"
                               "\t\t</dict>\n\t</dict>\n</dict>\n</plist>\n";

// A clean table: English and Japanese strings files and a plural dictionary.
Files cleanFiles()
{
    return {
        {"en.lproj/Localizable.strings",
         "/* Greeting */\n\"hello\" = \"Hello\";\n\n\"saved\" = \"%1$@ saved %2$d files\";\n\n\"percent\" = \"100%%\";\n\n"},
        {"ja.lproj/Localizable.strings",
         "/* Greeting */\n\"hello\" = \"こんにちは\";\n\n\"saved\" = \"%2$d 件を %1$@ が保存\";\n\n\"percent\" = \"100%%\";\n\n"},
        {"en.lproj/Localizable.stringsdict", pluralDict},
    };
}

struct Planted {
    std::string_view name;
    std::string file;
    std::string contents;
    std::string finding; // the one line expected
};

class LocalizationCheckerTest : public ::testing::TestWithParam<Planted> {};

TEST_P(LocalizationCheckerTest, FindsThePlantedFaultAtItsLine)
{
    test::TempDir folder;
    Files files = cleanFiles();
    files[GetParam().file] = GetParam().contents;
    for (const auto& [name, bytes] : files) {
        fs::create_directories((fs::path(folder.path()) / name).parent_path());
        std::ofstream(fs::path(folder.path()) / name, std::ios::binary) << bytes;
    }
    std::vector<std::string> lines;
    for (const LocalizationProblem& finding : LocalizationChecker().checkPaths({folder.path()}))
        lines.push_back(finding.description().substr(folder.path().size() + 1));
    ASSERT_EQ(lines.size(), 1u) << (lines.empty() ? "" : lines.front() + " ...");
    EXPECT_EQ(lines.front().substr(0, GetParam().finding.size()), GetParam().finding);
}

const std::string ja = "ja.lproj/Localizable.strings";
const std::string en = "en.lproj/Localizable.strings";

INSTANTIATE_TEST_SUITE_P(
    Faults, LocalizationCheckerTest,
    ::testing::Values(
        Planted{"MissingSemicolon", ja,
                "\"hello\" = \"こんにちは\";\n\"saved\" = \"%2$d 件を %1$@ が保存\"\n\"percent\" = \"100%%\";\n",
                ja + ":2: expected ';'"},
        Planted{"RepeatedKey", en,
                "\"hello\" = \"Hello\";\n\"saved\" = \"%1$@ saved %2$d files\";\n\"percent\" = \"100%%\";\n\"hello\" = \"Hi\";\n",
                en + ":4: \"hello\" repeats the entry of line 1"},
        Planted{"MissingInTranslation", ja, "\"hello\" = \"こんにちは\";\n\"saved\" = \"%2$d 件を %1$@ が保存\";\n",
                en + ":6: \"percent\" is missing in ja"},
        Planted{"OnlyInTranslation", ja,
                "\"hello\" = \"こんにちは\";\n\"saved\" = \"%2$d 件を %1$@ が保存\";\n\"percent\" = \"100%%\";\n\"extra\" = \"余分\";\n",
                ja + ":4: \"extra\" is not in the base language en"},
        Planted{"PlaceholderType", ja,
                "\"hello\" = \"こんにちは\";\n\"saved\" = \"%2$@ 件を %1$d が保存\";\n\"percent\" = \"100%%\";\n",
                ja + ":2: \"saved\": the placeholders %2$@ %1$d differ from en's %1$@ %2$d"},
        Planted{"PlaceholderCount", ja,
                "\"hello\" = \"こんにちは\";\n\"saved\" = \"%1$@ が保存\";\n\"percent\" = \"100%%\";\n",
                ja + ":2: \"saved\": the placeholders"},
        Planted{"EmptyValue", ja,
                "\"hello\" = \"\";\n\"saved\" = \"%2$d 件を %1$@ が保存\";\n\"percent\" = \"100%%\";\n",
                ja + ":1: \"hello\" has an empty value"},
        Planted{"PluralWithoutOther", "en.lproj/Localizable.stringsdict",
                pluralDict.substr(0, pluralDict.find("\t\t\t<key>other")) + "\t\t</dict>\n\t</dict>\n</dict>\n</plist>\n",
                "en.lproj/Localizable.stringsdict:4: \"%d files\": the variable \"files\" has no \"other\" form"},
        Planted{"PluralWithoutFormat", "en.lproj/Localizable.stringsdict",
                std::string(pluralDict).erase(pluralDict.find("\t\t<key>NSStringLocalizedFormatKey"),
                                              std::string("\t\t<key>NSStringLocalizedFormatKey</key>\n\t\t<string>%#@files@</string>\n").size()),
                "en.lproj/Localizable.stringsdict:4: \"%d files\" has no NSStringLocalizedFormatKey"},
        Planted{"BrokenPluralFile", "en.lproj/Localizable.stringsdict", "<plist><dict><key>a</key>\n</plist>",
                "en.lproj/Localizable.stringsdict:2: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LocalizationCheckerCleanTest, FindsNothingInCleanFiles)
{
    test::TempDir folder;
    for (const auto& [name, bytes] : cleanFiles()) {
        fs::create_directories((fs::path(folder.path()) / name).parent_path());
        std::ofstream(fs::path(folder.path()) / name, std::ios::binary) << bytes;
    }
    EXPECT_EQ(LocalizationChecker().checkPaths({folder.path()}), std::vector<LocalizationProblem>{});
}

} // namespace
} // namespace plistable
