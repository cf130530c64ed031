#include "core/plist/PlistPointer.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::s;

namespace {

TEST(PlistPointerTest, ParsesPartsOrSaysWhyNot)
{
    const struct {
        const char* text;
        std::vector<std::string> parts; // when it parses
        const char* error;              // otherwise
    } cases[] = {
        {"", {}, ""},
        {"/", {""}, ""},
        {"/Tracks", {"Tracks"}, ""},
        {"/Playlists/0/Playlist Items", {"Playlists", "0", "Playlist Items"}, ""},
        {"/a~1b/~0c/~01", {"a/b", "~c", "~1"}, ""},
        {"//x/", {"", "x", ""}, ""},
        {"Tracks", {}, "a pointer is empty or begins with '/'"},
        {"/a~2", {}, "'~' in a pointer is followed by '0' or '1'"},
        {"/a~", {}, "'~' in a pointer is followed by '0' or '1'"},
        {"/\xFF", {}, "a pointer must be UTF-8 text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto pointer = PlistPointer::parse(c.text, error);
        EXPECT_EQ(error, c.error);
        if (!pointer)
            continue;
        std::vector<std::string> parts;
        for (const Text& part : pointer->parts())
            parts.push_back(s(part));
        EXPECT_EQ(parts, c.parts);
        EXPECT_EQ(pointer->text(), c.text);
    }
}

TEST(PlistPointerTest, IndexesAreDecimalWithoutLeadingZeros)
{
    const std::pair<const char16_t*, std::optional<std::size_t>> cases[] = {
        {u"0", 0}, {u"12", 12}, {u"01", std::nullopt}, {u"", std::nullopt}, {u"-1", std::nullopt},
        {u"1a", std::nullopt}, {u"99999999999999999999999", std::nullopt}};
    for (const auto& [part, index] : cases)
        EXPECT_EQ(PlistPointer::index(part), index) << s(part);
}

} // namespace
