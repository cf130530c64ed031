#pragma once

#include "core/strings/LocalizationProblem.hpp"
#include "core/strings/LocalizationTable.hpp"

#include <string>
#include <vector>

namespace plistable {

/// The encoding of the strings files an import writes.
enum class StringsFileEncoding {
    AsFound,           ///< that of the file being replaced; UTF-8 for a new file
    Utf8,              ///< UTF-8 without a byte-order mark
    Utf16LittleEndian, ///< UTF-16LE with a byte-order mark
    Utf16BigEndian,    ///< UTF-16BE with a byte-order mark
};

/// Where and how LocalizationImporter writes.
struct LocalizationImportOptions {
    std::string outputFolder = ".";  ///< DIR: a table FOLDER/NAME goes to DIR/FOLDER
    StringsFileEncoding stringsEncoding = StringsFileEncoding::AsFound;
    bool noClobber = false; ///< an existing file is left alone and fails ("exists, not replaced")
    bool toCatalog = false; ///< every table goes into a catalog NAME.xcstrings, also where none exists yet
};

/// What an import did.
struct LocalizationImportReport {
    std::vector<std::string> written;   ///< files created or replaced, in the order written
    std::vector<std::string> unchanged; ///< existing files that already held what the table has (not rewritten)
    std::vector<std::string> notes;     ///< "ja: 3 keys have no translation"
    std::vector<LocalizationProblem> problems; ///< files not written, rows not used

    /// True when every file was written (or was already as the table has it).
    bool complete() const { return problems.empty(); }
};

/// Writes a localization table back into an app's files. Per table and language:
/// DIR/LANG.lproj/NAME.strings in the layout of Xcode's string extraction (the comment column as
/// "/* comment */", then `"key" = "value";`, then an empty line; a replaced file keeps its
/// encoding, head, tail and spacing), DIR/LANG.lproj/NAME.stringsdict for keys with plural rows;
/// or, when DIR holds NAME.xcstrings (or toCatalog), that catalog only: changed values updated
/// (state "translated"), new keys added, everything else kept, in Xcode's layout. An empty cell
/// is no translation: left out (a catalog keeps what it had) and counted in a note. Every file is
/// replaced atomically; one whose contents would not change is not rewritten. Never throws on bad
/// data: a table name or language that would leave DIR, or a variant that names no place, is a problem.
class LocalizationImporter {
public:
    explicit LocalizationImporter(LocalizationImportOptions options);

    /// Writes the files of `table`; `tablePath` names the table in problems.
    LocalizationImportReport importTable(const LocalizationTable& table, const std::string& tablePath) const;

private:
    LocalizationImportOptions _options;
};

} // namespace plistable
