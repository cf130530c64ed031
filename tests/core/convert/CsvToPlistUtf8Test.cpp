// A UTF-8 file is read as bytes, without its UTF-16 form; with the encoding named it is read
// through that form. Both must write the same document and the same report, including where the
// bytes make the first reading hand the file over to the second.
#include "core/convert/detail/CsvToPlistConversion.hpp"

#include "support/TestSupport.hpp"

#include <string>

using namespace plistable;
using plistable::test::TempDir;

namespace {

struct Case {
    const char* name;
    std::string csv;
    char16_t delimiter = u',';
    bool separatorLine = false;
};

TEST(CsvToPlistUtf8Test, BytesGiveWhatTheUtf16ReadingGives)
{
    const std::string longField(200000, 'x');
    const Case cases[] = {
        {"plain", "a,b\n1,2\n"},
        {"quotes, doubled quotes and line breaks in fields", "\"a\"\"b\",\"c\nd\",\"\"\r\n\"e,f\",g\n"},
        {"short, long and blank records", "a,b,a\n1\n1,2,3,4\n\n\n5,6\r\r\n"},
        {"markup, CR, controls and U+FFFE/U+FFFF", "<&>,\"a\rb\",\x01\x1F\x7F,\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD\n"},
        {"characters of two, three and four bytes", "é,東京,😀\n\xC2\xA0,x\n"},
        {"a byte-order mark", "\xEF\xBB\xBFk,v\n1,2\n"},
        {"a leading line break", "\na,b\n"},
        {"an unexpected quote", "a,b\n1,x\"y\n2,3\n"},
        {"a character after a closing quote", "a,b\n\"1\"x,2\n"},
        {"a quote never closed", "a,b\n1,\"2\n3\n"},
        {"a field longer than a window", "k,v\n1,\"" + longField + "\"\n2," + longField + "\n"},
        {"a fault after a long field", "k,v\n1,\"" + longField + "\"\n2,\"x\"y\n"},
        {"semicolons", "a;b\n1;2\n", u';'},
        {"a letter as delimiter (read through UTF-16)", "axb\n1X2\n\"1\"X2\n", u'x'},
        {"a delimiter beyond ASCII (read through UTF-16)", "a·b\n1·2\n", u'·'},
        {"a separator line", "sep=;\r\na;b\n1;2\n", u',', true},
        {"a separator line naming a quote", "sep=\"\na,b\n", u',', true},
        {"a separator line naming a character beyond ASCII", "sep=·\na·b\n", u',', true},
        {"a line separator character (read through UTF-16)", "a,b\n1,2\xE2\x80\xA8" "3,4\n"},
        {"a next-line character (read through UTF-16)", "a,b\xC2\x85x,\"y\n"},
    };
    for (const Case& c : cases) {
        for (const bool header : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (header ? ", header" : ", no header"));
            TempDir dir;
            CsvReadDialect dialect;
            dialect.delimiter = c.delimiter;
            dialect.separatorLine = c.separatorLine;
            std::string bytes = c.csv;
            const ConversionReport asBytes = detail::convertCsvToPlist("in", dir.file("bytes"), header, &bytes, dialect);
            dialect.encodingName = "UTF-8";
            bytes = c.csv;
            const ConversionReport asUnits = detail::convertCsvToPlist("in", dir.file("units"), header, &bytes, dialect);
            EXPECT_EQ(asBytes.problems, asUnits.problems);
            EXPECT_EQ(asBytes.records, asUnits.records);
            EXPECT_EQ(asBytes.status, asUnits.status);
            EXPECT_EQ(asBytes.encodingName, "UTF-8");
            EXPECT_EQ(dir.names().size(), asUnits.status == ConversionReport::Status::Failed ? 0u : 2u);
            if (asUnits.status != ConversionReport::Status::Failed) {
                EXPECT_EQ(dir.read("bytes"), dir.read("units"));
            }
        }
    }
}

} // namespace
