// The property list to CSV conversion of FileConverter, and round trips through both conversions.
#include "core/convert/FileConverter.hpp"

#include "core/UserDefaults.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "support/TestSupport.hpp"

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include <sys/stat.h>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::TempDir;
using plistable::test::xmlPlist;

namespace {

// The binary form of an XML property list, made with libplist.
std::string binaryOf(const std::string& xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    EXPECT_NE(root, nullptr);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string result(bytes, length);
    free(bytes);
    plist_free(root);
    return result;
}

class PlistToCsvTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    ConversionReport convert(const std::string& contents, bool header, const std::string& name = "list.plist")
    {
        defaults.setBool("header", header);
        const std::string source = dir.write(name, contents);
        ::mkdir(dir.file("out").c_str(), 0700);
        FileConverter converter(defaults);
        return converter.convertDroppedFiles({source}, dir.file("out")).at(0);
    }

    std::string output(const std::string& name = "list.csv") { return dir.read("out/" + name); }
};

struct Case {
    const char* name;
    std::string body;
    bool header;
    const char* csv;
};

TEST_F(PlistToCsvTest, WritesOneLinePerArrayOrDictionaryElement)
{
    const std::string twoDicts = "<dict><key>a</key><string>1</string><key>b</key><string>2</string></dict>"
                                 "<dict><key>b</key><string>4</string><key>a</key><string>3</string></dict>";
    const Case cases[] = {
        {"arrays, header off", "<array><array><string>a</string><string>b</string></array>"
                               "<array><string>1</string><string>2</string></array></array>", false, "a,b\n1,2\n"},
        {"arrays, header on", "<array><array><string>a</string><string>b</string></array>"
                              "<array><string>1</string><string>2</string></array></array>", true, "a,b\n1,2\n"},
        {"dictionaries follow the first one's key order", "<array>" + twoDicts + "</array>", false, "1,2\n3,4\n"},
        {"header once, just before the first dictionary",
         "<array><array><string>x</string><string>y</string></array>" + twoDicts + "</array>", true,
         "x,y\na,b\n1,2\n3,4\n"},
        {"a missing value is an empty field",
         "<array><dict><key>a</key><string>1</string><key>b</key><string>2</string></dict>"
         "<dict><key>a</key><string>3</string></dict></array>", false, "1,2\n3,\n"},
        {"a dictionary without keys gives empty lines", "<array><dict/></array>", true, "\n\n"},
        {"a nested dictionary does not end the key list",
         "<array><dict><key>a</key><string>1</string><key>n</key><dict><key>z</key><string>0</string></dict>"
         "<key>c</key><string>3</string></dict></array>", false,
         "1,\"{\"\"z\"\":\"\"0\"\"}\",3\n"},
        {"non-text values in their text form",
         "<array><array><integer>-7</integer><real>1.5</real><true/><false/><date>2001-01-01T00:00:00Z</date>"
         "<data>TWFu</data></array></array>", false, "-7,1.5,true,false,2001-01-01T00:00:00Z,TWFu\n"},
        {"a key with an entity reference matches its dictionary key",
         "<array><dict><key>a&amp;b</key><string>1</string></dict></array>", true, "a&b\n1\n"},
        {"the first dictionary may be nested in an array",
         "<array><array><dict><key>k</key><string>v</string></dict></array>"
         "<dict><key>k</key><string>w</string></dict></array>", false,
         "\"{\"\"k\"\":\"\"v\"\"}\"\nw\n"},
        {"quoting as the writer does", "<array><array><string>a,b</string><string>say \"hi\"</string>"
                                        "<string>two\nlines</string></array></array>", false,
         "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"\n"},
        {"an empty root array gives an empty file", "<array/>", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ConversionReport report = convert(xmlPlist(c.body), c.header);
        EXPECT_TRUE(report.status == ConversionReport::Status::Converted) << testing::PrintToString(report.problems);
        EXPECT_EQ(output(), c.csv);
        // The binary form converts the same way.
        const ConversionReport binary = convert(binaryOf(xmlPlist(c.body)), c.header, "bin.plist");
        EXPECT_TRUE(binary.status == ConversionReport::Status::Converted) << testing::PrintToString(binary.problems);
        EXPECT_EQ(output("bin.csv"), c.csv);
    }
}

TEST_F(PlistToCsvTest, KeysLeftOutOfLaterDictionariesMakeThePartialResult)
{
    struct LeftOut {
        const char* name;
        std::string body;
        const char* csv;
        const char* problem;
    };
    const LeftOut cases[] = {
        {"more keys than the first dictionary",
         "<array><dict><key>a</key><string>1</string></dict>"
         "<dict><key>a</key><string>2</string><key>x</key><string>3</string><key>y</key><string>4</string></dict>"
         "</array>",
         "1\n2\n", "keys not in the first dictionary were left out: element 2 (x, y)"},
        {"as many keys, one of them another",
         "<array><dict><key>a</key><string>1</string><key>b</key><string>2</string></dict>"
         "<dict><key>a</key><string>3</string><key>x</key><string>4</string></dict></array>",
         "1,2\n3,\n", "keys not in the first dictionary were left out: element 2 (x)"},
    };
    for (const LeftOut& c : cases) {
        SCOPED_TRACE(c.name);
        const ConversionReport report = convert(xmlPlist(c.body), false);
        EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(report.problems, std::vector<std::string>{c.problem});
        EXPECT_EQ(output(), c.csv);
        const ConversionReport binary = convert(binaryOf(xmlPlist(c.body)), false, "bin.plist");
        EXPECT_EQ(binary.problems, report.problems);
        EXPECT_EQ(output("bin.csv"), c.csv);
    }
}

// Single values at the top of a root array write no line, as always; they are counted and reported.
TEST_F(PlistToCsvTest, SingleValuesPassedOverMakeThePartialResult)
{
    const Case cases[] = {
        {"top-level single values write nothing",
         "<array><string>s</string><integer>5</integer><array><string>x</string></array></array>", false, "x\n"},
        {"one among dictionaries", "<array><dict><key>a</key><string>1</string></dict><true/></array>", true, "a\n1\n"},
    };
    const char* problems[] = {"2 single values at the top of the list were not written",
                              "1 single value at the top of the list was not written"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const ConversionReport report = convert(xmlPlist(c.body), c.header);
        EXPECT_EQ(report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(report.problems, std::vector<std::string>{problems[i]});
        EXPECT_EQ(output(), c.csv);
        const ConversionReport binary = convert(binaryOf(xmlPlist(c.body)), c.header, "bin.plist");
        EXPECT_EQ(binary.problems, report.problems);
        EXPECT_EQ(output("bin.csv"), c.csv);
    }
}

// One value whose text does not read as its type: the report says which and where, nothing is written.
TEST_F(PlistToCsvTest, ABadValueIsNamedWithItsPlace)
{
    const std::pair<std::string, const char*> cases[] = {
        {"<array><array/><array/>\n<array><integer>x</integer></array></array>",
         "line 4, column 18: invalid <integer> value \"x\" in element 3; nothing was written"},
        {"<dict><key>k</key><array/>\n<key>m</key><real>1.5q</real></dict>",
         "line 4, column 23: invalid <real> value \"1.5q\" in entry 2; nothing was written"},
        {"<date>never</date>", "line 3, column 12: invalid <date> value \"never\"; nothing was written"},
    };
    for (const auto& [body, problem] : cases) {
        SCOPED_TRACE(body);
        const ConversionReport report = convert(xmlPlist(body), false);
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        EXPECT_EQ(report.problems, std::vector<std::string>{problem});
    }
}

TEST_F(PlistToCsvTest, WritesNothingForInputThatIsNoUsablePropertyList)
{
    const struct {
        const char* name;
        std::string contents;
        const char* problem; // how the first problem begins
    } cases[] = {
        {"root is a string", xmlPlist("<string>a</string>"), "a property list whose root is a string"},
        {"root is an integer", binaryOf(xmlPlist("<integer>1</integer>")), "a property list whose root is an integer"},
        {"root is old-style data", "<0a>", "not a property list: line 1, column 2:"},
        {"malformed XML", xmlPlist("<array><array><string>a</string></array>"), "not a property list: "},
        {"not a property list at all", "a,b\n1,2\n", "not a property list: line 1: expected '=' after the key \"a\""},
        {"empty file", "", "not a property list: "},
        {"truncated binary list", binaryOf(xmlPlist("<array><string>a</string></array>")).substr(0, 20),
         "not a property list: byte "},
    };
    for (const auto& [name, contents, problem] : cases) {
        SCOPED_TRACE(name);
        ::mkdir(dir.file("out").c_str(), 0700);
        dir.write("out/list.csv", "keep me");
        const ConversionReport report = convert(contents, false);
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        ASSERT_FALSE(report.problems.empty());
        EXPECT_EQ(report.problems[0].rfind(problem, 0), 0u) << report.problems[0];
        EXPECT_EQ(output(), "keep me");
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"list.plist", "out"}));
    }
    FileConverter converter(defaults);
    const ConversionReport missing = converter.createCsv(dir.file("none.plist"));
    EXPECT_EQ(missing.status, ConversionReport::Status::Failed);
    EXPECT_EQ(missing.problems[0].rfind("cannot read: ", 0), 0u);
}

TEST_F(PlistToCsvTest, CollectsTheKeyListByTheStateMachine)
{
    FileConverter converter(defaults);
    EXPECT_EQ(converter.keys(), std::nullopt);
    converter.parserDidStartDocument();
    // A key before the first array and dictionary is not collected; nor is one of a nested
    // dictionary, nor one after the first dictionary ended. The empty key element is a name.
    for (const char16_t* name : {u"plist", u"key"})
        converter.parserDidStartElement(name);
    converter.parserDidEndElement(u"key");
    for (const char16_t* name : {u"array", u"dict", u"key"})
        converter.parserDidStartElement(name);
    converter.parserFoundCharacters(u"fir");
    converter.parserFoundCharacters(u"st");
    converter.parserDidEndElement(u"key");
    converter.parserFoundCharacters(u"ignored");
    converter.parserDidStartElement(u"key");
    converter.parserDidEndElement(u"key");
    converter.parserDidStartElement(u"dict");
    converter.parserDidStartElement(u"key");
    converter.parserFoundCharacters(u"nested");
    converter.parserDidEndElement(u"key");
    converter.parserDidEndElement(u"dict");
    converter.parserDidStartElement(u"key");
    converter.parserFoundCharacters(u"last");
    converter.parserDidEndElement(u"key");
    converter.parserDidEndElement(u"dict");
    for (const char16_t* name : {u"dict", u"key"})
        converter.parserDidStartElement(name);
    converter.parserFoundCharacters(u"later");
    converter.parserDidEndElement(u"key");
    ASSERT_TRUE(converter.keys());
    EXPECT_EQ(*converter.keys(), (std::vector<Text>{u"first", u"", u"last"}));
    converter.parserDidStartDocument();
    EXPECT_EQ(converter.keys(), std::vector<Text>{});
}

TEST_F(PlistToCsvTest, TheKeyListIsEveryOwnKeyOfTheFirstDictionaryRow)
{
    const std::string nested = "<dict><key>z</key><string>0</string></dict>";
    const std::string cell = "\"{\"\"z\"\":\"\"0\"\"}\""; // `nested` as a field
    struct KeyCase {
        const char* name;
        std::string body;
        std::string csv;
        bool binaryToo; // libplist keeps one of repeated keys, so those rows are read as XML only
        bool repeats = false; // a key repeats: the later value is kept, the key listed once, the run partial
    };
    const KeyCase cases[] = {
        {"nested dictionary first",
         "<array><dict><key>n</key>" + nested + "<key>a</key><string>1</string><key>b</key><string>2</string></dict>"
         "</array>", "n,a,b\n" + cell + ",1,2\n", true},
        {"nested dictionary in the middle",
         "<array><dict><key>a</key><string>1</string><key>n</key>" + nested + "<key>b</key><string>2</string></dict>"
         "</array>", "a,n,b\n1," + cell + ",2\n", true},
        {"nested dictionary last",
         "<array><dict><key>a</key><string>1</string><key>b</key><string>2</string><key>n</key>" + nested + "</dict>"
         "</array>", "a,b,n\n1,2," + cell + "\n", true},
        {"a dictionary inside a nested array",
         "<array><dict><key>a</key><array>" + nested + "</array><key>b</key><string>2</string></dict></array>",
         "a,b\n\"[{\"\"z\"\":\"\"0\"\"}]\",2\n", true},
        {"the empty key is a column",
         "<array><dict><key>a</key><string>1</string><key></key><string>2</string><key/><string>3</string>"
         "<key>c</key><string>4</string></dict></array>", "a,,c\n1,3,4\n", false, true},
        {"the empty key alone", "<array><dict><key></key><string>2</string></dict></array>", "\"\"\n2\n", true},
        {"a repeated key once, with the later value",
         "<array><dict><key>a</key><string>1</string><key>a</key><string>2</string></dict></array>", "a\n2\n",
         false, true},
        {"an array row holding a dictionary before the first dictionary row",
         "<array><array>" + nested + "</array><dict><key>a</key><string>1</string></dict></array>",
         cell + "\na\n1\n", true},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ConversionReport report = convert(xmlPlist(c.body), true);
        EXPECT_EQ(report.status == ConversionReport::Status::Converted, !c.repeats)
            << testing::PrintToString(report.problems);
        EXPECT_EQ(report.notes, std::vector<std::string>{});
        EXPECT_EQ(output(), c.csv);
        if (!c.binaryToo)
            continue;
        const ConversionReport binary = convert(binaryOf(xmlPlist(c.body)), true, "bin.plist");
        EXPECT_TRUE(binary.status == ConversionReport::Status::Converted) << testing::PrintToString(binary.problems);
        EXPECT_EQ(output("bin.csv"), c.csv);
    }
}

TEST_F(PlistToCsvTest, ConvertsBackWhatTheCsvConversionWrote)
{
    const std::string csv = "id,name,note\n1,\xE6\x9D\xB1\xE4\xBA\xAC,\"a, \"\"quoted\"\" note\"\n"
                            "2,Osaka,\"two\nlines\"\n3,,<&>\n";
    for (bool header : {true, false}) {
        SCOPED_TRACE(header);
        defaults.setBool("header", header);
        dir.write("table.csv", csv);
        FileConverter converter(defaults);
        const auto there = converter.convertDroppedFiles({dir.file("table.csv")}, dir.path());
        ASSERT_EQ(there[0].status, ConversionReport::Status::Converted);
        ::mkdir(dir.file("back").c_str(), 0700);
        const auto back = converter.convertDroppedFiles({dir.file("table.plist")}, dir.file("back"));
        ASSERT_EQ(back[0].status, ConversionReport::Status::Converted);
        EXPECT_EQ(dir.read("back/table.csv"), csv);
    }
}

TEST_F(PlistToCsvTest, ALineOfOneEmptyFieldSurvivesTheRoundTrip)
{
    const struct {
        const char* name;
        const char* csv;
    } cases[] = {
        {"first line", "\"\"\nx\ny\n"},
        {"middle line", "x\n\"\"\ny\n"},
        {"last line", "x\ny\n\"\"\n"},
        {"every line", "\"\"\n\"\"\n"},
    };
    for (const auto& c : cases) {
        for (bool header : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (header ? ", header on" : ", header off"));
            defaults.setBool("header", header);
            dir.write("table.csv", c.csv);
            FileConverter converter(defaults);
            const auto there = converter.convertDroppedFiles({dir.file("table.csv")}, dir.path());
            ASSERT_EQ(there[0].status, ConversionReport::Status::Converted) << testing::PrintToString(there[0].problems);
            ::mkdir(dir.file("back").c_str(), 0700);
            const auto back = converter.convertDroppedFiles({dir.file("table.plist")}, dir.file("back"));
            ASSERT_EQ(back[0].status, ConversionReport::Status::Converted) << testing::PrintToString(back[0].problems);
            EXPECT_EQ(dir.read("back/table.csv"), c.csv);
        }
    }
}

TEST_F(PlistToCsvTest, NestedValuesKeepTheirStoredKeyOrder)
{
    const std::string body = "<array><array><dict><key>z</key><integer>1</integer><key>a</key><array>"
                             "<dict><key>y</key><true/><key>b</key><string>s</string></dict></array></dict>"
                             "</array></array>";
    const std::string csv = "\"{\"\"z\"\":1,\"\"a\"\":[{\"\"y\"\":true,\"\"b\"\":\"\"s\"\"}]}\"\n";
    EXPECT_EQ(convert(xmlPlist(body), false).status, ConversionReport::Status::Converted);
    EXPECT_EQ(output(), csv);
    EXPECT_EQ(convert(binaryOf(xmlPlist(body)), false, "bin.plist").status, ConversionReport::Status::Converted);
    EXPECT_EQ(output("bin.csv"), csv);
}

} // namespace

// Converts `contents` with `options` (header from the options), into out/<stem>.csv.
struct Converted {
    ConversionReport report;
    std::string csv;
};

Converted convertWith(TempDir& dir, UserDefaults& defaults, const std::string& contents, ConversionOptions options,
                      const std::string& name = "list.plist", bool fresh = true)
{
    const std::string source = dir.write(name, contents);
    ::mkdir(dir.file("out").c_str(), 0700);
    const std::string output = dir.file("out/" + name.substr(0, name.rfind('.')) + ".csv");
    if (fresh)
        ::unlink(output.c_str());
    options.run.inputKind = InputKind::PropertyList;
    FileConverter converter(defaults, options);
    Converted result{converter.convertDroppedFiles({source}, dir.file("out")).at(0), ""};
    if (FILE* file = std::fopen(output.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            result.csv.append(buffer, n);
        std::fclose(file);
    }
    return result;
}

ConversionOptions shaped(bool header, std::optional<std::string> select = {}, bool allKeys = false)
{
    ConversionOptions options;
    options.shape.header = header;
    options.shape.allKeys = allKeys;
    if (select) {
        std::string error;
        options.shape.select = PlistPointer::parse(*select, error);
        EXPECT_TRUE(options.shape.select) << error;
    }
    return options;
}

// The same values written in XML, binary and old-style text convert to the same CSV.
TEST_F(PlistToCsvTest, TheThreeSyntaxesGiveTheSameCsv)
{
    const struct {
        const char* name;
        std::string xmlBody;
        std::string openStep;
        ConversionOptions options;
        std::string csv;
    } cases[] = {
        {"array of dictionaries",
         "<array><dict><key>a</key><string>1</string><key>b</key><string>x y</string></dict>"
         "<dict><key>b</key><string>4</string><key>a</key><string>3</string></dict></array>",
         "( { a = 1; b = \"x y\"; }, { b = 4; a = 3; } )", shaped(true), "a,b\n1,x y\n3,4\n"},
        {"array of arrays", "<array><array><string>a</string><string>b</string></array></array>", "((a, b))",
         shaped(false), "a,b\n"},
        {"typed values", "<array><array><integer>12</integer><real>1.5</real><true/><date>2024-01-02T03:04:05Z</date>"
                         "<data>AQI=</data></array></array>",
         "((<*I12>, <*R1.5>, <*BY>, <*D2024-01-02 03:04:05 +0000>, <0102>))", shaped(false),
         "12,1.5,true,2024-01-02T03:04:05Z,AQI=\n"},
        {"dictionary root", "<dict><key>k1</key><string>v1</string><key>k2</key><string>v2</string></dict>",
         "\"k1\" = \"v1\";\n\"k2\" = \"v2\";\n", shaped(false), "k1,v1\nk2,v2\n"},
        {"selected dictionary of records",
         "<dict><key>Tracks</key><dict><key>7</key><dict><key>Track ID</key><integer>7</integer></dict>"
         "<key>9</key><dict><key>Track ID</key><integer>9</integer><key>Name</key><string>n</string></dict></dict></dict>",
         "{ Tracks = { 7 = { \"Track ID\" = <*I7>; }; 9 = { \"Track ID\" = <*I9>; Name = n; }; }; }",
         shaped(true, "/Tracks", true), "key,Track ID,Name\n7,7,\n9,9,n\n"},
        {"selected array inside an array",
         "<dict><key>P</key><array><dict><key>I</key><array><dict><key>T</key><integer>1</integer></dict>"
         "<dict><key>T</key><integer>2</integer></dict></array></dict></array></dict>",
         "{ P = ( { I = ( { T = <*I1>; }, { T = <*I2>; } ); } ); }", shaped(true, "/P/0/I"), "T\n1\n2\n"},
        {"selected single value", "<dict><key>a/b</key><dict><key>~</key><string>v</string></dict></dict>",
         "{ \"a/b\" = { \"~\" = v; }; }", shaped(false, "/a~1b/~0"), "v\n"},
        {"empty pointer is the root", "<array><array><string>a</string></array></array>", "((a))",
         shaped(false, ""), "a\n"},
    };
    for (const auto& c : cases) {
        const std::string xml = xmlPlist(c.xmlBody);
        const std::pair<const char*, std::string> inputs[] = {
            {"xml", xml}, {"binary", binaryOf(xml)}, {"old-style", c.openStep}};
        for (const auto& [syntax, contents] : inputs) {
            SCOPED_TRACE(std::string(c.name) + " / " + syntax);
            const Converted converted = convertWith(dir, defaults, contents, c.options);
            EXPECT_EQ(converted.report.status, ConversionReport::Status::Converted)
                << (converted.report.problems.empty() ? "" : converted.report.problems[0]);
            EXPECT_EQ(converted.csv, c.csv);
        }
    }
}

TEST_F(PlistToCsvTest, APointerThatLeadsNowhereNamesTheDeepestPartThatExists)
{
    const std::string xml = xmlPlist("<dict><key>Tracks</key><dict><key>1</key><string>a</string></dict>"
                                     "<key>P</key><array><string>x</string></array></dict>");
    const std::string openStep = "{ Tracks = { 1 = a; }; P = (x); }";
    const std::pair<const char*, const char*> cases[] = {
        {"/Tracks/x", "no value at /Tracks/x: the dictionary at /Tracks has no key \"x\""},
        {"/Nothing", "no value at /Nothing: the dictionary at the root has no key \"Nothing\""},
        {"/P/3", "no value at /P/3: the array at /P has no element 3 (it has 1)"},
        {"/P/x", "no value at /P/x: the array at /P has no element \"x\""},
        {"/P/0/y", "no value at /P/0/y: the value at /P/0 is a string, not an array or dictionary"},
    };
    ::mkdir(dir.file("out").c_str(), 0700);
    for (const auto& [pointer, message] : cases) {
        for (const auto& [syntax, contents] : {std::pair<const char*, std::string>{"xml", xml},
                                               {"binary", binaryOf(xml)}, {"old-style", openStep}}) {
            SCOPED_TRACE(std::string(pointer) + " / " + syntax);
            dir.write("out/list.csv", "keep me");
            const ConversionReport report =
                convertWith(dir, defaults, contents, shaped(false, pointer), "list.plist", false).report;
            EXPECT_EQ(report.status, ConversionReport::Status::Failed);
            EXPECT_EQ(report.problems, std::vector<std::string>{message});
            EXPECT_EQ(dir.read("out/list.csv"), "keep me");
        }
    }
}

TEST_F(PlistToCsvTest, ARepeatedKeyKeepsTheLaterValueAndFailsTheRun)
{
    const std::string xml = "<?xml version=\"1.0\"?>\n<plist><array>\n<dict><key>a</key><string>1</string>\n"
                            "<key>a</key><string>2</string><key>b</key><string>3</string></dict>\n</array></plist>";
    // A table's own entries go out one by one: a repeated key's line is its first entry's, with
    // the later value, whether the table is the root or selected inside the list.
    const std::string rootXml = "<plist><dict><key>x</key><dict><key>a</key><string>1</string></dict>\n"
                                "<key>y</key><dict><key>a</key><string>3</string></dict>\n"
                                "<key>x</key><dict><key>a</key><string>2</string></dict></dict></plist>";
    const struct {
        const char* name;
        std::string contents;
        std::optional<std::string> select;
        std::string csv;
        std::string problem;
    } cases[] = {
        {"xml", xml, {}, "a,b\n2,3\n", "line 4: dictionary repeats key \"a\"; the later value is kept"},
        {"old-style", "(\n{ a = 1;\n a = 2;\n b = 3; })", {}, "a,b\n2,3\n",
         "line 3: dictionary repeats key \"a\"; the later value is kept"},
        {"xml root", rootXml, {}, "key,a\nx,2\ny,3\n", "line 3: dictionary repeats key \"x\"; the later value is kept"},
        {"old-style root", "{ x = { a = 1; }; y = { a = 3; };\n x = { a = 2; }; }", {}, "key,a\nx,2\ny,3\n",
         "line 2: dictionary repeats key \"x\"; the later value is kept"},
        {"xml selected", "<plist><dict><key>T</key>" + rootXml.substr(7, rootXml.size() - 15) + "</dict></plist>",
         "/T", "key,a\nx,2\ny,3\n", "line 3: dictionary repeats key \"x\"; the later value is kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Converted converted = convertWith(dir, defaults, c.contents, shaped(true, c.select));
        EXPECT_EQ(converted.csv, c.csv);
        EXPECT_EQ(converted.report.status, ConversionReport::Status::Partial);
        EXPECT_EQ(converted.report.problems, std::vector<std::string>{c.problem});
    }
    // libplist keeps one of two equal keys: the binary list is written by the project's own writer.
    {
        AtomicFile file(dir.file("dup.plist"));
        detail::BinaryPlistWriter writer(file);
        writer.beginValues(false);
        writer.writeValue(PlistValue(PlistValue::Dictionary{{u"a", u"1"}, {u"a", u"2"}, {u"b", u"3"}}));
        writer.endValues();
        ASSERT_FALSE(file.commit());
    }
    const Converted converted = convertWith(dir, defaults, dir.read("dup.plist"), shaped(true));
    EXPECT_EQ(converted.csv, "a,b\n2,3\n");
    ASSERT_EQ(converted.report.problems.size(), 1u);
    EXPECT_TRUE(std::regex_match(converted.report.problems[0],
                                 std::regex("byte [1-9][0-9]*: dictionary repeats key \"a\"; the later value is kept")))
        << converted.report.problems[0];

}

// A music library: Tracks a dictionary of track dictionaries with differing keys, Playlists an array.
TEST_F(PlistToCsvTest, ConvertsTheTablesInsideAMusicLibrary)
{
    std::string xml = "<dict><key>Major Version</key><integer>1</integer><key>Tracks</key><dict>";
    for (int id = 1; id <= 1000; ++id) {
        xml += "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id)
               + "</integer><key>Name</key><string>Song " + std::to_string(id) + "</string>";
        if (id % 3 == 0)
            xml += "<key>Rating</key><integer>" + std::to_string(id % 100) + "</integer>";
        xml += "</dict>";
    }
    xml += "</dict><key>Playlists</key><array><dict><key>Name</key><string>Library</string>"
           "<key>Playlist Items</key><array>";
    for (int id = 1; id <= 1000; id += 7)
        xml += "<dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer></dict>";
    xml += "</array></dict></array></dict>";

    const Converted tracks = convertWith(dir, defaults, xmlPlist(xml), shaped(true, "/Tracks", true));
    EXPECT_EQ(tracks.report.status, ConversionReport::Status::Converted);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = tracks.csv.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(tracks.csv.substr(at, end - at));
    ASSERT_EQ(lines.size(), 1001u);
    EXPECT_EQ(lines[0], "key,Track ID,Name,Rating");
    EXPECT_EQ(lines[1], "1,1,Song 1,");
    EXPECT_EQ(lines[3], "3,3,Song 3,3");
    for (std::size_t i = 1; i < lines.size(); ++i)
        ASSERT_EQ(lines[i].substr(0, lines[i].find(',')), std::to_string(i));

    const Converted items = convertWith(dir, defaults, xmlPlist(xml), shaped(true, "/Playlists/0/Playlist Items"));
    EXPECT_EQ(items.report.status, ConversionReport::Status::Converted);
    std::string expected = "Track ID\n";
    for (int id = 1; id <= 1000; id += 7)
        expected += std::to_string(id) + "\n";
    EXPECT_EQ(items.csv, expected);
}

// CSV -> old-style text or a strings file -> CSV gives the table back.
TEST_F(PlistToCsvTest, OldStyleAndStringsOutputsConvertBack)
{
    const std::string table = "name,note\nAlice,\"say \"\"hi\"\"\"\nB\\o,\"two\nlines\"\ncaf\xC3\xA9,/* not */ // a comment\n";
    const struct {
        const char* name;
        OutputFormat format;
        bool header;
        const char* extension;
    } cases[] = {
        {"old-style with header", OutputFormat::OpenStep, true, "plist"},
        {"old-style without header", OutputFormat::OpenStep, false, "plist"},
        {"strings with header", OutputFormat::Strings, true, "strings"},
        {"strings without header", OutputFormat::Strings, false, "strings"},
    };
    for (const auto& c : cases) {
        for (const char* encoding : {"utf-8", "utf-16"}) {
            SCOPED_TRACE(std::string(c.name) + " / " + encoding);
            ConversionOptions options;
            options.shape.header = c.header;
            options.output.format = c.format;
            options.csvWrite.encodingName = encoding;
            ::mkdir(dir.file("out").c_str(), 0700);
            FileConverter toList(defaults, options);
            const ConversionReport written = toList.convertDroppedFiles({dir.write("t.csv", table)}, dir.file("out")).at(0);
            ASSERT_EQ(written.status, ConversionReport::Status::Converted);
            const std::string list = dir.read(std::string("out/t.") + c.extension);
            EXPECT_EQ(list.rfind("\xFF\xFE", 0) == 0, std::string(encoding) == "utf-16");
            const Converted back = convertWith(dir, defaults, list, shaped(c.header), "back.plist");
            EXPECT_EQ(back.report.status, ConversionReport::Status::Converted);
            // The header of a strings file is no entry, and string values write no header line back.
            const bool headerDropped = c.format == OutputFormat::Strings && c.header;
            EXPECT_EQ(back.csv, headerDropped ? table.substr(table.find('\n') + 1) : table);
        }
    }
    ConversionOptions strings;
    strings.shape.header = false;
    strings.output.format = OutputFormat::Strings;
    FileConverter wide(defaults, strings);
    const ConversionReport refused = wide.convertDroppedFiles({dir.write("w.csv", "a,b\nc,d,e\n")}, dir.file("out")).at(0);
    EXPECT_EQ(refused.status, ConversionReport::Status::Failed);
    EXPECT_EQ(refused.problems, std::vector<std::string>{"line 2: a record of 3 fields; a strings file is written "
                                                         "from a table of two columns (key, value); nothing was written"});
}

