#pragma once

#include "core/strings/LocalizationProblem.hpp"
#include "core/strings/LocalizationTable.hpp"

#include <string>
#include <vector>

namespace plistable {

/// What LocalizationExporter::exportPaths() made.
struct LocalizationExport {
    LocalizationTable table;                   ///< every string read, in table order
    std::vector<LocalizationProblem> problems; ///< files that could not be read (their strings are missing)

    /// True when every file was read.
    bool complete() const { return problems.empty(); }
};

/// Reads an app's localization files into one table: strings files (LANG.lproj/NAME.strings),
/// plural dictionaries (LANG.lproj/NAME.stringsdict) and string catalogs (NAME.xcstrings). Each
/// string of each language becomes a cell; plural forms and variations become rows of their own
/// (see LocalizationRow::variant). Never throws on bad data: a file that cannot be read is a
/// problem naming its line, and the rest is still read.
class LocalizationExporter {
public:
    /// `baseLanguage`: the first language column; empty: the catalog's source language, else
    /// "en" when present, else "Base", else the first in sorted order.
    explicit LocalizationExporter(std::string baseLanguage = {});

    /// Reads the files of `paths`: folders are searched through, files taken as they are (see
    /// the class comment). A path that is no such file, or holds none, is a problem.
    LocalizationExport exportPaths(const std::vector<std::string>& paths) const;

    /// True when `path` is a localization file, or a folder holding one (searched as exportPaths()
    /// searches, stopping at the first found): what a window may offer to export. Reads no contents.
    static bool holdsLocalizationFiles(const std::string& path);

private:
    std::string _baseLanguage;
};

} // namespace plistable
