#include "core/strings/LocalizationExporter.hpp"

#include "core/io/FileContents.hpp"
#include "core/strings/detail/LocalizationSources.hpp"
#include "core/strings/detail/TableAssembly.hpp"

namespace plistable {

using namespace detail;

LocalizationExporter::LocalizationExporter(std::string baseLanguage) : _baseLanguage(std::move(baseLanguage)) {}

bool LocalizationExporter::holdsLocalizationFiles(const std::string& path)
{
    return holdsLocalizationSource(path);
}

LocalizationExport LocalizationExporter::exportPaths(const std::vector<std::string>& paths) const
{
    LocalizationExport result;
    const std::vector<SourceTable> sources = findLocalizationSources(paths, result.problems);
    std::vector<LoadedTable> tables;
    for (const SourceTable& source : sources) {
        LoadedTable table;
        table.name = source.name;
        for (const SourceFile& file : source.files) {
            const FileContents contents = readFileContents(file.path);
            if (contents.error) {
                result.problems.push_back({file.path, 0, "cannot be read: " + contents.error.message()});
                continue;
            }
            switch (file.kind) {
            case SourceKind::Strings: {
                OpenStepError error;
                if (std::optional<StringsFile> read = readStringsFile(contents.bytes, error))
                    table.strings.emplace_back(file.language, std::move(read->entries));
                else
                    result.problems.push_back({file.path, error.line, error.message});
                break;
            }
            case SourceKind::StringsDict: {
                std::string error;
                std::uint64_t line = 0;
                if (auto read = readStringsDictFile(contents.bytes, error, line))
                    table.dicts.emplace_back(file.language, std::move(*read));
                else
                    result.problems.push_back({file.path, line, error});
                break;
            }
            case SourceKind::Catalog: {
                std::string error;
                std::uint64_t line = 0;
                if (table.catalog)
                    result.problems.push_back({file.path, 0, "a second catalog of the table " + source.name});
                else if (std::optional<CatalogJson> read = readCatalog(contents.bytes, error, line))
                    table.catalog = std::move(*read);
                else
                    result.problems.push_back({file.path, line, error});
                break;
            }
            }
        }
        tables.push_back(std::move(table));
    }
    if (sources.empty() && result.problems.empty())
        result.problems.push_back({paths.empty() ? std::string(".") : paths.front(), 0,
                                   "holds no LANG.lproj/NAME.strings, LANG.lproj/NAME.stringsdict or NAME.xcstrings"});
    result.table.languages = tableLanguages(tables, _baseLanguage);
    for (const LoadedTable& table : tables)
        appendTableRows(table, result.table.languages, result.table.rows);
    return result;
}

} // namespace plistable
