#include "core/strings/LocalizationExporter.hpp"
#include "core/strings/LocalizationImporter.hpp"
#include "core/strings/detail/StringCatalog.hpp"
#include "core/strings/detail/StringsFile.hpp"

#include "core/io/FileContents.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace plistable {
namespace {

namespace fs = std::filesystem;

const fs::path data = fs::path(PLISTABLE_TEST_DATA) / "strings";

// Real apps' files (see tests/data/strings/README.md): exported and imported over a copy of
// themselves, every byte stays; read and written again, strings files and catalogs are as they were.
TEST(RealFilesTest, RoundTripUnchanged)
{
    for (const char* app : {"kraftstoff", "alare"}) {
        SCOPED_TRACE(app);
        test::TempDir copy;
        fs::copy(data / app, copy.path(), fs::copy_options::recursive);
        const LocalizationExport exported = LocalizationExporter().exportPaths({copy.path()});
        ASSERT_TRUE(exported.complete()) << exported.problems.front().description();
        LocalizationProblem problem;
        const std::optional<LocalizationTable> table = LocalizationTable::fromCsvBytes(
            *exported.table.csvBytes({u',', true, true, {}}), "t.csv", {{}, u',', true}, problem);
        ASSERT_TRUE(table) << problem.description();
        const LocalizationImportReport report =
            LocalizationImporter({copy.path(), StringsFileEncoding::AsFound, false, false}).importTable(*table, "t.csv");
        EXPECT_TRUE(report.complete());
        EXPECT_TRUE(report.written.empty());
        for (const auto& entry : fs::recursive_directory_iterator(data / app)) {
            if (!entry.is_regular_file())
                continue;
            const fs::path relative = fs::relative(entry.path(), data / app);
            SCOPED_TRACE(relative.string());
            const std::string original = readFileContents(entry.path().string()).bytes;
            EXPECT_EQ(readFileContents((fs::path(copy.path()) / relative).string()).bytes, original);
            if (entry.path().extension() == ".strings") {
                OpenStepError error;
                const std::optional<detail::StringsFile> file = detail::readStringsFile(original, error);
                ASSERT_TRUE(file) << error.message;
                EXPECT_EQ(detail::writeStringsFile(file->entries, file->layout, file->encoding), original);
            } else if (entry.path().extension() == ".xcstrings") {
                std::string error;
                std::uint64_t line = 0;
                const std::optional<detail::CatalogJson> catalog = detail::readCatalog(original, error, line);
                ASSERT_TRUE(catalog) << error;
                EXPECT_EQ(detail::writeCatalog(*catalog), original);
            }
        }
    }
}

} // namespace
} // namespace plistable
