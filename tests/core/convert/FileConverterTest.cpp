#include "core/convert/FileConverter.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/detail/ConversionText.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "support/ReadOnlyFolder.hpp"
#include "support/TestSupport.hpp"

#include <filesystem>
#include <sys/stat.h>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::s;
using plistable::test::u;
using plistable::test::xmlPlistDocument;
using plistable::test::xmlPlistProlog;

namespace {

class FileConverterTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    // Converts `csv` (saved as name) with the given header setting into dir/out and returns the document.
    std::string convert(std::string_view csv, bool header, ConversionReport* reportOut = nullptr,
                        const std::string& name = "data.csv")
    {
        defaults.setBool("header", header);
        const std::string source = dir.write(name, csv);
        ::mkdir(dir.file("out").c_str(), 0700);
        FileConverter converter(defaults);
        const auto reports = converter.convertDroppedFiles({source}, dir.file("out"));
        if (reportOut)
            *reportOut = reports.at(0);
        return dir.read("out/" + name.substr(0, name.rfind('.')) + ".plist");
    }
};

TEST_F(FileConverterTest, WritesTheRowsDocumentByteForByte)
{
    ConversionReport report;
    const std::string output = convert("a,b\n1,2\n", false, &report);
    EXPECT_EQ(output, xmlPlistDocument({"<array>", "\t<array>", "\t\t<string>a</string>", "\t\t<string>b</string>",
                                        "\t</array>", "\t<array>", "\t\t<string>1</string>", "\t\t<string>2</string>",
                                        "\t</array>", "</array>", "</plist>"}));
    EXPECT_EQ(output.size(), 311u);
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(report.records, 2u);
    EXPECT_EQ(report.encoding, NSUTF8StringEncoding);
}

TEST_F(FileConverterTest, WritesTheDictionaryDocumentByteForByte)
{
    const std::string output = convert("a,b\n1,2\n", true);
    EXPECT_EQ(output, xmlPlistDocument({"<array>", "\t<dict>", "\t\t<key>a</key>", "\t\t<string>1</string>",
                                        "\t\t<key>b</key>", "\t\t<string>2</string>", "\t</dict>", "</array>",
                                        "</plist>"}));
    EXPECT_EQ(output.size(), 278u);
}

TEST_F(FileConverterTest, LargeDocumentsComeOutWholeAcrossBufferBoundaries)
{
    // Megabytes of output, with fields of every length, so pieces straddle every internal buffer edge.
    for (bool header : {false, true}) {
        SCOPED_TRACE(header);
        std::string csv = "k&1,k<2\n";
        std::string body;
        for (int i = 0; i < 30000; ++i) {
            const std::string a(static_cast<std::size_t>(i % 97), 'x');
            const std::string b = "\xE6\x97\xA5" + std::to_string(i) + "&";
            csv += a + "," + b + "\n";
            const std::string escapedB = "\xE6\x97\xA5" + std::to_string(i) + "&amp;";
            if (header)
                body += "\n\t<dict>\n\t\t<key>k&amp;1</key>\n\t\t<string>" + a
                        + "</string>\n\t\t<key>k&lt;2</key>\n\t\t<string>" + escapedB + "</string>\n\t</dict>";
            else
                body += "\n\t<array>\n\t\t<string>" + a + "</string>\n\t\t<string>" + escapedB + "</string>\n\t</array>";
        }
        if (!header)
            body = "\n\t<array>\n\t\t<string>k&amp;1</string>\n\t\t<string>k&lt;2</string>\n\t</array>" + body;
        EXPECT_EQ(convert(csv, header), xmlPlistProlog + "\n<array>" + body + "\n</array>\n</plist>");
    }
}

TEST_F(FileConverterTest, TextWithoutRecordsGivesTheEmptyDocument)
{
    const std::pair<const char*, bool> cases[] = {{"", false}, {"", true}, {"id,name", true}, {"id,name\n\n", true}};
    for (const auto& [csv, header] : cases) {
        SCOPED_TRACE(csv);
        const std::string output = convert(csv, header);
        EXPECT_EQ(output, xmlPlistDocument({"<array>", "</array>", "</plist>"}));
        EXPECT_EQ(output.size(), 189u);
    }
}

TEST_F(FileConverterTest, ShapesRecordsAsTheHeaderSettingSays)
{
    struct Case {
        const char* name;
        const char* csv;
        bool header;
        std::string body;
    };
    const Case cases[] = {
        {"rows keep their own lengths", "a\nb,c\n", false,
         "\n\t<array>\n\t\t<string>a</string>\n\t</array>\n\t<array>\n\t\t<string>b</string>\n\t\t<string>c</string>\n\t</array>"},
        {"escaping", "a<b&c,x>y\n", false,
         "\n\t<array>\n\t\t<string>a&lt;b&amp;c</string>\n\t\t<string>x&gt;y</string>\n\t</array>"},
        {"quoted comma, quote and line break", "\"a,\"\"b\"\"\r\nc\"\n", false,
         "\n\t<array>\n\t\t<string>a,\"b\"&#13;\nc</string>\n\t</array>"},
        {"empty field", "a,\n", false, "\n\t<array>\n\t\t<string>a</string>\n\t\t<string></string>\n\t</array>"},
        {"repeated header name takes the later column", "a,a\n1,2\n", true,
         "\n\t<dict>\n\t\t<key>a</key>\n\t\t<string>2</string>\n\t\t<key>a</key>\n\t\t<string>2</string>\n\t</dict>"},
        {"short record gives empty strings", "id,name\n1\n", true,
         "\n\t<dict>\n\t\t<key>id</key>\n\t\t<string>1</string>\n\t\t<key>name</key>\n\t\t<string></string>\n\t</dict>"},
        {"leading line break gives empty dictionaries", "\nx\ny", true, "\n\t<dict>\n\t</dict>\n\t<dict>\n\t</dict>"},
        {"byte-order mark is not part of the first name", "\xEF\xBB\xBFid\n7\n", true,
         "\n\t<dict>\n\t\t<key>id</key>\n\t\t<string>7</string>\n\t</dict>"},
        {"Japanese text", "\xE6\x97\xA5\xE6\x9C\xAC\n", false,
         "\n\t<array>\n\t\t<string>\xE6\x97\xA5\xE6\x9C\xAC</string>\n\t</array>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(convert(c.csv, c.header), xmlPlistProlog + "\n<array>" + c.body + "\n</array>\n</plist>");
    }
}

TEST_F(FileConverterTest, ReadsShiftJisFilesInTheirEncoding)
{
    ConversionReport report;
    const std::string output = convert("\x93\xFA\x96\x7B,x\n", false, &report);
    EXPECT_EQ(report.encoding, NSShiftJISStringEncoding);
    EXPECT_NE(output.find("<string>\xE6\x97\xA5\xE6\x9C\xAC</string>"), std::string::npos);
}

TEST_F(FileConverterTest, SaysWhenMacOsRomanWasAssumed)
{
    ConversionReport report;
    const std::string output = convert("caf\xE9", false, &report);
    EXPECT_TRUE(report.encodingGuessed);
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(report.notes, std::vector<std::string>{"read as Mac OS Roman; use --encoding to choose another"});
    EXPECT_NE(output.find("<string>caf\xC3\x88</string>"), std::string::npos); // 0xE9 is U+00C8 in Mac OS Roman
}

TEST_F(FileConverterTest, WritesWhatWasReadBeforeMalformedTextAndReportsWhere)
{
    ConversionReport report;
    const std::string output = convert("a,b\nx,y\"z\nc,d\n", false, &report);
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    EXPECT_EQ(report.records, 2u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0],
              "line 2: unexpected double quote; 1 record converted and the second cut short at the fault; the rest "
              "was not read");
    EXPECT_NE(output.find("<string>y</string>"), std::string::npos);
    EXPECT_EQ(output.find("<string>c</string>"), std::string::npos);
}

TEST_F(FileConverterTest, NamesEachKindOfEarlyStop)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a\n\"q\" x\n", "line 2: unexpected character after a closing double quote; 1 record converted and the "
                       "second cut short at the fault; the rest was not read"},
        {"a\nb,\"open\nc\n", "line 2: quoted field is never closed; 1 record converted and the second cut short at "
                           "the fault; the rest was not read"},
        {"\na,b\n", "line 1: the text begins with a line break; 0 records converted, the rest was not read"},
    };
    for (const auto& [csv, problem] : cases) {
        SCOPED_TRACE(csv);
        ConversionReport report;
        convert(csv, false, &report);
        EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(report.problems, std::vector<std::string>{problem});
    }
}

// The record being read at the fault is written up to it; the report counts it apart from the whole
// ones, in the plain document and in the shaped one (--types) alike.
TEST_F(FileConverterTest, MalformedTextReportsTheRecordCutShort)
{
    struct Case {
        const char* name;
        std::string csv;
        bool header;
        const char* problem;
        std::size_t records; // written, the cut one included
    };
    const std::string elevenLines = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n";
    const Case cases[] = {
        {"the third of four", "a,b\n1,2\n3,\"x\"y\n5,6\n", false,
         "line 3: unexpected character after a closing double quote; 2 records converted and the third cut short at "
         "the fault; the rest was not read", 3},
        {"an open quote", "a,b\n1,2\n3,\"x\n", false,
         "line 3: quoted field is never closed; 2 records converted and the third cut short at the fault; the rest "
         "was not read", 3},
        {"the first record", "\"x\"y\n1\n", false,
         "line 1: unexpected character after a closing double quote; the first record cut short at the fault; the "
         "rest was not read", 1},
        {"the first after the header", "a,b\n1,x\"y\n", true,
         "line 2: unexpected double quote; the first record cut short at the fault; the rest was not read", 1},
        {"in the header: no record", "a,\"b\"c\n1,2\n", true,
         "line 1: unexpected character after a closing double quote; 0 records converted, the rest was not read", 0},
        {"the 12th", elevenLines + "x\"\n", false,
         "line 12: unexpected double quote; 11 records converted and the 12th cut short at the fault; the rest was "
         "not read", 12},
    };
    for (const Case& c : cases) {
        for (const bool shaped : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (shaped ? ", shaped" : ""));
            ConversionOptions options;
            options.shape.header = c.header;
            options.shape.types = shaped;
            options.output.path = dir.file("out.plist");
            FileConverter converter(defaults, options);
            const ConversionReport report = converter.convertDroppedFiles({dir.write("d.csv", c.csv)}, dir.path())[0];
            EXPECT_EQ(report.problems, std::vector<std::string>{c.problem});
            EXPECT_EQ(report.records, c.records);
            EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        }
    }
    // The documents are as they have always been: the cut record up to the fault.
    ConversionReport report;
    const std::string output = convert("3,\"x\"y\n5,6\n", false, &report);
    EXPECT_NE(output.find("<string>3</string>\n\t\t<string>x</string>\n\t</array>"), std::string::npos) << output;
    EXPECT_EQ(output.find("<string>5</string>"), std::string::npos);
}

TEST(ConversionTextTest, OrdinalWords)
{
    const std::pair<std::size_t, const char*> cases[] = {
        {1, "first"}, {2, "second"}, {3, "third"}, {10, "tenth"}, {11, "11th"}, {12, "12th"}, {13, "13th"},
        {21, "21st"}, {22, "22nd"}, {23, "23rd"}, {101, "101st"}, {111, "111th"}, {1002, "1002nd"},
    };
    for (const auto& [n, word] : cases)
        EXPECT_EQ(detail::ordinal(n), word) << n;
}

TEST_F(FileConverterTest, ReportsSurplusFieldsAndLeavesThemOut)
{
    ConversionReport report;
    const std::string output = convert("a\n1,2\n3\n", true, &report);
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0], "line 2: 1 record has more fields than the header has names; the extra fields were left out");
    EXPECT_EQ(output.find("<string>2</string>"), std::string::npos);
}

TEST_F(FileConverterTest, RepeatedHeaderNamesMakeThePartialResult)
{
    struct Case {
        const char* name;
        const char* csv;
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        {"one name twice", "a,a\n1,2\n", {"header repeats \"a\" (columns 1 and 2); the later value is kept"}},
        {"three times and another twice", "b,a,b,a,b\n1,2,3,4,5\n",
         {"header repeats \"b\" (columns 1, 3 and 5); the later value is kept",
          "header repeats \"a\" (columns 2 and 4); the later value is kept"}},
        {"the empty name twice", ",x,\n1,2,3\n", {"header repeats \"\" (columns 1 and 3); the later value is kept"}},
        {"no repeats", "a,b\n1,2\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionReport report;
        convert(c.csv, true, &report);
        EXPECT_EQ(report.problems, c.problems);
        EXPECT_EQ(report.status,
                  c.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial);
        // Header off: the names are a row like any other.
        convert(c.csv, false, &report);
        EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    }
}

TEST_F(FileConverterTest, ReplacesCharactersXmlDoesNotAllow)
{
    ConversionReport report;
    const std::string output = convert("a\x01" "b,\x1B\n", false, &report);
    EXPECT_NE(output.find("<string>a\xEF\xBF\xBD" "b</string>"), std::string::npos);
    EXPECT_EQ(report.status, ConversionReport::Status::Partial);
    EXPECT_EQ(report.problems, std::vector<std::string>{"2 characters that XML does not allow written as U+FFFD"});
}

TEST_F(FileConverterTest, EscapesWhateverNeedsItAtAnyPlaceOfALongField)
{
    // Plain ASCII is copied several characters at a time: a character that is written otherwise
    // must be found wherever it falls in such a run, and the run must end and go on right.
    const std::pair<std::string, std::string> characters[] = {
        {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\r", "&#13;"}, {"\x01", "\xEF\xBF\xBD"},
        {"\x7F", "\x7F"}, {"\t", "\t"}, {"\n", "\n"}, {" ", " "}, {"~", "~"}, {"\xC3\xA9", "\xC3\xA9"},
        {"\xE6\x97\xA5", "\xE6\x97\xA5"}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}};
    const std::string letters = "abcdefghijklmnopqrstu";
    std::string csv;
    std::string body;
    std::size_t replaced = 0;
    for (const auto& [character, written] : characters) {
        for (std::size_t at = 0; at <= 18; ++at) {
            const std::string before = letters.substr(0, at), after = letters.substr(at, 18 - at);
            csv += "\"" + before + character + after + "\"\n";
            body += "\n\t<array>\n\t\t<string>" + before + written + after + "</string>\n\t</array>";
            replaced += character == "\x01";
        }
    }
    ConversionReport report;
    EXPECT_EQ(convert(csv, false, &report), xmlPlistProlog + "\n<array>" + body + "\n</array>\n</plist>");
    EXPECT_EQ(report.problems,
              std::vector<std::string>{std::to_string(replaced) + " characters that XML does not allow written as U+FFFD"});
}

TEST_F(FileConverterTest, AFileThatCannotBeReadOrDecodedWritesNothing)
{
    ::mkdir(dir.file("out").c_str(), 0700);
    dir.write("out/gone.plist", "keep me");
    FileConverter converter(defaults);
    auto reports = converter.convertDroppedFiles({dir.file("gone.csv")}, dir.file("out"));
    EXPECT_EQ(reports[0].status, ConversionReport::Status::Failed);
    EXPECT_EQ(reports[0].problems[0].rfind("cannot read: ", 0), 0u);
    EXPECT_EQ(dir.read("out/gone.plist"), "keep me");

    FileConverter namedEncoding(defaults, ConversionOptions{.csvRead = {.encodingName = "utf-8"}});
    dir.write("bad.csv", "caf\xE9");
    reports = namedEncoding.convertDroppedFiles({dir.file("bad.csv")}, dir.file("out"));
    EXPECT_EQ(reports[0].status, ConversionReport::Status::Failed);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"bad.csv", "out"}));
}

// Both conversions, as the rows of the output-fault tables below.
struct Conversion {
    const char* name;
    const char* source;
    std::string_view content;
    const char* output;
    std::string_view written; // the output's exact bytes, or empty: not checked
};

const Conversion conversions[] = {
    {"CsvToPropertyList", "data.csv", "a,b\n1,2\n", "data.plist", ""},
    {"PropertyListToCsv", "list.plist",
     "<?xml version=\"1.0\"?>\n<plist><array><array><string>a</string></array></array></plist>", "list.csv", "a\n"},
};

// Where the conversions write: an output is only ever replaced by a complete new file, through a
// symbolic link never, into a missing or read-only folder not at all (with a report).
TEST_F(FileConverterTest, ASymbolicLinkAtTheOutputIsReplacedNotWrittenThrough)
{
    ::mkdir(dir.file("out").c_str(), 0700);
    for (const Conversion& c : conversions) {
        SCOPED_TRACE(c.name);
        const std::string precious = dir.write(std::string("precious-") + c.output, "precious");
        std::filesystem::create_symlink(precious, dir.file("out/") + c.output);
        const std::string source = dir.write(c.source, std::string(c.content));
        const auto reports = FileConverter(defaults).convertDroppedFiles({source}, dir.file("out"));
        EXPECT_EQ(reports.at(0).status, ConversionReport::Status::Converted);
        EXPECT_EQ(dir.read(std::string("precious-") + c.output), "precious");
        EXPECT_FALSE(std::filesystem::is_symlink(dir.file("out/") + c.output));
        if (!c.written.empty()) {
            EXPECT_EQ(dir.read(std::string("out/") + c.output), c.written);
        }
    }
}

TEST_F(FileConverterTest, AMissingOutputFolderFailsTheConversionWithTheReason)
{
    const std::string missing = dir.file("missing");
    for (const Conversion& c : conversions) {
        SCOPED_TRACE(c.name);
        const std::string source = dir.write(c.source, std::string(c.content));
        const auto reports = FileConverter(defaults).convertDroppedFiles({source}, missing);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].status, ConversionReport::Status::Failed);
        ASSERT_FALSE(reports[0].problems.empty());
        EXPECT_EQ(reports[0].problems[0], "cannot write " + missing + "/" + c.output + ": No such file or directory");
        EXPECT_FALSE(std::filesystem::exists(missing));
    }
}

TEST_F(FileConverterTest, AReadOnlyOutputFolderFailsAndKeepsTheOldOutput)
{
    ::mkdir(dir.file("out").c_str(), 0755);
    for (const Conversion& c : conversions) {
        SCOPED_TRACE(c.name);
        dir.write(std::string("out/") + c.output, "old");
        const std::string source = dir.write(c.source, std::string(c.content));
        std::vector<ConversionReport> reports;
        {
            test::ReadOnlyFolder readOnly(dir.file("out"));
            if (!readOnly.effective())
                GTEST_SKIP() << "this process can still create files in a read-only folder";
            reports = FileConverter(defaults).convertDroppedFiles({source}, dir.file("out"));
        }
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].status, ConversionReport::Status::Failed);
        ASSERT_FALSE(reports[0].problems.empty());
        EXPECT_EQ(reports[0].problems[0].rfind("cannot write " + dir.file("out/"), 0), 0u) << reports[0].problems[0];
        EXPECT_EQ(dir.read(std::string("out/") + c.output), "old");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data.csv", "list.plist", "out"}));
}

TEST_F(FileConverterTest, DispatchesByExactExtensionInOrder)
{
    dir.write("a.csv", "1\n");
    dir.write("A.CSV", "1\n");
    dir.write("x.tar.csv", "1\n");
    dir.write("c.txt", "1\n");
    dir.write("noext", "1\n");
    dir.write("a.plist", "old");
    FileConverter converter(defaults);
    const auto reports = converter.convertDroppedFiles(
        {dir.file("a.csv"), dir.file("A.CSV"), dir.file("x.tar.csv"), dir.file("c.txt"), dir.file("noext")}, dir.path());
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0].outputPath, dir.path() + "/a.plist");
    EXPECT_EQ(reports[1].status, ConversionReport::Status::Skipped);
    EXPECT_EQ(reports[2].outputPath, dir.path() + "/x.tar.plist");
    EXPECT_EQ(reports[3].status, ConversionReport::Status::Skipped);
    EXPECT_EQ(reports[4].status, ConversionReport::Status::Skipped);
    EXPECT_EQ(converter.saveDirPath(), dir.path() + "/");
    EXPECT_NE(dir.read("a.plist"), "old"); // replaced
}

TEST_F(FileConverterTest, ParsesWithTheCurrentHeaderSetting)
{
    FileConverter converter(defaults);
    EXPECT_EQ(converter.saveDirPath(), std::nullopt);
    auto rows = converter.csvparse(u"a,b\n1,2");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 2u);
    defaults.setBool("header", true);
    rows = converter.csvparse(u"a,b\n1,2");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(*std::get<RecordDictionary>((*rows)[0]).objectForKey(u"b"), u"2");
    EXPECT_EQ(converter.csvparseToHeader(u"a,b\n1,2"), (Row{u"a", u"b"}));
    EXPECT_EQ(converter.csvparseToHeader(u"\nx"), std::nullopt);
    EXPECT_EQ(converter.csvparseToHeader(u""), std::nullopt);
}

struct StringCollector : PlistReaderDelegate {
    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        for (const PlistValue& field : element.array())
            fields.push_back(field.string());
    }
    std::vector<Text> fields;
};

// A CSV field holding carriage returns (alone, before a line feed, after one) keeps them through
// the property list: XML readers turn raw CRs into LFs, so they must be written as references.
// Found by the fuzzers.
TEST(FileConverterRoundTripTest, CarriageReturnInFieldSurvivesThePropertyList)
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    ::mkdir(dir.file("out").c_str(), 0700);
    const std::string source = dir.write("cr.csv", "\"a\rb\",\"c\r\nd\",\"\n\r\",\r\n");
    FileConverter converter(defaults, ConversionOptions{.csvRead = {.encodingName = "UTF-8"}, .shape = {.header = false}});
    const auto reports = converter.convertDroppedFiles({source}, dir.file("out"));
    ASSERT_EQ(reports.at(0).status, ConversionReport::Status::Converted);

    const std::string document = dir.read("out/cr.plist");
    EXPECT_EQ(document.find('\r'), std::string::npos);
    StringCollector collector;
    ASSERT_TRUE(PropertyListReader::readBytes(document, collector).ok());
    const std::vector<Text> expected = {u"a\rb", u"c\r\nd", u"\n\r", u""};
    ASSERT_EQ(collector.fields.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(s(collector.fields[i]), s(expected[i])) << "field " << i;

    // And back: the CSV written from that list reads as the original fields.
    const auto back = converter.convertDroppedFiles({dir.file("out/cr.plist")}, dir.file("out"));
    ASSERT_EQ(back.at(0).status, ConversionReport::Status::Converted);
    const Text csv = u(dir.read("out/cr.csv"));
    CSVParser parser(csv, u",", false);
    const auto rows = parser.arrayOfParsedRows();
    ASSERT_TRUE(rows && rows->size() == 1);
    EXPECT_EQ(std::get<Row>(rows->front()), Row(expected.begin(), expected.end()));
}

} // namespace
