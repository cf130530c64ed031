#include "core/convert/detail/OpenStepRowsScanner.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/convert/detail/StringRowsConversion.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "support/TestSupport.hpp"

using namespace plistable;
using namespace plistable::detail;
using plistable::test::TempDir;

// An old-style list goes the straight way exactly when the scanner reads it whole, and then gives
// what the general reader gives (the lines, the report, the key list), whole or a byte at a time.
TEST(OpenStepRowsScannerTest, WritesTheGeneralLinesOrGivesUp)
{
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"dictionaries", "(\n\t{ \"id\" = \"1\"; \"name\" = \"market cherry\"; },\n\t{ id = 2; name = \"a, \\\"b\\\"\"; },\n)", true},
        {"arrays of any length", "( (a, \"b;c\", \"\"), (), (\"x\",), ('y' , z/w:v.$_+-) )", true},
        {"escapes", R"(( ( "\n\t\"\\\a\b\f\r\v", "\U00e9\U20AC\Ue9x", "\101\351\0\1777", "\q\'\é", 'a "b"' ) ))", true},
        {"comments", "/* head */ ( // line\n { a = b; /* c \xC3\xA9 */ } /**/, // end", false},
        {"comments and a close", "/* head */ ( // line\n { a = b; /* c \xC3\xA9 */ } /**/, // x\n) // end", true},
        {"carriage returns", "(\r\t{ a = \"x\r\ny\"; },\r)\r", true},
        {"a byte-order mark", "\xEF\xBB\xBF( (a) )", true},
        {"other characters", "( (\"\xE6\x9D\xB1\xE4\xBA\xAC\", \"\xF0\x9F\x98\x80\", '\xC3\xA9') )", true},
        {"an empty list", "()", true},
        {"an empty dictionary", "( {} )", false},
        {"keys in another order", "( { a = 1; b = 2; }, { b = 2; a = 1; } )", false},
        {"a key left out", "( { a = 1; b = 2; }, { a = 1; } )", false},
        {"a repeated key", "( { a = 1; a = 2; } )", false},
        {"a key alone", "( { a; } )", false},
        {"a nested value", "( { a = (b); } )", false},
        {"data", "( (<0a>) )", false},
        {"a typed value", "( (<*I1>) )", false},
        {"dictionaries and arrays", "( { a = 1; }, (b) )", false},
        {"single values", "( a, b )", false},
        {"no comma", "( (a) (b) )", false},
        {"two commas", "( (a),, (b) )", false},
        {"a surrogate pair", R"(( ("\UD83D\UDE00") ))", false},
        {"an octal outside the set", R"(( ("\377") ))", false},
        {"text after the list", "( (a) ) x", false},
        {"an unterminated comment", "( (a) ) /*", false},
        {"cut off", "( { a = \"b", false},
        {"UTF-16", "(\0(\0a\0)\0)\0"s, false},
        {"not UTF-8", "( (\"\xC3(\") )", false},
        {"not UTF-8 in a comment", "/* \xFF */ ( (a) )", false},
        {"a vertical tab", "(\v(a))", false},
        {"a root dictionary", "{ a = (b); }", false},
        {"a strings file", "\"a\" = \"b\";", false},
        // Later elements laid out as the first are read by comparing the bytes around the values.
        {"elements laid out alike, then not", "( { a = \"1\"; b = x; }, { a = \"2\"; b = y; }, { a = 3; b = \"z,w\"; }, "
                                              "{a = \"4\"; b = v; }, { a = \"5\"; b = u; /* c */ }, { a = \"\\\"\"; b = 't'; } )", true},
        {"arrays laid out alike but longer", "( (a, b), (c, d, e), (f, g), (h) )", true},
        {"a later key that differs by a byte", "( { a = 1; b = 2; }, { a = 1; b = 2; }, { a = 1; c = 2; } )", false},
        {"a later value that is no string", "( (a, b), (c, (d)) )", false},
        {"values with bytes the writer quotes for", "( (\"a;b\", 'x\"y', \"a b\", \"a\tb\", \"0123456789abcdef;\", a.b, "
                                                     "\"0123456789abcdef.x\", \"l\nf\", 'c\r', \"\\\"\", \"\x0b\", '\xC2\x85') )", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool header : {true, false}) {
            TempDir dir;
            UserDefaults defaults(dir.file("settings.json"));
            FileConverter general(defaults), straight(defaults);
            const std::string path = dir.write("in.plist", c.text);
            // With the bytes in memory the general reader converts the list.
            const ConversionReport expected = convertPlistToCsv(path, dir.file("general.csv"), header, general, &c.text);
            const ConversionReport report = convertPlistToCsv(path, dir.file("straight.csv"), header, straight, nullptr);
            EXPECT_EQ(report.status, expected.status);
            EXPECT_EQ(report.records, expected.records);
            EXPECT_EQ(report.problems, expected.problems);
            EXPECT_EQ(report.notes, expected.notes);
            EXPECT_EQ(straight.keys(), general.keys());
            if (!expected.outputPath.empty()) {
                EXPECT_EQ(dir.read("straight.csv"), dir.read("general.csv"));
            }
            ConversionMonitor monitor;
            EXPECT_EQ(convertStraightRows(path, dir.file("other.csv"), header, straight, {}, monitor,
                                          StraightRows::OpenStep).has_value(), c.taken);

            for (const std::size_t step : {c.text.size() + 1, std::size_t{1}, std::size_t{5}}) {
                FileConverter pass(defaults);
                auto stream = std::make_shared<MemoryOutputStream>();
                CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
                OpenStepRowsScanner scanner(writer, header, pass);
                for (std::size_t at = 0; scanner.feed(std::string_view(c.text).substr(std::min(at, c.text.size()), step),
                                                      at + step >= c.text.size()) == RowsScanner::Status::Reading;)
                    at += step;
                writer.closeStream();
                ASSERT_EQ(scanner.status() == RowsScanner::Status::Finished, c.taken) << "pieces of " << step;
                if (c.taken) {
                    EXPECT_EQ(stream->bytes(), dir.read("general.csv"));
                    EXPECT_EQ(scanner.lines(), expected.records);
                    EXPECT_EQ(pass.keys(), general.keys());
                }
            }

            // Lines written whole, whose plain values the scan marks, with delimiters values hold
            // quoted, unquoted, or not at all.
            for (const char16_t delimiter : {u';', u'.', u' ', u'\t', u'\'', u'\u00E9'}) {
                SCOPED_TRACE(testing::Message() << "delimiter " << int(delimiter));
                CsvWriteDialect dialect;
                dialect.delimiter = delimiter;
                FileConverter again(defaults), pass(defaults);
                convertPlistToCsv(path, dir.file("delimited.csv"), header, again, &c.text, dialect);
                auto stream = std::make_shared<MemoryOutputStream>();
                CHCSVWriter writer(stream, NSUTF8StringEncoding, delimiter);
                writer.setBuffersLines(true);
                OpenStepRowsScanner scanner(writer, header, pass);
                ASSERT_EQ(scanner.feed(c.text, true) == RowsScanner::Status::Finished, c.taken);
                writer.closeStream();
                if (c.taken) {
                    EXPECT_EQ(stream->bytes(), dir.read("delimited.csv"));
                }
            }
        }
    }
}
