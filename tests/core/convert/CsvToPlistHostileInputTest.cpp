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
