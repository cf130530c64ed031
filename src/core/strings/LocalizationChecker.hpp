#pragma once

#include "core/strings/LocalizationProblem.hpp"

#include <string>
#include <vector>

namespace plistable {

/// Checks an app's localization files for the faults that lose strings at run time, each finding
/// with its file and line: a syntax error (a missing ';' at the line where the entry began), a key
/// repeated in one file (at the later line), keys the base language has and another lacks and the
/// reverse (at the line of the file that has the key), format placeholders that differ between
/// the base language and a translation (their types, number or numbered order; at the
/// translation's line), an empty value, and a plural dictionary entry without its format string or
/// a variable without its "other" form. Never throws on bad data.
class LocalizationChecker {
public:
    /// `baseLanguage`: the language others are compared with; empty: "en" when present, else
    /// "Base", else the first in sorted order (per table).
    explicit LocalizationChecker(std::string baseLanguage = {});

    /// The findings for the files of `paths` (searched as LocalizationExporter searches them),
    /// file by file in path order; empty when all is well.
    std::vector<LocalizationProblem> checkPaths(const std::vector<std::string>& paths) const;

private:
    std::string _baseLanguage;
};

} // namespace plistable
