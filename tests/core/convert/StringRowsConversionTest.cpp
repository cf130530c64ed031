#include "core/convert/detail/StringRowsConversion.hpp"

#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "support/TestSupport.hpp"

using namespace plistable;
using namespace plistable::detail;
using plistable::test::TempDir;

namespace {

const std::string prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
                           "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n";

// The root array's elements, in the usual prolog.
std::string list(std::string_view elements)
{
    return prolog + "<array>\n" + std::string(elements) + "\n</array>\n</plist>\n";
}

} // namespace

// The straight path takes exactly the lists of its shape, and writes for them what the general
// reader writes, fed whole or a few bytes at a time.
TEST(StringRowsConversionTest, WritesTheGeneralLinesOrGivesUp)
{
    const std::string row = "<dict><key>id</key><string>1</string><key>name</key><string>a</string></dict>";
    struct Case {
        const char* name;
        std::string xml;
        bool taken;
    };
    const Case cases[] = {
        {"dictionaries", list(row + "\n\t<dict>\n\t\t<key>id</key>\n\t\t<string/>\n\t\t<key>name</key>"
                                    "<string>x, \"y\" &amp; &lt;z&gt;\n\xE6\x9D\xB1</string></dict>"), true},
        {"arrays of any length", list("<array><string>a;b</string></array><array></array><array><string/></array>"), true},
        {"keys with references", list("<dict><key>a&amp;b</key><string>1</string></dict>"), true},
        // Later elements laid out as the first are read by comparing the bytes around the values.
        {"elements laid out alike, then not", list(row + row + "<dict><key>id</key><string/><key>name</key><string>b</string></dict>"
                                                   + row + "<dict> <key>id</key><string>2</string><key>name</key><string>c</string></dict>"
                                                   + row + "<dict><key>id</key><string>&lt;</string><key>name</key><string>\xE6\x9D\xB1</string></dict>"), true},
        {"a later key that differs by a byte", list(row + row + "<dict><key>id</key><string>1</string><key>namf</key><string>a</string></dict>"), false},
        {"a later stretch that differs in its last byte", list(row + row + "<dict><key>id</key><string>1</string><key>name</key><strinG>a</string></dict>"), false},
        {"a later stretch that differs in its first bytes", list(row + "<dict><key>id</key><string>1</string> <key>name</key><string>a</string></dict>"
                                                                 + "<dict><key>id</key><string>1</string><key>name</key><string>a</string><dict>"), false},
        {"a later array whose stretch differs at its end", list("<array><string>a</string><string>b</string></array>"
                                                               "<array><string>a</string><strinG>b</string></array>"), false},
        {"a later array whose stretch differs at its start", list("<array><string>a</string><string>b</string></array>"
                                                                 "<array><string>a</String><string>b</string></array>"), false},
        {"a later key that differs by a reference", list(row + "<dict><key>&#105;d</key><string>1</string><key>name</key><string>a</string></dict>"), false},
        {"a later value that is a number", list(row + "<dict><key>id</key><integer>1</integer><key>name</key><string>a</string></dict>"), true},
        {"arrays laid out alike", list("<array><string>a</string><string>b</string></array><array><string>c</string><string></string></array>"
                                       "<array><string>d</string></array>"), true},
        {"no document type", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
                             "<array><string>a</string></array></array></plist>", true},
        {"an empty root array", list(""), true},
        {"keys in another order", list(row + "<dict><key>name</key><string>a</string><key>id</key><string>1</string></dict>"), false},
        {"a key left out", list(row + "<dict><key>id</key><string>1</string></dict>"), false},
        {"a repeated key", list("<dict><key>id</key><string>1</string><key>id</key><string>2</string></dict>"), false},
        {"dictionaries and arrays", list(row + "<array><string>a</string></array>"), false},
        {"numbers and booleans", list("<dict><key>n</key><integer>-0x1F</integer><key>r</key><real> 1.50 </real>"
                                      "<key>b</key><true/><key>s</key><string>1</string></dict>"
                                      "<dict><key>n</key><integer>18446744073709551615</integer><key>r</key>"
                                      "<real>-INF</real><key>b</key><false/><key>s</key><string/></dict>"), true},
        {"a number a reader refuses", list("<array><integer>1.5</integer></array>"), false},
        {"dates", list("<array><date>2001-01-01T00:00:00.5Z</date><date> 1969-12-31T23:59:59Z </date></array>"), true},
        {"a date without a calendar date", list("<array><date>99999999999-01-01T00:00:00Z</date></array>"), false},
        {"data", list("<array><data>AA==</data></array>"), false},
        {"true with an end tag", list("<array><true></true></array>"), false},
        {"a carriage return", list("<array><string>a\r\nb</string></array>"), false},
        {"a character reference", list("<array><string>&#65;</string></array>"), false},
        {"a malformed byte", list("<array><string>\xC3(</string></array>"), false},
        {"cut off", list(row).substr(0, prolog.size() + 30), false},
        {"a comment after the list", list(row) + "<!-- -->", false},
        {"text after the list", list(row) + "x", false},
        // Values the scan finds plain or not for the writer, for each delimiter below.
        {"quoting bytes, plain or referenced", list("<array><string>a;b</string><string>a&lt;b</string><string>a b</string>"
                                                    "<string>a]b]</string><string>]</string><string>&quot;</string>"
                                                    "<string>&apos;&gt;&amp;</string><string>\n</string><string>\t</string></array>"
                                                    "<array><string>0123456789abcdef0123456789;</string><string>0123456789abcdef]"
                                                    "</string><string>0123456789abcdef&lt;</string><string>\xC2\x85</string>"
                                                    "<string>0123456789abcdef\xE2\x80\xA8</string><string>,</string>"
                                                    "<string>x,y</string><string>\"</string><string>x\ny</string></array>"), true},
    };
    for (const Case& c : cases) {
        // The default writer, and lines written whole, whose plain values the scan marks, with
        // delimiters of each kind: common, XML markup, white space.
        for (const char16_t delimiter : {u'\0', u',', u';', u'<', u']', u' ', u'\t', u'\u00E9'}) {
            SCOPED_TRACE(testing::Message() << c.name << ", delimiter " << int(delimiter));
            const bool buffered = delimiter != u'\0';
            CsvWriteDialect dialect;
            dialect.delimiter = buffered ? delimiter : u',';
            TempDir dir;
            UserDefaults defaults(dir.file("settings.json"));
            FileConverter general(defaults);
            const ConversionReport report = convertPlistToCsv(dir.write("in.plist", c.xml), dir.file("out.csv"), true,
                                                              general, &c.xml, dialect);
            for (const std::size_t step : {c.xml.size() + 1, std::size_t{1}, std::size_t{7}}) {
                FileConverter pass(defaults);
                auto stream = std::make_shared<MemoryOutputStream>();
                CHCSVWriter writer(stream, NSUTF8StringEncoding, dialect.delimiter);
                writer.setBuffersLines(buffered);
                StringRowsScanner scanner(writer, true, pass);
                for (std::size_t at = 0; scanner.feed(std::string_view(c.xml).substr(std::min(at, c.xml.size()), step),
                                                      at + step >= c.xml.size()) == StringRowsScanner::Status::Reading;)
                    at += step;
                writer.closeStream();
                ASSERT_EQ(scanner.status() == StringRowsScanner::Status::Finished, c.taken) << "pieces of " << step;
                if (c.taken) {
                    EXPECT_EQ(stream->bytes(), dir.read("out.csv"));
                    EXPECT_EQ(scanner.lines(), report.records);
                    EXPECT_EQ(pass.keys(), general.keys());
                }
            }
        }
    }
}
