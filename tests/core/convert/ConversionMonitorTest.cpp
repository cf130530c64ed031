// The progress and cancel options of FileConverter, through both conversions and both input paths.
#include "core/convert/FileConverter.hpp"

#include "core/UserDefaults.hpp"
#include "support/TestSupport.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

using namespace plistable;
using plistable::test::TempDir;
using plistable::test::xmlPlist;

namespace {

using Status = ConversionReport::Status;

// About 4 MiB of input, so that progress is reported several times on the way.
constexpr std::size_t rows = 40000;

std::string csvInput()
{
    std::string text;
    for (std::size_t i = 0; i < rows; ++i)
        text += std::to_string(i) + "," + std::string(100, 'x') + "\n";
    return text;
}

std::string xmlInput()
{
    std::string body = "<array>\n";
    for (std::size_t i = 0; i < rows; ++i)
        body += "<array><string>" + std::to_string(i) + "</string><string>" + std::string(80, 'x')
                + std::to_string(i) + "</string></array>\n";
    return xmlPlist(body + "</array>");
}

std::string binaryInput()
{
    const std::string xml = xmlInput();
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

struct Case {
    const char* name;
    const char* source; // file name; its extension picks the conversion
    std::string (*input)();
    InputKind kind;
};

const Case cases[] = {
    {"csv", "data.csv", csvInput, InputKind::Csv},
    {"xml list", "data.plist", xmlInput, InputKind::PropertyList},
    {"binary list", "data.plist", binaryInput, InputKind::PropertyList},
};

class ConversionMonitorTest : public ::testing::Test {
protected:
    TempDir dir;
    UserDefaults defaults{dir.file("settings.json")};

    std::string folder()
    {
        const std::string out = dir.file("out");
        ::mkdir(out.c_str(), 0700);
        return out;
    }
};

TEST_F(ConversionMonitorTest, ProgressRisesToTheSourceSizeFromFilesAndFromBytes)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = c.input();
        const std::string source = dir.write(c.source, input);
        for (const bool fromBytes : {false, true}) {
            SCOPED_TRACE(fromBytes ? "bytes" : "file");
            std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
            ConversionOptions options;
            options.output.path = dir.file("out.result");
            options.run.progress = [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); };
            FileConverter converter(defaults, options);
            const ConversionReport report = fromBytes ? converter.convertBytes(input, "-", c.kind)
                                                      : converter.convertDroppedFiles({source}, folder()).front();
            EXPECT_EQ(report.status, Status::Converted);
            ASSERT_GE(calls.size(), 3u); // a few on the way and one at the end
            for (std::size_t i = 0; i < calls.size(); ++i) {
                EXPECT_EQ(calls[i].second, input.size()) << "call " << i;
                if (i > 0) {
                    EXPECT_GE(calls[i].first, calls[i - 1].first) << "call " << i;
                }
            }
            EXPECT_EQ(calls.back().first, input.size());
        }
    }
}

TEST_F(ConversionMonitorTest, ACancelStopsTheConversionKeepsTheOldOutputAndCancelsLaterFiles)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const std::string source = folder.write(c.source, c.input());
        const std::string later = folder.write("later.csv", "a,b\n");
        const std::string old = "an older output\n";
        const std::string target = c.kind == InputKind::Csv ? "data.plist" : "data.csv";
        folder.write(target, old);

        std::atomic<bool> cancel = false;
        std::size_t calls = 0;
        ConversionOptions options;
        options.run.cancel = &cancel;
        options.run.progress = [&](std::uint64_t, std::uint64_t) {
            ++calls;
            cancel = true;
        };
        FileConverter converter(defaults, options);
        const auto reports = converter.convertDroppedFiles({source, later}, folder.path());
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].status, Status::Cancelled);
        EXPECT_TRUE(reports[0].outputPath.empty());
        EXPECT_EQ(calls, 1u); // stopped at the next check after the first report
        EXPECT_EQ(reports[1].status, Status::Cancelled);
        EXPECT_EQ(reports[1].sourcePath, later);
        EXPECT_EQ(folder.read(target), old);
        // No temporary file is left, and the later file wrote nothing.
        std::vector<std::string> expected{target, c.source, "later.csv"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(folder.names(), expected);
    }
}

TEST_F(ConversionMonitorTest, ACancelSetBeforehandConvertsNothing)
{
    std::atomic<bool> cancel = true;
    ConversionOptions options;
    options.run.cancel = &cancel;
    options.output.path = dir.file("result");
    FileConverter converter(defaults, options);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(converter.convertBytes(c.input(), "-", c.kind).status, Status::Cancelled);
    }
    struct stat info {};
    EXPECT_NE(::stat(dir.file("result").c_str(), &info), 0);
}

} // namespace
