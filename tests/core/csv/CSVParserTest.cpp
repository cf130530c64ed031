#include "core/csv/CSVParser.hpp"

#include "core/AssertionFailure.hpp"
#include "support/TestSupport.hpp"

#include <map>
#include <random>
#include <span>
#include <optional>
#include <string>
#include <vector>

using namespace plistable;
using plistable::test::s;

namespace {

using Rows = std::vector<std::vector<std::string>>;
using Dict = std::map<std::string, std::string>;

std::vector<std::string> utf8Row(const Row& row)
{
    std::vector<std::string> fields;
    for (const Text& field : row)
        fields.push_back(s(field));
    return fields;
}

std::optional<Rows> rowsOf(const std::optional<std::vector<Record>>& records)
{
    if (!records)
        return std::nullopt;
    Rows rows;
    for (const Record& record : *records)
        rows.push_back(utf8Row(std::get<Row>(record)));
    return rows;
}

// A record read with a header, as a map over the header's names; its count() must agree.
Dict dictOf(const Record& record, const std::vector<Text>& names)
{
    const auto& dictionary = std::get<RecordDictionary>(record);
    Dict result;
    for (const Text& name : names) {
        if (const Text* value = dictionary.objectForKey(name))
            result[s(name)] = s(*value);
    }
    EXPECT_EQ(dictionary.count(), result.size());
    return result;
}

void expectStop(const CSVParseStop& stop, std::size_t line, std::size_t offset)
{
    EXPECT_EQ(stop.complete, line == 0);
    EXPECT_EQ(stop.line, line);
    EXPECT_EQ(stop.offset, offset);
}

struct RowCase {
    std::string_view name;
    std::u16string_view separator;
    std::u16string_view input;
    std::optional<Rows> expected;
    std::size_t stopLine = 0; // 0: the text is read to its end
    std::size_t stopOffset = 0;
};

const RowCase rowCases[] = {
    {"two lines", u",", u"a,b\nc,d", Rows{{"a", "b"}, {"c", "d"}}},
    {"trailing line break adds no row", u",", u"a,b\nc,d\n", Rows{{"a", "b"}, {"c", "d"}}},
    {"trailing blank lines add no row", u",", u"a\n\n\r\n", Rows{{"a"}}},
    {"blank lines disappear", u",", u"a,b\r\n\r\n\nc", Rows{{"a", "b"}, {"c"}}},
    {"empty middle field", u",", u"a,,b", Rows{{"a", "", "b"}}},
    {"empty last field", u",", u"a,", Rows{{"a", ""}}},
    {"empty first field", u",", u",a", Rows{{"", "a"}}},
    {"only a separator", u",", u",", Rows{{"", ""}}},
    {"nothing is trimmed", u",", u" a ,\t b ", Rows{{" a ", "\t b "}}},
    {"quoted separator, CR LF and doubled quote", u",", u"\"x,y\r\nz\"\"w\",next",
     Rows{{"x,y\r\nz\"w", "next"}}},
    {"quoted blank lines kept", u",", u"\"a\n\n\nb\"", Rows{{"a\n\n\nb"}}},
    {"two quotes are an empty field", u",", u"\"\",x", Rows{{"", "x"}}},
    {"four quotes are one quote", u",", u"\"\"\"\"", Rows{{"\""}}},
    {"quote mid field stops the parse", u",", u"ab\"cd,ef\nx", Rows{{"ab"}}, 1, 2},
    {"rows before a fault are kept", u",", u"a,b\nx\"y\nc,d", Rows{{"a", "b"}, {"x"}}, 2, 5},
    {"space after closing quote", u",", u"\"q\" ,c", Rows{{"q"}}, 1, 3},
    {"space before opening quote", u",", u" \"q\"", Rows{{" "}}, 1, 1},
    {"unclosed quote loses its field", u",", u"a,\"bc", Rows{{"a", ""}}, 1, 2},
    {"unclosed quote after CR LF", u",", u"a\r\n\"b\r\nc", Rows{{"a"}, {""}}, 2, 3},
    {"two line feeds are two lines", u",", u"a\n\n\"x", Rows{{"a"}, {""}}, 3, 3},
    {"stop after a quoted line break", u",", u"\"a\nb\"x", Rows{{"a\nb"}}, 2, 5},
    {"rows of different lengths", u",", u"a,b,c\nd\ne,f,g,h", Rows{{"a", "b", "c"}, {"d"}, {"e", "f", "g", "h"}}},
    {"quoted, then plain in one column", u",", u"\"x\"\"y\",1\nz,\"\"", Rows{{"x\"y", "1"}, {"z", ""}}},
    {"empty text", u",", u"", std::nullopt},
    {"leading line break", u",", u"\na,b", std::nullopt, 2, 1},
    {"leading CR LF pairs", u",", u"\r\n\r\na", std::nullopt, 3, 4},
    {"vertical tab ends a line", u",", u"a\vb", Rows{{"a"}, {"b"}}},
    {"form feed ends a line", u",", u"a\fb", Rows{{"a"}, {"b"}}},
    {"next line ends a line", u",", u"a\u0085b", Rows{{"a"}, {"b"}}},
    {"line separator ends a line", u",", u"a\u2028b", Rows{{"a"}, {"b"}}},
    {"paragraph separator ends a line", u",", u"a\u2029b", Rows{{"a"}, {"b"}}},
    {"quoted U+2028 is content", u",", u"\"a\u2028b\"", Rows{{"a\u2028b"}}},
    {"non-ASCII fields", u",", u"日本,語\n\u00e9", Rows{{"日本", "語"}, {"é"}}},
    {"two-unit separator inside text", u"::", u"a:b::c", Rows{{"a:b", "c"}}},
    {"three colons", u"::", u"a:::b", Rows{{"a", ":b"}}},
    {"two-unit separator at the end", u"::", u"a::", Rows{{"a", ""}}},
    {"half a separator at the end", u"::", u"a:", Rows{{"a:"}}},
    {"quoted two-unit separator", u"::", u"\"x::y\"::z\nc:", Rows{{"x::y", "z"}, {"c:"}}},
    {"letter separator", u"x", u"1x2", Rows{{"1", "2"}}},
    {"other case is text inside a field", u"x", u"1X2", Rows{{"1X2"}}},
    {"other case separates after a quote", u"x", u"\"1\"X2", Rows{{"1", "2"}}},
    {"two letters, rest in other case", u"ab", u"1aB2", Rows{{"1", "2"}}},
    {"two letters, first in other case", u"ab", u"1AB2", Rows{{"1AB2"}}},
    {"non-ASCII letter separator", u"\u00e9", u"\"1\"\u00c92", Rows{{"1", "2"}}},
    {"separator of a surrogate pair", u"\U0001D11E", u"a\U0001D11Eb", Rows{{"a", "b"}}},
};

TEST(CSVParserTest, ReadsRowsWithoutHeaderInEveryMode)
{
    for (const RowCase& c : rowCases) {
        SCOPED_TRACE(std::string(c.name));
        CSVParser parser(c.input, Text(c.separator), false);

        // The same parser, twice: each parse starts over at the beginning of the text.
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_EQ(rowsOf(parser.arrayOfParsedRows()), c.expected);
            expectStop(parser.lastParseStop(), c.stopLine, c.stopOffset);
            EXPECT_EQ(parser.lastParseStop().records, c.expected ? c.expected->size() : 0);
        }

        Rows received;
        parser.parseRowsForReceiver([&](Record&& record) { received.push_back(utf8Row(std::get<Row>(record))); });
        EXPECT_EQ(received, c.expected.value_or(Rows{}));
        expectStop(parser.lastParseStop(), c.stopLine, c.stopOffset);

        // A receiver that takes the records over gets the same ones.
        std::vector<Record> taken;
        parser.parseRowsForReceiver([&](Record&& record) { taken.push_back(std::move(record)); });
        EXPECT_EQ(rowsOf(taken), c.expected.value_or(Rows{}));

        parser.parseRowsForReceiver({});
        EXPECT_EQ(parser.lastParseStop().records, received.size());

        std::optional<Row> first = parser.firstParsedRow();
        ASSERT_EQ(first.has_value(), c.expected.has_value());
        if (first) {
            EXPECT_EQ(utf8Row(*first), c.expected->front());
        }
    }
}

TEST(CSVParserTest, SurrogateHalfSeparatorMatchesOnlyThatUnit)
{
    const Text high(1, char16_t(0xD834));
    const Text text = u"a" + high + u"b" + high + u"\xDD1E";
    CSVParser parser(text, high, false);
    const auto rows = parser.arrayOfParsedRows();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    const Row expected{u"a", u"b", Text(1, char16_t(0xDD1E))};
    EXPECT_EQ(std::get<Row>(rows->front()), expected);
}

struct HeaderCase {
    std::string_view name;
    std::u16string_view input;
    std::vector<std::string> names;
    std::optional<std::vector<Dict>> expected;
    std::size_t stopLine = 0;
    std::size_t stopOffset = 0;
    std::size_t surplusRecords = 0;
    std::size_t firstSurplusLine = 0;
};

const HeaderCase headerCases[] = {
    {"short record lacks the key", u"id,name\n1,pear\n2", {"id", "name"},
     std::vector<Dict>{{{"id", "1"}, {"name", "pear"}}, {{"id", "2"}}}},
    {"short, then full record", u"a,b\n1\n2,3", {"a", "b"}, std::vector<Dict>{{{"a", "1"}}, {{"a", "2"}, {"b", "3"}}}},
    {"repeated name keeps the later field", u"k,k\n1,2", {"k", "k"}, std::vector<Dict>{{{"k", "2"}}}},
    // A record read into the storage of a longer one keeps nothing of it.
    {"repeated name, full then short", u"k,x,k\n1,2,3\n4", {"k", "x", "k"},
     std::vector<Dict>{{{"k", "3"}, {"x", "2"}}, {{"k", "4"}}}},
    {"later repeated name, full then short", u"a,k,k\n1,2,3\n4\n5,6", {"a", "k", "k"},
     std::vector<Dict>{{{"a", "1"}, {"k", "3"}}, {{"a", "4"}}, {{"a", "5"}, {"k", "6"}}}},
    {"header without line break", u"id,name", {"id", "name"}, std::nullopt},
    {"header and line breaks only", u"id,name\r\n\n", {"id", "name"}, std::nullopt},
    {"empty first line is one empty name", u"\nx\ny", {""}, std::vector<Dict>{{{"", "x"}}, {{"", "y"}}}},
    {"quoted names", u"\"a,b\",\"c\"\"\"\n1,2", {"a,b", "c\""}, std::vector<Dict>{{{"a,b", "1"}, {"c\"", "2"}}}},
    {"surplus fields are dropped and counted", u"a,b\n1,2,3,4\n5,6\n7,8,9", {"a", "b"},
     std::vector<Dict>{{{"a", "1"}, {"b", "2"}}, {{"a", "5"}, {"b", "6"}}, {{"a", "7"}, {"b", "8"}}}, 0, 0, 2, 2},
    {"surplus line counts quoted breaks", u"a\n\"x\ny\"\nq,r", {"a"},
     std::vector<Dict>{{{"a", "x\ny"}}, {{"a", "q"}}}, 0, 0, 1, 4},
    {"unclosed quote in header", u"a,\"b\n1", {"a", ""}, std::nullopt, 1, 2},
    {"fault in a record", u"a,b\n1,2\n3\"x", {"a", "b"}, std::vector<Dict>{{{"a", "1"}, {"b", "2"}}, {{"a", "3"}}},
     3, 9},
};

TEST(CSVParserTest, ReadsRecordsWithHeaderInEveryMode)
{
    for (const HeaderCase& c : headerCases) {
        SCOPED_TRACE(std::string(c.name));
        CSVParser parser(c.input, u",", true, std::vector<Text>{u"ignored"});
        for (int pass = 0; pass < 2; ++pass) {
            const auto records = parser.arrayOfParsedRows();
            ASSERT_TRUE(parser.fieldNames());
            std::vector<std::string> names;
            for (const Text& name : *parser.fieldNames())
                names.push_back(s(name));
            EXPECT_EQ(names, c.names);
            ASSERT_EQ(records.has_value(), c.expected.has_value());
            if (records) {
                std::vector<Dict> dicts;
                for (const Record& record : *records)
                    dicts.push_back(dictOf(record, *parser.fieldNames()));
                EXPECT_EQ(dicts, *c.expected);
            }
            const CSVParseStop& stop = parser.lastParseStop();
            expectStop(stop, c.stopLine, c.stopOffset);
            EXPECT_EQ(stop.records, c.expected ? c.expected->size() : 0);
            EXPECT_EQ(stop.recordsWithSurplusFields, c.surplusRecords);
            EXPECT_EQ(stop.firstSurplusLine, c.firstSurplusLine);
        }

        std::vector<Dict> received;
        parser.parseRowsForReceiver([&](Record&& record) { received.push_back(dictOf(record, *parser.fieldNames())); });
        EXPECT_EQ(received, c.expected.value_or(std::vector<Dict>{}));
        EXPECT_EQ(parser.lastParseStop().recordsWithSurplusFields, c.surplusRecords);

        std::vector<Record> taken;
        parser.parseRowsForReceiver([&](Record&& record) { taken.push_back(std::move(record)); });
        std::vector<Dict> takenDicts;
        for (const Record& record : taken)
            takenDicts.push_back(dictOf(record, *parser.fieldNames()));
        EXPECT_EQ(takenDicts, c.expected.value_or(std::vector<Dict>{}));
    }
}

TEST(CSVParserTest, HeaderIndexLookupMatchesLookupByName)
{
    CSVParser parser(u"k,x,k,\n1,2,3,4\n5", u",", true);
    const auto records = parser.arrayOfParsedRows();
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 2u);
    const auto& full = std::get<RecordDictionary>((*records)[0]);
    const auto& shortRecord = std::get<RecordDictionary>((*records)[1]);

    const std::vector<std::pair<std::size_t, const char*>> fullCases = {{0, "3"}, {1, "2"}, {2, "3"}, {3, "4"}};
    for (const auto& [index, expected] : fullCases) {
        SCOPED_TRACE(index);
        ASSERT_NE(full.objectForHeaderIndex(index), nullptr);
        EXPECT_EQ(s(*full.objectForHeaderIndex(index)), expected);
        EXPECT_EQ(full.objectForHeaderIndex(index), full.objectForKey((*parser.fieldNames())[index]));
    }
    EXPECT_EQ(full.count(), 3u);
    EXPECT_EQ(full.objectForHeaderIndex(4), nullptr);
    EXPECT_EQ(full.objectForKey(u"K"), nullptr); // names are compared exactly

    // A short record: the later "k" column is missing, so "k" keeps the first column's field.
    EXPECT_EQ(s(*shortRecord.objectForKey(u"k")), "5");
    EXPECT_EQ(shortRecord.objectForHeaderIndex(1), nullptr);
    EXPECT_EQ(shortRecord.count(), 1u);
}

TEST(CSVParserTest, FirstRowLeavesTheLastParseAlone)
{
    CSVParser parser(u"a,b\n1,2,3\n\"", u",", true);
    ASSERT_TRUE(parser.arrayOfParsedRows());
    const CSVParseStop before = parser.lastParseStop();

    const std::optional<Row> first = parser.firstParsedRow();
    ASSERT_TRUE(first);
    EXPECT_EQ(utf8Row(*first), (std::vector<std::string>{"a", "b"}));

    const CSVParseStop& after = parser.lastParseStop();
    EXPECT_EQ(after.complete, before.complete);
    EXPECT_EQ(after.offset, before.offset);
    EXPECT_EQ(after.line, 3u);
    EXPECT_EQ(after.records, 2u); // the unclosed quote still yields a record with one empty field
    EXPECT_EQ(after.recordsWithSurplusFields, 1u);
    EXPECT_EQ(parser.fieldNames()->size(), 2u);
}

TEST(CSVParserTest, RefusesSeparatorsThatCannotBeRead)
{
    const std::u16string_view refused[] = {u"", u"\"", u"a\"", u";\n", u"\r", u"\v", u"\f", u"\u0085", u"\u2028",
                                           u"\u2029"};
    for (std::u16string_view separator : refused) {
        SCOPED_TRACE(s(separator));
        test::expectThrowMessage<AssertionFailure>(
            [&] { CSVParser parser(u"a", Text(separator), false); },
            "CSV separator string must not be empty and must not contain the double quote character or newline "
            "characters.");
    }
    for (std::u16string_view separator : {u",", u"::", u"\t", u" ", u";"})
        EXPECT_NO_THROW(CSVParser(u"a", Text(separator), false));
}

} // namespace

namespace {

// Long unquoted and quoted fields are scanned several units at a time: every stop unit and its
// neighbours must be found (or passed over) wherever it falls in such a run.
TEST(CSVParserTest, FindsStopUnitsAtEveryPositionOfLongFields)
{
    struct Unit {
        char16_t unit;
        bool endsPlainText;
    };
    const Unit units[] = {{u',', true},    {u'"', true},     {u'\n', true},    {u'\v', true},   {u'\f', true},
                          {u'\r', true},   {u'\u0085', true}, {u'\u2028', true}, {u'\u2029', true}, {u'\t', false},
                          {u'\x0E', false}, {u'\u0084', false}, {u'\u0086', false}, {u'\u2027', false},
                          {u'\u202A', false}, {u'+', false}, {u'\u2C2C', false}};
    for (const Unit& c : units) {
        for (std::size_t at = 0; at < 140; ++at) {
            SCOPED_TRACE(testing::Message() << "unit " << int(c.unit) << " at " << at);
            Text text(150, u'a');
            text[at] = c.unit;
            CSVParser parser(text, u",", false);
            const auto rows = parser.arrayOfParsedRows();
            if (at == 0 && c.endsPlainText) // a line break or quote at the start: no plain first field
                continue;
            ASSERT_TRUE(rows);
            const Row& first = std::get<Row>(rows->front());
            EXPECT_EQ(first.front().size(), c.endsPlainText ? at : text.size());

            // Inside quotes only '"' matters; everything else is content.
            if (c.unit != u'"') {
                const Text quoted = u"\"" + text + u"\"";
                CSVParser quotedParser(quoted, u",", false);
                const auto quotedRows = quotedParser.arrayOfParsedRows();
                ASSERT_TRUE(quotedRows);
                EXPECT_EQ(std::get<Row>(quotedRows->front()), Row{text});
            }
        }
    }
}

} // namespace

namespace {

// Seeded random texts built from the units the grammar cares about: every mode must read the
// same records and report the same stop, whatever the reused record held before.
TEST(CSVParserTest, ModesAgreeOnRandomTexts)
{
    const char16_t alphabet[] = {u'a', u'b', u',', u'"', u'\n', u'\r', u':', u'A', u'\u2028', u'\u00e9', u' '};
    const std::u16string_view separators[] = {u",", u"::", u"a"};
    std::mt19937 random(7);
    for (int round = 0; round < 600; ++round) {
        Text text(random() % 120, u'a');
        for (char16_t& unit : text)
            unit = alphabet[random() % std::size(alphabet)];
        const Text separator(separators[round % 3]);
        const bool header = round % 2 != 0;
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << s(text));

        CSVParser parser(text, separator, header);
        const auto records = parser.arrayOfParsedRows();
        const CSVParseStop stop = parser.lastParseStop();
        auto describe = [&](const Record& record) {
            if (const Row* row = std::get_if<Row>(&record))
                return utf8Row(*row);
            std::vector<std::string> values;
            for (std::size_t i = 0; i < parser.fieldNames()->size(); ++i) {
                const Text* value = std::get<RecordDictionary>(record).objectForHeaderIndex(i);
                values.push_back(value ? s(*value) : "<none>");
            }
            return values;
        };
        Rows expected;
        for (const Record& record : records.value_or(std::vector<Record>{}))
            expected.push_back(describe(record));

        Rows kept;
        parser.parseRowsForReceiver([&](Record&& record) { kept.push_back(describe(record)); });
        EXPECT_EQ(kept, expected);
        EXPECT_EQ(parser.lastParseStop().complete, stop.complete);
        EXPECT_EQ(parser.lastParseStop().offset, stop.offset);
        EXPECT_EQ(parser.lastParseStop().records, expected.size());

        Rows viewed;
        parser.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
            viewed.push_back(test::fieldValues(fields, header ? parser.fieldNames() : std::nullopt));
        });
        EXPECT_EQ(viewed, expected);
        EXPECT_EQ(parser.lastParseStop().complete, stop.complete);
        EXPECT_EQ(parser.lastParseStop().offset, stop.offset);
        EXPECT_EQ(parser.lastParseStop().records, stop.records);
        EXPECT_EQ(parser.lastParseStop().recordsWithSurplusFields, stop.recordsWithSurplusFields);
        EXPECT_EQ(parser.lastParseStop().firstSurplusLine, stop.firstSurplusLine);

        if (!header) {
            const std::optional<Row> first = parser.firstParsedRow();
            ASSERT_EQ(first.has_value(), !expected.empty());
            if (first) {
                EXPECT_EQ(utf8Row(*first), expected.front());
            }
        }
    }
}

TEST(CSVParserTest, DescribesWhereAndWhyAParseStopped)
{
    struct Case {
        std::string_view name;
        std::u16string_view text;
        bool hasHeader;
        std::string_view description;
    };
    const Case cases[] = {
        {"Complete", u"a,b\nc,d\n", false, "the whole text was read"},
        {"QuoteInPlainField", u"a,b\nc,d\"e\n", false, "line 2: unexpected double quote"},
        {"AfterClosingQuote", u"\"a\"b,c", false, "line 1: unexpected character after a closing double quote"},
        {"QuotedLineBreakCounts", u"\"a\nb\",c\nd\"", false, "line 3: unexpected double quote"},
        {"Unterminated", u"x\n\"abc", false, "line 2: quoted field is never closed"},
        {"LeadingLineBreakIsLineOne", u"\n\na,b", false, "line 1: the text begins with a line break"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSVParser parser(c.text, u",", c.hasHeader);
        parser.arrayOfParsedRows();
        EXPECT_EQ(parser.lastParseStop().description(), c.description);
    }
}

} // namespace
