#include "core/text/JsonString.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

using namespace plistable;

namespace {

JsonStringStyle upperHex()
{
    JsonStringStyle style;
    style.upperCaseHex = true;
    return style;
}

JsonStringStyle shortEscapes()
{
    JsonStringStyle style;
    style.shortControlEscapes = true;
    return style;
}

TEST(JsonStringTest, EscapesWhatJsonNeedsInBothOutputForms)
{
    struct Case {
        std::string_view name;
        std::u16string_view text;
        JsonStringStyle style;
        std::string_view utf8;     // the UTF-8 output
        std::u16string_view utf16; // the UTF-16 output
    };
    const Case cases[] = {
        {"Plain", u"abc", {}, "\"abc\"", u"\"abc\""},
        {"Empty", u"", {}, "\"\"", u"\"\""},
        {"QuoteAndBackslash", u"a\"b\\c", {}, R"("a\"b\\c")", uR"("a\"b\\c")"},
        {"ShortEscapes", u"\n\r\t", {}, R"("\n\r\t")", uR"("\n\r\t")"},
        {"OtherControlsLowerHex", u"\x01\x1f\b\f", {}, R"("\u0001\u001f\u0008\u000c")",
         uR"("\u0001\u001f\u0008\u000c")"},
        {"OtherControlsUpperHex", u"\x1f\f", upperHex(), R"("\u001F\u000C")", uR"("\u001F\u000C")"},
        {"BackspaceAndFormFeedShort", u"\b\f\x1f", shortEscapes(), R"("\b\f\u001f")", uR"("\b\f\u001f")"},
        {"DeleteAndNonAscii", u"\x7f\u00e9\u65e5", {}, "\"\x7f\xC3\xA9\xE6\x97\xA5\"", u"\"\x7f\u00e9\u65e5\""},
        {"SurrogatePair", u"x\U0001F600y", {}, "\"x\xF0\x9F\x98\x80y\"", u"\"x\U0001F600y\""},
        {"LoneHighThenText", u"a\xD800" "b", {}, R"("a\ud800b")", u"\"a\xD800" "b\""},
        {"LoneLowAtEnd", u"a\xDC00", upperHex(), R"("a\uDC00")", u"\"a\xDC00\""},
        {"ReversedPair", u"\xDC00\xD800", {}, R"("\udc00\ud800")", u"\"\xDC00\xD800\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string utf8 = "[";
        appendJsonString(utf8, c.text, c.style);
        // Compared past the bracket: GCC 12 flags "[" + string with a false -Werror=restrict in Release.
        EXPECT_EQ(utf8.substr(1), std::string(c.utf8));
        std::u16string utf16 = u"[";
        appendJsonString(utf16, c.text, c.style);
        EXPECT_EQ(utf16.substr(1), std::u16string(c.utf16));
    }
}

// From UTF-8, with short escapes, the output is exactly what nlohmann::json writes with its replacing
// error handler: one U+FFFD for each maximal run of bytes that cannot become a character.
TEST(JsonStringTest, Utf8InputMatchesNlohmannReplacingOutput)
{
    const std::string_view cases[] = {
        "plain",
        "ctl \x01\x08\x0c\x1f\x7f \"q\" \\",
        "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80",
        "cut \xE6\x97",
        "cut then ascii \xE6\x97" "a",
        "stray \x80\xBF continuation",
        "overlong \xC0\xAF \xE0\x80\xAF",
        "surrogate \xED\xA0\x80",
        "above max \xF4\x90\x80\x80 \xF5\x80",
        "four cut \xF0\x9F\x98",
        "lead then lead \xC3\xC3\xA9",
        "\xFF\xFE",
    };
    for (std::string_view bytes : cases) {
        SCOPED_TRACE(std::string(bytes));
        std::string ours;
        appendJsonStringFromUtf8(ours, bytes, shortEscapes());
        EXPECT_EQ(ours, nlohmann::json(std::string(bytes)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
}

} // namespace
