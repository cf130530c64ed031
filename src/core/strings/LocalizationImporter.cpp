#include "core/strings/LocalizationImporter.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/strings/detail/StringCatalog.hpp"
#include "core/strings/detail/StringsDictFile.hpp"
#include "core/strings/detail/StringsFile.hpp"
#include "core/text/TextEncoding.hpp"

#include <filesystem>
#include <map>
#include <set>

namespace plistable {

using namespace detail;
namespace fs = std::filesystem;

namespace {

// A path part that cannot lead out of the output folder: no "..", ".", separator or NUL.
bool safeName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
           && name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// What a strings file means: each key's value and comment (the later of a repeated key), whatever
// the order of its entries.
std::map<std::string, std::pair<std::string, std::string>> contentsOf(const std::vector<StringsEntry>& entries)
{
    std::map<std::string, std::pair<std::string, std::string>> contents;
    for (const StringsEntry& entry : entries)
        contents[entry.key] = {entry.value, entry.comment};
    return contents;
}

// The rows of one table, in table order, and where its files go.
struct TableRows {
    std::string folder; // FOLDER of FOLDER/NAME, "" for none
    std::string name;   // NAME
    std::vector<const LocalizationRow*> rows;
};

class ImportRun {
public:
    ImportRun(const LocalizationImportOptions& options, const LocalizationTable& table, const std::string& tablePath)
        : _options(options), _table(table), _tablePath(tablePath)
    {
    }

    LocalizationImportReport run()
    {
        for (const std::string& language : _table.languages)
            if (!safeName(language))
                _report.problems.push_back({_tablePath, 0, "the language \"" + language + "\" is no folder name; its column is not written"});
        std::vector<TableRows> tables;
        std::map<std::string, std::size_t> indexOfTable;
        for (const LocalizationRow& row : _table.rows) {
            auto [it, added] = indexOfTable.try_emplace(row.table, tables.size());
            if (added) {
                const std::size_t slash = row.table.rfind('/');
                TableRows rows;
                rows.folder = slash == std::string::npos ? std::string() : row.table.substr(0, slash);
                rows.name = slash == std::string::npos ? row.table : row.table.substr(slash + 1);
                tables.push_back(std::move(rows));
            }
            tables[it->second].rows.push_back(&row);
        }
        for (const TableRows& rows : tables) {
            bool safe = safeName(rows.name);
            for (std::size_t start = 0; safe && !rows.folder.empty() && start <= rows.folder.size();) {
                const std::size_t slash = std::min(rows.folder.find('/', start), rows.folder.size());
                safe = safeName(std::string_view(rows.folder).substr(start, slash - start));
                start = slash + 1;
            }
            if (!safe) {
                _report.problems.push_back({_tablePath, 0, "the table name \"" + rows.rows.front()->table
                                                               + "\" would leave the output folder; its rows are not written"});
                continue;
            }
            const fs::path folder = fs::path(_options.outputFolder) / rows.folder;
            const fs::path catalog = folder / (rows.name + ".xcstrings");
            std::error_code error;
            if (_options.toCatalog || fs::exists(catalog, error))
                importCatalog(rows, catalog);
            else
                importFiles(rows, folder);
        }
        for (std::size_t i = 0; i < _table.languages.size(); ++i)
            if (_missing[i] > 0)
                _report.notes.push_back(_table.languages[i] + ": " + std::to_string(_missing[i])
                                        + (_missing[i] == 1 ? " key has" : " keys have") + " no translation");
        return std::move(_report);
    }

private:
    // The existing file at `path`: its bytes, or nothing when there is none. A file that exists but
    // cannot be read is a problem, and `unreadable` is set.
    std::optional<std::string> existing(const fs::path& path, bool& unreadable)
    {
        unreadable = false;
        std::error_code error;
        if (!fs::exists(path, error))
            return std::nullopt;
        FileContents contents = readFileContents(path.string());
        if (contents.error) {
            _report.problems.push_back({path.string(), 0, "cannot be read, not replaced: " + contents.error.message()});
            unreadable = true;
            return std::nullopt;
        }
        return std::move(contents.bytes);
    }

    // Replaces (or creates) `path` with `bytes`, unless it holds them already (`unchanged`).
    void commit(const fs::path& path, const std::string& bytes, bool exists, bool unchanged)
    {
        if (exists && _options.noClobber) {
            _report.problems.push_back({path.string(), 0, "exists, not replaced"});
            return;
        }
        if (unchanged) {
            _report.unchanged.push_back(path.string());
            return;
        }
        std::error_code error;
        fs::create_directories(path.parent_path(), error);
        if (error) {
            _report.problems.push_back({path.string(), 0, "cannot make its folder: " + error.message()});
            return;
        }
        // With no-clobber the file goes into place only where nothing is, decided as it is moved there.
        AtomicFile file(path.string(), _options.noClobber ? ExistingTarget::Keep : ExistingTarget::Replace);
        file.write(bytes);
        if (const std::error_code failure = file.commit())
            _report.problems.push_back({path.string(), 0,
                                        failure == std::errc::file_exists ? std::string("exists, not replaced")
                                                                          : "cannot be written: " + failure.message()});
        else
            _report.written.push_back(path.string());
    }

    bool usableColumn(std::size_t column) const { return safeName(_table.languages[column]); }

    void importFiles(const TableRows& rows, const fs::path& folder)
    {
        // Keys with variant rows go to the plural dictionary; their plain row is its format string,
        // unless the key has two plain rows: then the first is a strings entry (a key in both files).
        std::map<std::string, int> plainRows;
        std::set<std::string> dictKeys;
        for (const LocalizationRow* row : rows.rows) {
            if (row->variant.empty())
                ++plainRows[row->key];
            else
                dictKeys.insert(row->key);
        }
        std::vector<const LocalizationRow*> stringsRows;
        std::vector<std::string> dictOrder;
        std::map<std::string, std::vector<const LocalizationRow*>> dictRows;
        std::map<std::string, int> plainSeen;
        for (const LocalizationRow* row : rows.rows) {
            const bool dict = dictKeys.count(row->key) > 0
                              && !(row->variant.empty() && plainRows[row->key] > 1 && plainSeen[row->key]++ == 0);
            if (!dict) {
                stringsRows.push_back(row);
                continue;
            }
            auto& list = dictRows[row->key];
            if (list.empty())
                dictOrder.push_back(row->key);
            list.push_back(row);
        }
        for (std::size_t column = 0; column < _table.languages.size(); ++column) {
            if (!usableColumn(column))
                continue;
            const fs::path lproj = folder / (_table.languages[column] + ".lproj");
            std::vector<StringsEntry> entries;
            for (const LocalizationRow* row : stringsRows) {
                if (column < row->values.size() && !row->values[column].empty())
                    entries.push_back({row->key, row->values[column], row->comment, 0});
                else
                    ++_missing[column];
            }
            if (!entries.empty())
                writeStrings(lproj / (rows.name + ".strings"), entries);
            std::vector<std::pair<std::string, const std::vector<const LocalizationRow*>*>> keys;
            for (const std::string& key : dictOrder)
                keys.emplace_back(key, &dictRows[key]);
            writeDict(lproj / (rows.name + ".stringsdict"), keys, column);
        }
    }

    void writeStrings(const fs::path& path, const std::vector<StringsEntry>& entries)
    {
        bool unreadable = false;
        const std::optional<std::string> old = existing(path, unreadable);
        if (unreadable)
            return;
        StringsLayout layout;
        StringsEncoding encoding;
        bool unchanged = false;
        if (old) {
            OpenStepError error;
            const std::optional<StringsFile> file = readStringsFile(*old, error);
            if (!file) {
                _report.problems.push_back({path.string(), error.line, error.message + "; not replaced"});
                return;
            }
            layout = file->layout;
            encoding = file->encoding;
            unchanged = contentsOf(file->entries) == contentsOf(entries);
        }
        switch (_options.stringsEncoding) {
        case StringsFileEncoding::AsFound: break;
        case StringsFileEncoding::Utf8: encoding = {false, false, false}; break;
        case StringsFileEncoding::Utf16LittleEndian: encoding = {true, false, true}; break;
        case StringsFileEncoding::Utf16BigEndian: encoding = {true, true, true}; break;
        }
        const std::string bytes = writeStringsFile(entries, layout, encoding);
        // The same strings and comments in the same encoding: the file stays as it is, whatever its
        // layout and order (which mean nothing to the app).
        commit(path, bytes, old.has_value(),
               unchanged && (_options.stringsEncoding == StringsFileEncoding::AsFound || bytes == *old));
    }

    void writeDict(const fs::path& path,
                   const std::vector<std::pair<std::string, const std::vector<const LocalizationRow*>*>>& keys,
                   std::size_t column)
    {
        if (keys.empty())
            return;
        bool unreadable = false;
        const std::optional<std::string> old = existing(path, unreadable);
        if (unreadable)
            return;
        std::vector<StringsDictEntry> before;
        if (old) {
            std::string error;
            std::uint64_t line = 0;
            auto read = readStringsDictFile(*old, error, line);
            if (!read) {
                _report.problems.push_back({path.string(), line, error + "; not replaced"});
                return;
            }
            before = std::move(*read);
        }
        PlistValue::Dictionary root;
        for (const auto& [key, rows] : keys) {
            PlistValue entry{PlistValue::Dictionary{}};
            for (const StringsDictEntry& old : before)
                if (old.key == key)
                    entry = old.value;
            bool any = false;
            for (const LocalizationRow* row : *rows) {
                if (column < row->values.size() && !row->values[column].empty()) {
                    setStringsDictVariant(entry, row->variant, row->values[column]);
                    any = true;
                }
            }
            if (any)
                root.emplace_back(fromUtf8Lossy(key), std::move(entry));
            else
                ++_missing[column];
        }
        if (root.empty())
            return;
        PlistValue::Dictionary previous;
        for (const StringsDictEntry& old : before)
            previous.emplace_back(fromUtf8Lossy(old.key), old.value);
        commit(path, writeStringsDictFile(root), old.has_value(), old && previous == root);
    }

    void importCatalog(const TableRows& rows, const fs::path& path)
    {
        bool unreadable = false;
        const std::optional<std::string> old = existing(path, unreadable);
        if (unreadable)
            return;
        CatalogJson catalog;
        if (old) {
            std::string error;
            std::uint64_t line = 0;
            std::optional<CatalogJson> read = readCatalog(*old, error, line);
            if (!read) {
                _report.problems.push_back({path.string(), line, error + "; not replaced"});
                return;
            }
            catalog = std::move(*read);
        } else {
            catalog = CatalogJson::object();
            catalog["sourceLanguage"] = _table.languages.empty() ? std::string("en") : _table.languages.front();
            catalog["strings"] = CatalogJson::object();
            catalog["version"] = "1.0";
        }
        const CatalogJson original = catalog;
        const std::string source = catalog.contains("sourceLanguage") && catalog["sourceLanguage"].is_string()
                                       ? catalog["sourceLanguage"].get<std::string>()
                                       : std::string();
        CatalogStrings strings(catalogMember(catalog, "strings"));
        std::set<std::pair<std::string, std::size_t>> present; // (key, column) with a cell
        std::vector<std::string> keys;
        for (const LocalizationRow* row : rows.rows) {
            bool added = false;
            CatalogJson& entry = strings.entry(row->key, added);
            if (added) // a key Xcode did not extract from the code is one added by hand
                entry["extractionState"] = "manual";
            if (keys.empty() || keys.back() != row->key)
                keys.push_back(row->key);
            if (!row->comment.empty() && !(entry.contains("comment") && entry["comment"] == row->comment))
                catalogMember(entry, "comment") = row->comment;
            for (std::size_t column = 0; column < _table.languages.size() && column < row->values.size(); ++column) {
                const std::string& value = row->values[column];
                const std::string& language = _table.languages[column];
                if (value.empty())
                    continue;
                present.insert({row->key, column});
                const bool hasLocalization = entry.contains("localizations") && entry["localizations"].contains(language);
                // The key itself where the source language has no unit is Xcode's display, not a unit.
                if (language == source && row->variant.empty() && value == row->key && !hasLocalization)
                    continue;
                CatalogJson& localization = catalogMember(catalogMember(entry, "localizations"), language);
                bool invalid = false;
                setCatalogVariant(localization, row->variant, value, invalid);
                if (invalid)
                    _report.problems.push_back({_tablePath, 0, "the variant \"" + row->variant + "\" of \"" + row->key
                                                                   + "\" names no place in a catalog"});
            }
        }
        strings.finish();
        std::set<std::string> counted;
        for (const std::string& key : keys) {
            if (!counted.insert(key).second)
                continue;
            for (std::size_t column = 0; column < _table.languages.size(); ++column)
                if (!present.count({key, column}))
                    ++_missing[column];
        }
        const bool escapeSlashes = old && old->find("\\/") != std::string::npos;
        commit(path, writeCatalog(catalog, escapeSlashes), old.has_value(), old && catalog == original);
    }

    const LocalizationImportOptions& _options;
    const LocalizationTable& _table;
    const std::string& _tablePath;
    LocalizationImportReport _report;
    std::map<std::size_t, std::size_t> _missing; // per column: keys without a cell
};

} // namespace

LocalizationImporter::LocalizationImporter(LocalizationImportOptions options) : _options(std::move(options)) {}

LocalizationImportReport LocalizationImporter::importTable(const LocalizationTable& table, const std::string& tablePath) const
{
    return ImportRun(_options, table, tablePath).run();
}

} // namespace plistable
