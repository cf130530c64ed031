// Inputs the fuzz targets found faults with, kept as tests named after the behaviour they fixed.
#include "core/csv/CSVParser.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/plist/PropertyListReader.hpp"
#include "core/UserDefaults.hpp"

#include "support/TestSupport.hpp"

#include <sys/stat.h>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::s;
using plistable::test::u;

namespace {

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
TEST(FuzzRegressionTest, CarriageReturnInFieldSurvivesThePropertyList)
{
    TempDir dir;
    UserDefaults defaults(dir.file("settings.json"));
    ::mkdir(dir.file("out").c_str(), 0700);
    const std::string source = dir.write("cr.csv", "\"a\rb\",\"c\r\nd\",\"\n\r\",\r\n");
    FileConverter converter(defaults, ConversionOptions{false, "UTF-8"});
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
