// The library's round trip in a few calls: rows -> property list (file or memory), a PlistValue
// writer, a converter made from options alone, writeCsvFile with a header line. Option structs are
// filled with designated initializers here, so a field without a default fails the -Wextra build.
#include "core/convert/CsvFile.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/PlistFile.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::u;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The root elements or entries a property list holds, as one value.
struct RootCollector : PlistReaderDelegate {
    PlistValue::Array elements;
    PlistValue::Dictionary entries;
    void readerDidReadRootArrayElement(PlistValue&& element) override { elements.push_back(std::move(element)); }
    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
    {
        entries.emplace_back(std::move(key), std::move(value));
    }
};

const char* formatName(OutputFormat format)
{
    return format == OutputFormat::Xml ? "xml" : format == OutputFormat::Binary ? "binary" : "json";
}

// What the file conversion writes for `csv`, made by a converter that reads no settings store.
std::string converted(const TempDir& dir, const std::string& csv, const ConversionOptions& given)
{
    ConversionOptions options = given;
    options.output.path = dir.file("converted");
    FileConverter(options).convertBytes(csv, "t.csv", InputKind::Csv);
    return dir.read("converted");
}

TEST(PlistFileTest, RowsGiveTheBytesTheConversionWritesInEveryForm)
{
    struct Case {
        std::string_view name;
        std::string csv;
        bool header;
        bool types;
    };
    const std::vector<Case> cases = {
        {"rows of strings", "a,b\n1,2\n", false, false},
        {"records", "a,b\n1,2\n3\n", true, false},
        {"typed records", "n,x\n1,2.5\n-3,true\n", true, true},
        {"a repeated name holds its last column", "a,a\n1,2\n", true, false},
        {"escaped text and Japanese", "<k>,&\n\"日本\",\"x\ny\"\n", true, false},
        {"no record", "a,b\n", true, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        for (OutputFormat format : {OutputFormat::Xml, OutputFormat::Binary, OutputFormat::Json}) {
            SCOPED_TRACE(std::string(c.name) + ", " + formatName(format));
            const std::string csvPath = dir.write("in.csv", c.csv);
            const CsvFileResult table = readCsvFile(csvPath, {.header = c.header});
            ASSERT_TRUE(table);
            const PlistFileOptions options{.format = format, .header = table.header, .types = c.types};
            const std::string expected = converted(
                dir, c.csv,
                {.shape = {.header = c.header, .types = c.types}, .output = {.format = format}});

            const PlistTextResult text = plistText(table.rows, options);
            EXPECT_FALSE(text.error);
            EXPECT_EQ(text.bytes, expected);
            EXPECT_EQ(writePlistFile(table.rows, dir.file("out"), options), std::nullopt);
            EXPECT_EQ(dir.read("out"), expected);
        }
    }
}

TEST(PlistFileTest, WritesAnyValueAndReadsItBack)
{
    const PlistValue nested(PlistValue::Dictionary{
        {u"name", PlistValue(u"東京")},
        {u"when", PlistValue::date(86400)},
        {u"blob", PlistValue::data(std::string("\0\x01\xFFz", 4))},
        {u"list", PlistValue(PlistValue::Array{PlistValue::integer(-7), PlistValue::real(0.25),
                                               PlistValue::boolean(false), PlistValue::unsignedInteger(~0ull)})},
    });
    const std::vector<PlistValue> roots = {
        PlistValue(PlistValue::Array{nested, PlistValue(u"x")}),
        PlistValue(PlistValue::Dictionary{{u"k", nested}, {u"e", PlistValue(PlistValue::Array{})}}),
    };
    for (const PlistValue& root : roots) {
        for (OutputFormat format : {OutputFormat::Xml, OutputFormat::Binary}) {
            SCOPED_TRACE(std::string(root.isArray() ? "array root, " : "dictionary root, ") + formatName(format));
            const PlistTextResult text = plistText(root, format);
            ASSERT_TRUE(text) << text.error->reason;
            RootCollector collector;
            const PropertyListReadResult read = PropertyListReader::readBytes(text.bytes, collector);
            EXPECT_TRUE(read.ok() || read.rootIsDictionary) << read.description();
            EXPECT_EQ(root.isArray() ? PlistValue(collector.elements) : PlistValue(collector.entries), root);
        }
    }
}

TEST(PlistFileTest, RefusesWhatItCannotWriteAndLeavesTheTarget)
{
    TempDir dir;
    struct Case {
        std::string_view name;
        PlistValue value;
        std::string path;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"a string at the root", PlistValue(u"x"), dir.file("a.plist"), "the root is not an array or a dictionary"},
        {"a folder that does not exist", PlistValue(PlistValue::Array{}), dir.file("no/a.plist"),
         "cannot write: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<PlistFileError> error = writePlistFile(c.value, c.path);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->reason, c.reason);
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{});
    EXPECT_FALSE(plistText(PlistValue(u"x")));

    // A character XML cannot hold is written as U+FFFD and named.
    const PlistTextResult text = plistText(Rows{{std::string("a\x01")}});
    EXPECT_NE(text.bytes.find("<string>a\xEF\xBF\xBD</string>"), std::string::npos);
    ASSERT_TRUE(text.error);
    EXPECT_EQ(text.error->reason, "1 characters XML cannot hold were written as U+FFFD");
}

TEST(PlistFileTest, ConverterFromOptionsAloneTakesTheHeaderFromThem)
{
    TempDir dir;
    EXPECT_EQ(converted(dir, "a\n1\n", {}), plistText(Rows{{"a"}, {"1"}}).bytes);
    EXPECT_EQ(converted(dir, "a\n1\n", {.shape = {.header = true}}), plistText(Rows{{"1"}}, {.header = {"a"}}).bytes);
}

TEST(PlistFileTest, WriteCsvFileWritesTheHeaderLineFirst)
{
    TempDir dir;
    const std::string path = dir.file("t.csv");
    ASSERT_EQ(writeCsvFile(path, Rows{{"1", "x,y"}}, {.columnNames = {"n", "text"}}), std::nullopt);
    EXPECT_EQ(dir.read("t.csv"), "n,text\n1,\"x,y\"\n");
    const CsvFileResult back = readCsvFile(path, {.header = true});
    EXPECT_EQ(back.header, (std::vector<std::string>{"n", "text"}));
    EXPECT_EQ(back.rows, (Rows{{"1", "x,y"}}));
}

} // namespace
