#include "core/strings/detail/LocalizationSources.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

namespace plistable::detail {

namespace fs = std::filesystem;

namespace {

struct Found {
    SourceFile file;
    std::string name;     // NAME
    std::string folder;   // the folder of the .lproj folders or of the catalog
    std::string relative; // that folder relative to the PATH it was found under
};

// What `path` is as a localization file, or nothing.
std::optional<Found> classify(const fs::path& path, const fs::path& root)
{
    const std::string extension = path.extension().string();
    Found found;
    found.file.path = path.string();
    found.name = path.stem().string();
    fs::path folder = path.parent_path();
    if (extension == ".xcstrings") {
        found.file.kind = SourceKind::Catalog;
    } else if (extension == ".strings" || extension == ".stringsdict") {
        const fs::path lproj = path.parent_path().filename();
        if (lproj.extension() != ".lproj" || lproj.stem().empty())
            return std::nullopt;
        found.file.kind = extension == ".strings" ? SourceKind::Strings : SourceKind::StringsDict;
        found.file.language = lproj.stem().string();
        folder = folder.parent_path();
    } else {
        return std::nullopt;
    }
    found.folder = folder.empty() ? "." : folder.string();
    std::error_code error;
    const fs::path relative = root.empty() ? fs::path() : fs::relative(folder.empty() ? "." : folder, root, error);
    found.relative = error || relative == "." ? std::string() : relative.generic_string();
    return found;
}

} // namespace

bool holdsLocalizationSource(const std::string& path)
{
    std::error_code error;
    if (!fs::is_directory(path, error))
        return fs::is_regular_file(path, error) && classify(path, {}).has_value();
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->path().filename().string().starts_with(".") && it->is_directory(error)) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(error) && classify(it->path(), {}))
            return true;
    }
    return false;
}

std::vector<SourceTable> findLocalizationSources(const std::vector<std::string>& paths,
                                                 std::vector<LocalizationProblem>& problems)
{
    std::vector<Found> found;
    for (const std::string& argument : paths) {
        std::error_code error;
        const fs::path path(argument);
        const fs::file_status status = fs::status(path, error);
        if (error || !fs::exists(status)) {
            problems.push_back({argument, 0, "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(status)) {
            if (std::optional<Found> file = classify(path, {}))
                found.push_back(std::move(*file));
            else
                problems.push_back({argument, 0, "no LANG.lproj/NAME.strings, LANG.lproj/NAME.stringsdict or NAME.xcstrings"});
            continue;
        }
        std::vector<fs::path> files;
        fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.starts_with(".") && it->is_directory(error)) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(error))
                files.push_back(it->path());
        }
        if (error)
            problems.push_back({argument, 0, "cannot be searched: " + error.message()});
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files)
            if (std::optional<Found> source = classify(file, path))
                found.push_back(std::move(*source));
    }

    // One table per folder and NAME; a NAME found in several folders is named after its folder too.
    std::map<std::pair<std::string, std::string>, SourceTable> tables;
    std::map<std::string, std::vector<std::string>> foldersOfName;
    for (const Found& file : found) {
        SourceTable& table = tables[{file.folder, file.name}];
        if (table.files.empty()) {
            table.folder = file.folder;
            table.name = file.relative.empty() ? file.name : file.relative + "/" + file.name;
            foldersOfName[file.name].push_back(file.folder);
        }
        table.files.push_back(file.file);
    }
    std::vector<SourceTable> result;
    for (auto& [where, table] : tables) {
        if (foldersOfName[where.second].size() == 1)
            table.name = where.second;
        result.push_back(std::move(table));
    }
    std::sort(result.begin(), result.end(), [](const SourceTable& a, const SourceTable& b) { return a.name < b.name; });
    return result;
}

} // namespace plistable::detail
