// Degenerate CSV files through the conversion to a property list: each ends in a whole, readable
// property list or a failure with its reason, never in a crash or a damaged output. (How the
// streaming reader ends on them is tested in CHCSVParserHostileInputTest.)
#include "core/convert/FileConverter.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/UserDefaults.hpp"

#include "support/TestSupport.hpp"

#include <string>

using namespace plistable;
using plistable::test::LogCapture;
using plistable::test::TempDir;

namespace {

TEST(CsvToPlistHostileInputTest, DegenerateFilesConvertToReadablePropertyListsOrFailWithAReason)
{
    const auto files = test::degenerateFiles();
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    FileConverter converter(defaults);
    LogCapture logs;
    for (bool header : {false, true}) {
        defaults.setBool("header", header);
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(name + (header ? " with header" : ""));
            const std::string source = dir.write("in.csv", bytes);
            const ConversionReport report = converter.convertDroppedFiles({source}, dir.path()).at(0);
            ASSERT_NE(report.status, ConversionReport::Status::Skipped);
            if (report.status == ConversionReport::Status::Failed) {
                EXPECT_FALSE(report.problems.empty());
                EXPECT_TRUE(report.outputPath.empty());
                continue;
            }
            // Whatever the bytes, what was written is a whole property list with an array root.
            PlistReaderDelegate ignore;
            const PropertyListReadResult read = PropertyListReader::readFile(report.outputPath, ignore);
            EXPECT_TRUE(read.ok()) << read.message;
            EXPECT_EQ(report.status == ConversionReport::Status::Partial, !report.problems.empty());
        }
    }
}

// A header of one name 100,000 times: each name's value is found without a look through every
// column of that name, and renaming does not try every earlier suffix again, so this takes memory
// and time in proportion to the columns (before, the plain document needed some 80 GB, renaming
// minutes). Each way writes what it always has.
TEST(CsvToPlistHostileInputTest, AHeaderOfOneRepeatedNameConvertsInLinearMemoryAndTime)
{
    constexpr std::size_t columns = 100'000;
    std::string csv;
    for (std::size_t i = 1; i <= columns; ++i)
        csv += i == 1 ? "a" : ",a";
    csv += '\n';
    for (std::size_t i = 1; i <= columns; ++i)
        csv += (i == 1 ? "" : ",") + std::to_string(i);
    csv += "\n7\n";
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    const std::string source = dir.write("wide.csv", csv);
    const struct {
        const char* name;
        bool dedupe;
        bool types;
        std::vector<std::string> pieces; // in the document, in this order
    } cases[] = {
        // The later value is kept under every key; the short record reaches column 1 only.
        {"plain", false, false, {"<key>a</key>\n\t\t<string>100000</string>", "<key>a</key>\n\t\t<string>7</string>"}},
        // Typed values take their fields from the same columns.
        {"shaped", false, true, {"<key>a</key>\n\t\t<integer>100000</integer>", "<key>a</key>\n\t\t<integer>7</integer>"}},
        {"renamed", true, false,
         {"<key>a</key>\n\t\t<string>1</string>", "<key>a_100000</key>\n\t\t<string>100000</string>",
          "<key>a</key>\n\t\t<string>7</string>", "<key>a_2</key>\n\t\t<string></string>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionOptions options;
        options.shape.header = true;
        options.shape.dedupeKeys = c.dedupe;
        options.shape.types = c.types;
        options.output.path = dir.file("wide.plist");
        const ConversionReport report =
            FileConverter(defaults, options).convertDroppedFiles({source}, dir.path()).at(0);
        EXPECT_EQ(report.records, 2u);
        EXPECT_EQ(report.problems.size(), c.dedupe ? 0u : 1u);
        const std::string document = dir.read("wide.plist");
        std::size_t at = 0;
        for (const std::string& piece : c.pieces) {
            at = document.find(piece, at);
            ASSERT_NE(at, std::string::npos) << piece;
        }
    }
}

TEST(CsvToPlistHostileInputTest, AByteOrderMarkAloneGivesTheEmptyDocument)
{
    // The conversion drops a UTF-8 mark: the document is the empty one.
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    FileConverter converter(defaults);
    const std::string source = dir.write("mark.csv", "\xEF\xBB\xBF");
    const ConversionReport report = converter.convertDroppedFiles({source}, dir.path()).at(0);
    EXPECT_EQ(report.status, ConversionReport::Status::Converted);
    EXPECT_EQ(report.records, 0u);
    EXPECT_NE(dir.read("mark.plist").find("<array>\n</array>"), std::string::npos);
}

} // namespace
