#pragma once

#include "core/strings/LocalizationProblem.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// One line of a localization table: one string of one key in every language.
struct LocalizationRow {
    std::string table;   ///< the table's name ("Localizable"), or FOLDER/NAME when names repeat
    std::string key;     ///< the key, as written in the files
    /// Empty for a plain string; else the form: "VAR.one" and "VAR.type" (plural dictionaries),
    /// "plural.one", "device.iphone", "substitutions.VAR.argNum" (catalog variations).
    std::string variant;
    std::string comment; ///< the translators' comment, or empty
    std::vector<std::string> values; ///< one per language of the table, in its order; empty: none

    friend bool operator==(const LocalizationRow&, const LocalizationRow&) = default;
};

/// How the CSV text of a table is read (as `convert` reads a CSV file).
struct LocalizationCsvReading {
    std::optional<std::string> encoding; ///< an encoding name ("cp932"); none: detected by trial decoding
    char16_t delimiter = u',';           ///< between two fields
    bool separatorLine = false;          ///< a first line "sep=C" sets the delimiter and is no record
};

/// How the CSV text of a table is written (as `convert` writes a CSV file).
struct LocalizationCsvWriting {
    char16_t delimiter = u',';           ///< between two fields
    bool crlf = false;                   ///< lines end in CRLF instead of LF
    bool byteOrderMark = false;          ///< the text begins with a byte-order mark (Unicode encodings only)
    std::optional<std::string> encoding; ///< an encoding name ("cp932", "utf-16le"); none: UTF-8
};

/// A localization table: every string of an app's strings files, plural dictionaries and string
/// catalogs, one row per string and one column per language, as a spreadsheet shows it. Its CSV
/// form has the header line `table,key,variant,comment,LANG,...`; all text is UTF-8.
class LocalizationTable {
public:
    std::vector<std::string> languages; ///< the language columns; the base language first
    std::vector<LocalizationRow> rows;  ///< in table order

    /// The index of `language` among the columns, or nothing.
    std::optional<std::size_t> languageIndex(std::string_view language) const;

    /// The CSV bytes of the table in the dialect asked for. Nothing when the encoding has no
    /// converter or cannot hold a character; `problem` (when given) then names the line of the CSV.
    std::optional<std::string> csvBytes(const LocalizationCsvWriting& dialect = {},
                                        LocalizationProblem* problem = nullptr) const;

    /// Reads a table from CSV bytes named `path` in messages. Nothing, with `problem` set (the line
    /// when it applies), when the bytes do not decode, the CSV is malformed, or the header does not
    /// begin with table,key,variant,comment. Rows shorter than the header get empty cells.
    static std::optional<LocalizationTable> fromCsvBytes(std::string_view bytes, const std::string& path,
                                                         const LocalizationCsvReading& dialect,
                                                         LocalizationProblem& problem);
};

} // namespace plistable
