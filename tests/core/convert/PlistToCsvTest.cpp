// The property list to CSV conversion of FileConverter, and round trips through both conversions.
#include "core/convert/FileConverter.hpp"

#include "core/UserDefaults.hpp"
#include "support/TestSupport.hpp"

#include <plist/plist.h>

#include <cstdlib>

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
    const std::pair<const char*, std::string> cases[] = {
        {"root is a string", xmlPlist("<string>a</string>")},
        {"malformed XML", xmlPlist("<array><array><string>a</string></array>")},
        {"not a property list at all", "a,b\n1,2\n"},
        {"empty file", ""},
        {"truncated binary list", binaryOf(xmlPlist("<array><string>a</string></array>")).substr(0, 20)},
    };
    for (const auto& [name, contents] : cases) {
        SCOPED_TRACE(name);
        ::mkdir(dir.file("out").c_str(), 0700);
        dir.write("out/list.csv", "keep me");
        const ConversionReport report = convert(contents, false);
        EXPECT_EQ(report.status, ConversionReport::Status::Failed);
        ASSERT_FALSE(report.problems.empty());
        EXPECT_EQ(report.problems[0].rfind("not a property list with an array at its root", 0), 0u)
            << report.problems[0];
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
         "<key>c</key><string>4</string></dict></array>", "a,,,c\n1,3,3,4\n", false},
        {"the empty key alone", "<array><dict><key></key><string>2</string></dict></array>", "\"\"\n2\n", true},
        {"repeated keys as written, each the later value",
         "<array><dict><key>a</key><string>1</string><key>a</key><string>2</string></dict></array>", "a,a\n2,2\n",
         false},
        {"an array row holding a dictionary before the first dictionary row",
         "<array><array>" + nested + "</array><dict><key>a</key><string>1</string></dict></array>",
         cell + "\na\n1\n", true},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ConversionReport report = convert(xmlPlist(c.body), true);
        EXPECT_TRUE(report.status == ConversionReport::Status::Converted) << testing::PrintToString(report.problems);
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
