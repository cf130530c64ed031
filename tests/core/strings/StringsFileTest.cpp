#include "core/strings/detail/StringsFile.hpp"

#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

namespace plistable::detail {
namespace {

using plistable::test::u;

OpenStepComment comment(std::string_view text, bool block, std::uint64_t first, std::uint64_t last = 0)
{
    return {u(text), block, first, last == 0 ? first : last};
}

OpenStepEntry entry(std::string_view key, std::uint64_t line, std::vector<OpenStepComment> comments = {})
{
    return {u(key), PlistValue(u("v")), line, line, std::move(comments)};
}

// Which comment belongs to an entry, fed as the parser reports entries.
TEST(StringsFileTest, TakesTheCommentRightAboveAnEntry)
{
    struct Case {
        std::string_view name;
        std::vector<OpenStepEntry> entries;
        std::vector<std::string> comments; // per entry
    };
    const Case cases[] = {
        {"block right above", {entry("a", 2, {comment(" Title ", true, 1)})}, {"Title"}},
        {"the last of several", {entry("a", 3, {comment(" one ", true, 1), comment(" two ", true, 2)})}, {"two"}},
        {"a header apart by an empty line", {entry("a", 9, {comment(" licence ", true, 1, 7)})}, {""}},
        {"header, then the entry's own",
         {entry("a", 4, {comment(" licence ", true, 1), comment(" own ", true, 3)})},
         {"own"}},
        {"slash lines make one comment",
         {entry("a", 3, {comment(" first", false, 1), comment(" second", false, 2)})},
         {"first\nsecond"}},
        {"a comment after the previous entry's semicolon is not the next one's",
         {entry("a", 1), entry("b", 2, {comment(" of a ", true, 1)})},
         {"", ""}},
        {"multi-line block", {entry("a", 4, {comment(" line one\n line two ", true, 1, 3)})}, {"line one\n line two"}},
        {"no space inside the markers", {entry("a", 2, {comment("tight", true, 1)})}, {"tight"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<OpenStepEntry> entries = c.entries;
        const std::vector<StringsEntry> read = stringsEntries(std::move(entries));
        ASSERT_EQ(read.size(), c.comments.size());
        for (std::size_t i = 0; i < read.size(); ++i)
            EXPECT_EQ(read[i].comment, c.comments[i]);
    }
}

TEST(StringsFileTest, WritesXcodeLayoutInEachEncoding)
{
    const std::vector<StringsEntry> entries = {{"greeting", "Hello \"you\"\n", "Shown at start", 0},
                                               {"bye", "さようなら", "", 0}};
    const std::string text = "/* Shown at start */\n\"greeting\" = \"Hello \\\"you\\\"\\n\";\n\n\"bye\" = \"さようなら\";\n\n";
    EXPECT_EQ(writeStringsFile(entries, {}, {}), text);
    EXPECT_EQ(writeStringsFile(entries, {}, {false, false, true}), "\xEF\xBB\xBF" + text);
    const std::string utf16 = writeStringsFile(entries, {}, {true, false, true});
    ASSERT_GE(utf16.size(), 4u);
    EXPECT_EQ(utf16.substr(0, 4), std::string("\xFF\xFE/\0", 4));
    EXPECT_EQ(writeStringsFile(entries, {}, {true, true, true}).substr(0, 4), std::string("\xFE\xFF\0/", 4));
    // A comment cannot end early.
    EXPECT_EQ(writeStringsFile({{"k", "v", "a */ b", 0}}, {}, {}), "/* a * / b */\n\"k\" = \"v\";\n\n");
}

// Files already laid out one way come back byte for byte.
TEST(StringsFileTest, ReadThenWrittenGivesTheSameBytes)
{
    const std::string_view cases[] = {
        "/* One */\n\"a\" = \"A\";\n\n/* Two */\n\"b\" = \"B\";\n\n",                 // string extraction
        "\n/* Class = \"UILabel\"; text = \"A\"; */\n\"x.text\" = \"A\";\n\n/* c */\n\"y\" = \"B\";\n", // storyboard
        "\"a\" = \"A\";\n\"b\" = \"B\";\n",                                           // packed
        "/*\n  Localizable.strings\n  App\n*/\n\n/* own */\n\"a\" = \"A\";\n\n\"b\" = \"B\";\n\n/* end */\n", // header and trailer
        "",
    };
    for (const std::string_view text : cases) {
        SCOPED_TRACE(text);
        OpenStepError error;
        const std::optional<StringsFile> file = readStringsFile(text, error);
        ASSERT_TRUE(file) << error.message;
        EXPECT_EQ(writeStringsFile(file->entries, file->layout, file->encoding), text);
    }
}

TEST(StringsFileTest, ReportsTheLineOfAMissingSemicolon)
{
    OpenStepError error;
    EXPECT_FALSE(readStringsFile("\"a\" = \"A\";\n\"b\" = \"B\"\n\"c\" = \"C\";\n", error));
    EXPECT_EQ(error.line, 2u);
    // A value over several lines: still the line of its key.
    EXPECT_FALSE(readStringsFile("\"a\" = \"A\";\n/* note */\n\"b\" =\n  \"B\nB\"\n\"c\" = \"C\";\n", error));
    EXPECT_EQ(error.line, 3u);
}

} // namespace
} // namespace plistable::detail
