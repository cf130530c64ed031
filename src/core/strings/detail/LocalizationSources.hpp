#pragma once

#include "core/strings/LocalizationProblem.hpp"

#include <string>
#include <vector>

namespace plistable::detail {

/// The kinds of localization file.
enum class SourceKind {
    Strings,     ///< LANG.lproj/NAME.strings
    StringsDict, ///< LANG.lproj/NAME.stringsdict
    Catalog,     ///< NAME.xcstrings
};

/// One localization file found.
struct SourceFile {
    std::string path;     ///< as found (the PATH given, then the names below it)
    SourceKind kind = SourceKind::Strings;
    std::string language; ///< the LANG of its LANG.lproj folder; empty for a catalog
};

/// The files of one table: those of one NAME in one folder (its .lproj folders and its catalog).
struct SourceTable {
    std::string name;   ///< NAME, or FOLDER/NAME (FOLDER relative to its PATH) when NAME stands in several folders
    std::string folder; ///< the folder holding the .lproj folders or the catalog
    std::vector<SourceFile> files; ///< in path order
};

/// Finds the localization files of `paths`: a folder is searched through (hidden folders passed
/// over) for LANG.lproj/NAME.strings, LANG.lproj/NAME.stringsdict and NAME.xcstrings ("Base.lproj"
/// is the language "Base"); a file is taken when it is one of those. A path that does not exist,
/// or a file of another kind, is a problem. Tables come sorted by name.
std::vector<SourceTable> findLocalizationSources(const std::vector<std::string>& paths,
                                                 std::vector<LocalizationProblem>& problems);

/// True when `path` is such a file, or a folder holding one (searched as above, stopping at the first).
bool holdsLocalizationSource(const std::string& path);

} // namespace plistable::detail
