#include "core/csv/WindowedCSVParser.hpp"

#include "support/TestSupport.hpp"

#include <random>
#include <string>
#include <vector>

using namespace plistable;
using plistable::test::s;

namespace {

// What a parse gives, in a form both readers can be compared by.
struct Outcome {
    std::vector<std::vector<std::string>> records;
    std::vector<std::size_t> starts; // offset of each record
    std::optional<std::vector<Text>> names;
    CSVParseStop stop;
};

std::vector<std::string> describe(const Record& record, const std::optional<std::vector<Text>>& names)
{
    std::vector<std::string> values;
    if (const Row* row = std::get_if<Row>(&record)) {
        for (const Text& field : *row)
            values.push_back(s(field));
        return values;
    }
    for (std::size_t i = 0; i < names->size(); ++i) {
        const Text* value = std::get<RecordDictionary>(record).objectForHeaderIndex(i);
        values.push_back(value ? s(*value) : "<none>");
    }
    return values;
}

// Hands `text` over in pieces of `piece` units; `given` counts the units handed over so far.
TextSupplier inPieces(std::u16string_view text, std::size_t piece, std::size_t& given)
{
    return [text, piece, &given](Text& out) {
        if (given == text.size())
            return false;
        const std::size_t n = std::min(piece, text.size() - given);
        out.append(text.substr(given, n));
        given += n;
        return true;
    };
}

Outcome wholeText(std::u16string_view text, const Text& separator, bool header)
{
    Outcome outcome;
    CSVParser parser(text, separator, header);
    parser.parseRowsForReceiver([&](Record&& record) {
        outcome.records.push_back(describe(record, parser.fieldNames()));
        outcome.starts.push_back(parser.recordStartOffset());
    });
    outcome.names = parser.fieldNames();
    outcome.stop = parser.lastParseStop();
    return outcome;
}

// `text` handed over in pieces of `piece` units, read in windows of `window` units.
// With `views`, the records are taken as fields (parseFieldsForReceiver).
Outcome windowed(std::u16string_view text, const Text& separator, bool header, std::size_t window, std::size_t piece,
                 std::vector<std::size_t>* lines = nullptr, bool views = false)
{
    std::size_t given = 0;
    WindowedCSVParser parser(inPieces(text, piece, given), separator, header, window);
    Outcome outcome;
    auto took = [&](std::vector<std::string> values) {
        outcome.records.push_back(std::move(values));
        outcome.starts.push_back(parser.recordStartOffset());
        if (lines)
            lines->push_back(parser.recordStartLine());
    };
    if (views)
        parser.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
            took(test::fieldValues(fields, header ? parser.fieldNames() : std::nullopt));
        });
    else
        parser.parseRowsForReceiver([&](Record&& record) { took(describe(record, parser.fieldNames())); });
    outcome.names = parser.fieldNames();
    outcome.stop = parser.lastParseStop();
    return outcome;
}

void expectSame(const Outcome& got, const Outcome& expected)
{
    EXPECT_EQ(got.records, expected.records);
    EXPECT_EQ(got.starts, expected.starts);
    EXPECT_EQ(got.names, expected.names);
    EXPECT_EQ(got.stop.complete, expected.stop.complete);
    EXPECT_EQ(got.stop.reason, expected.stop.reason);
    EXPECT_EQ(got.stop.line, expected.stop.line);
    EXPECT_EQ(got.stop.offset, expected.stop.offset);
    EXPECT_EQ(got.stop.records, expected.stop.records);
    EXPECT_EQ(got.stop.recordsWithSurplusFields, expected.stop.recordsWithSurplusFields);
    EXPECT_EQ(got.stop.firstSurplusLine, expected.stop.firstSurplusLine);
}

// Texts whose windows end, or cannot end, at awkward places.
const std::u16string_view awkwardTexts[] = {
    u"",
    u"a,b\nc,d",
    u"a,b\r\n\r\nc,d\r\n",
    u"\n\na,b\nc",
    u"id,name\n1,\"x\ny\"\n2,\"a\"\"\n\"\"b\"\n3",
    u"a\n\"never closed\nb\nc\n",
    u"a,b\nc\"d\ne,f\n\"g\"\"\nh",
    u"\"q\"x\ny\nz",
    u"a\u2028b\u2029\u0085c\vd\fe",
    u"k,k,k\n1,2,3,4\n5\n6,7,8,9,10",
    u"\"\"\"\"\n\"\"\n,\n",
    u"h\n\n\n\n\"\n\n\"\n\n",
};

TEST(WindowedCSVParserTest, AgreesWithTheWholeTextReaderAtEveryWindowSize)
{
    for (const std::u16string_view text : awkwardTexts) {
        for (const bool header : {false, true}) {
            const Outcome expected = wholeText(text, u",", header);
            for (std::size_t window : {1, 2, 3, 5, 8, 64}) {
                for (std::size_t piece : {1, 3, 1000}) {
                    SCOPED_TRACE(testing::Message() << s(text) << " header " << header << " window " << window
                                                    << " piece " << piece);
                    expectSame(windowed(text, u",", header, window, piece), expected);
                    expectSame(windowed(text, u",", header, window, piece, nullptr, true), expected);
                }
            }
        }
    }
}

TEST(WindowedCSVParserTest, AgreesWithTheWholeTextReaderOnRandomTexts)
{
    // With every kind of line break, and units whose low byte looks like a quote or a line break.
    const char16_t alphabet[] = {u'a',      u'b',      u',',      u'"',      u'\n',     u'\r',     u':',
                                 u'A',      u'\u2028', u'\u2029', u'\u0085', u'\v',     u'\u00e9', u' ',
                                 u'\u010A', u'\u0122', u'\u800D'};
    const std::u16string_view separators[] = {u",", u"::", u"a"};
    std::mt19937 random(11);
    for (int round = 0; round < 1500; ++round) {
        Text text(random() % 160, u'a');
        for (char16_t& unit : text)
            unit = alphabet[random() % std::size(alphabet)];
        const Text separator(separators[round % 3]);
        const bool header = round % 2 != 0;
        const std::size_t window = 1 + random() % 40;
        const std::size_t piece = 1 + random() % 17;
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << s(text));
        const Outcome expected = wholeText(text, separator, header);
        expectSame(windowed(text, separator, header, window, piece), expected);
        expectSame(windowed(text, separator, header, window, piece, nullptr, round % 4 < 2), expected);
    }
}

TEST(WindowedCSVParserTest, CountsLinesAcrossWindows)
{
    // Blank lines, CR LF pairs and a quoted line break: record starts on lines 1, 3, 4 and 7.
    const std::u16string_view text = u"a\r\n\r\nb\n\"c\nd\"\n\ne";
    for (std::size_t window : {1, 4, 100}) {
        std::vector<std::size_t> lines;
        windowed(text, u",", false, window, 2, &lines);
        EXPECT_EQ(lines, (std::vector<std::size_t>{1, 3, 4, 7})) << "window " << window;
    }
}

TEST(WindowedCSVParserTest, CountsQuotesAndLinesOverWindowsOfAMillionUnits)
{
    // Windows of the default size hold hundreds of thousands of quotes and line breaks: their counts
    // (which decide where a window may end, and the lines reported) must hold at that size.
    Text text;
    for (int i = 0; i < 400000; ++i)
        text += i % 3 == 0 ? u"\"q\"\r\n" : u"\"a\nb\",c\n";
    text += u"x\"y";
    const Outcome expected = wholeText(text, u",", false);
    ASSERT_FALSE(expected.stop.complete);
    EXPECT_EQ(expected.stop.line, 400000u + 266666u + 1u);
    std::vector<std::size_t> lines;
    expectSame(windowed(text, u",", false, WindowedCSVParser::defaultWindowUnits, 4096, &lines), expected);
    ASSERT_EQ(lines.size(), 400001u);
    EXPECT_EQ(lines.back(), expected.stop.line);
}

TEST(WindowedCSVParserTest, StopsAfterTheRecordTheReceiverStopsAt)
{
    Text text;
    for (int i = 0; i < 50; ++i)
        text += u"x,y\n";
    std::size_t given = 0;
    WindowedCSVParser parser(inPieces(text, 8, given), u",", false, 16);
    std::size_t seen = 0;
    parser.parseRowsForReceiver([&](Record&&) {
        if (++seen == 7)
            parser.stopParsing();
    });
    EXPECT_EQ(seen, 7u);
    EXPECT_TRUE(parser.lastParseStop().stopped);
    EXPECT_EQ(parser.lastParseStop().records, 7u);
    EXPECT_LT(given, text.size()); // the rest was never pulled
}

TEST(WindowedCSVParserTest, FirstRowIsReadAgainByTheParse)
{
    const std::u16string_view text = u"name,age\nann,3\n";
    std::size_t given = 0;
    WindowedCSVParser parser(inPieces(text, 4, given), u",", true, 4);
    const std::optional<Row> first = parser.firstParsedRow();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (Row{u"name", u"age"}));
    std::vector<std::vector<std::string>> records;
    parser.parseRowsForReceiver([&](Record&& record) { records.push_back(describe(record, parser.fieldNames())); });
    EXPECT_EQ(records, (std::vector<std::vector<std::string>>{{"ann", "3"}}));
}

} // namespace
