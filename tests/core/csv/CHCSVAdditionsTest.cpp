#include "core/csv/CHCSVAdditions.hpp"

#include "core/AssertionFailure.hpp"
#include "core/csv/CHCSVAggregator.hpp"
#include "core/csv/CHCSVParser.hpp"

#include "support/TestSupport.hpp"

using namespace plistable;
using plistable::test::s;

namespace {

TEST(CHCSVAdditionsTest, CSVStringWritesOneLinePerCollection)
{
    using Array = PlistValue::Array;
    struct Case {
        const char* name;
        Array rows;
        Text expected;
    };
    const Case cases[] = {
        {"no rows", {}, u""},
        {"one empty row", {PlistValue(Array{})}, u"\n"},
        {"elements that are no collection are skipped",
         {PlistValue(Array{u"a", u"b"}), PlistValue(u"plain string"), PlistValue::integer(3), PlistValue(Array{u"c"})},
         u"a,b\nc\n"},
        {"a dictionary gives its keys",
         {PlistValue(PlistValue::Dictionary{{u"name", PlistValue(u"x")}, {u"age", PlistValue::integer(3)}})},
         u"name,age\n"},
        {"quoting and non-text fields",
         {PlistValue(Array{u"a,b", u"say \"hi\"", u"l1\nl2", PlistValue::boolean(false), u"\u00E9"})},
         u"\"a,b\",\"say \"\"hi\"\"\",\"l1\nl2\",false,\u00E9\n"},
        {"a lone surrogate vanishes from its field", {PlistValue(Array{u"a", Text(1, char16_t(0xDBFF)), u"b"})},
         u"a,,b\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(s(CSVString(c.rows)), s(c.expected));
    }
}

using plistable::test::u;
using Rows = std::vector<std::vector<Text>>;

Rows rows(std::initializer_list<std::initializer_list<std::string_view>> lines)
{
    Rows out;
    for (const auto& line : lines) {
        out.emplace_back();
        for (std::string_view field : line)
            out.back().push_back(u(field));
    }
    return out;
}

struct Case {
    std::string_view name;
    std::string_view input;
    std::uint64_t options;
    std::optional<Rows> expected;
};

TEST(CHCSVAdditionsTest, ReadsTextIntoRows)
{
    const Case cases[] = {
        {"TwoLines", "a,b\nc,d", 0, rows({{"a", "b"}, {"c", "d"}})},
        {"FinalLineBreakAddsARowWithOneEmptyField", "a,b\nc,d\n", 0, rows({{"a", "b"}, {"c", "d"}, {""}})},
        {"EmptyText", "", 0, rows({{""}})},
        {"CommentsAreConsumed", "#x\na\n#y\nb", 4, rows({{"a"}, {"b"}})},
        {"HashIsContentWithoutOption", "#x\na", 0, rows({{"#x"}, {"a"}})},
        {"AllThreeOptions", "#c\n \"a\\\"\" , b\\,c ", 1 | 2 | 4, rows({{"a\"", "b,c"}})},
        {"OtherBitsIgnored", "#x, \"y\" ", ~std::uint64_t{7}, rows({{"#x", " \"y\" "}})},
        {"FailureOnTheLastLineGivesNothing", "a,b\nc,d\ne\"f", 0, std::nullopt},
        {"UnterminatedQuoteGivesNothing", "a\n\"b", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CSVComponentsWithOptions(u(c.input), c.options), c.expected);
        if (c.options == 0) {
            EXPECT_EQ(CSVComponents(u(c.input)), c.expected);
        }
    }
}

TEST(CHCSVAdditionsTest, LoneSurrogatesSurviveTextReading)
{
    const Text text{u'a', 0xD800, u',', 0xDC00};
    EXPECT_EQ(CSVComponents(text), (Rows{{Text{u'a', 0xD800}, Text{0xDC00}}}));
}

TEST(CHCSVAdditionsTest, FailureIsOfferedThroughTheErrorArgument)
{
    std::string longText;
    for (int i = 0; i < 2000; ++i)
        longText.append("x").append(std::to_string(i)).append(",y\n");
    longText += "p\"q";
    CHCSVError error;
    EXPECT_EQ(CSVComponentsWithOptions(u(longText), 0, &error), std::nullopt);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.line, 2001u);
    EXPECT_EQ(error.description, "Unexpected delimiter. Expected ',' (0x2C), but got '\"' (0x22)");
}

TEST(CHCSVAdditionsTest, ReadsFiles)
{
    test::TempDir dir;
    const std::string path = dir.write("data.csv", "\xEF\xBB\xBFid,name\n1, \"x\" \n");
    EXPECT_EQ(arrayWithContentsOfCSVFile(path), rows({{"id", "name"}, {"1", " \"x\" "}, {""}}));
    EXPECT_EQ(arrayWithContentsOfCSVFile(path, CHCSVAdditionsSanitizesFields), rows({{"id", "name"}, {"1", "x"}, {""}}));

    CHCSVError error;
    EXPECT_EQ(arrayWithContentsOfCSVFile(dir.file("none.csv"), 0, &error), std::nullopt);
    EXPECT_EQ(error.code, 4);
    EXPECT_EQ(error.description, "cannot read " + dir.file("none.csv") + ": No such file or directory");
}

TEST(CHCSVAdditionsTest, AbsentPathIsAnAssertionFailure)
{
    test::expectThrowMessage<AssertionFailure>([] { arrayWithContentsOfCSVFile(std::nullopt); },
                                               "Invalid parameter not satisfying: csvFilePath");
}

TEST(CHCSVAdditionsTest, AggregatorDropsEverythingAtAFailureAndIgnoresLaterLines)
{
    CHCSVParser parser(u("a"));
    CHCSVAggregator aggregator;
    EXPECT_FALSE(aggregator.lines());
    aggregator.parserDidBeginDocument(parser);
    aggregator.parserDidBeginLine(parser, 1);
    aggregator.parserDidReadField(parser, u"a", 0);
    aggregator.parserDidEndLine(parser, 1);
    ASSERT_TRUE(aggregator.lines());
    EXPECT_EQ(aggregator.lines()->size(), 1u);
    aggregator.parserDidFailWithError(parser, CHCSVError{std::string(CHCSVErrorDomain), 1, "x", 1, 0});
    aggregator.parserDidBeginLine(parser, 2);
    aggregator.parserDidEndLine(parser, 2);
    EXPECT_FALSE(aggregator.lines());
    ASSERT_TRUE(aggregator.error());
    EXPECT_EQ(aggregator.error()->description, "x");
}

} // namespace
