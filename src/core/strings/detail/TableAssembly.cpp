#include "core/strings/detail/TableAssembly.hpp"

#include "core/text/TextEncoding.hpp"

#include <algorithm>
#include <map>
#include <set>

namespace plistable::detail {

namespace {

// Rows in first-seen order, grouped by key, so that every language adds to the same rows and a
// variant only a later language has still stands with its key's other rows.
class RowCollector {
public:
    RowCollector(const LoadedTable& table, const std::vector<std::string>& languages)
        : _table(table.name), _languages(languages)
    {
    }

    // The row of (key, variant), added at the end when new.
    LocalizationRow& row(const std::string& key, const std::string& variant)
    {
        const auto [it, added] = _index.try_emplace({key, variant}, _rows.size());
        if (added) {
            _rows.push_back({_table, key, variant, "", std::vector<std::string>(_languages.size())});
            auto [rowsOfKey, newKey] = _rowsOfKey.try_emplace(key);
            if (newKey)
                _keys.push_back(key);
            rowsOfKey->second.push_back(it->second);
        }
        return _rows[it->second];
    }

    std::optional<std::size_t> column(const std::string& language) const
    {
        const auto it = std::find(_languages.begin(), _languages.end(), language);
        return it == _languages.end() ? std::nullopt : std::optional<std::size_t>(it - _languages.begin());
    }

    void appendTo(std::vector<LocalizationRow>& rows)
    {
        for (const std::string& key : _keys)
            for (const std::size_t index : _rowsOfKey[key])
                rows.push_back(std::move(_rows[index]));
    }

private:
    std::string _table;
    const std::vector<std::string>& _languages;
    std::vector<LocalizationRow> _rows;
    std::map<std::pair<std::string, std::string>, std::size_t> _index;
    std::vector<std::string> _keys;
    std::map<std::string, std::vector<std::size_t>> _rowsOfKey;
};

// The per-language parts of a table in column order (the base first), languages without a column left out.
template <class Part>
std::vector<const std::pair<std::string, Part>*> inColumnOrder(const std::vector<std::pair<std::string, Part>>& parts,
                                                                 const std::vector<std::string>& languages)
{
    std::vector<const std::pair<std::string, Part>*> ordered;
    for (const std::string& language : languages)
        for (const auto& part : parts)
            if (part.first == language)
                ordered.push_back(&part);
    return ordered;
}

} // namespace

std::vector<std::string> tableLanguages(const std::vector<LoadedTable>& tables, const std::string& base)
{
    std::set<std::string> all;
    std::string source;
    for (const LoadedTable& table : tables) {
        for (const auto& [language, entries] : table.strings)
            all.insert(language);
        for (const auto& [language, entries] : table.dicts)
            all.insert(language);
        if (!table.catalog)
            continue;
        const CatalogJson& catalog = *table.catalog;
        if (source.empty() && catalog.contains("sourceLanguage") && catalog["sourceLanguage"].is_string())
            source = catalog["sourceLanguage"].get<std::string>();
        if (catalog.contains("sourceLanguage") && catalog["sourceLanguage"].is_string())
            all.insert(catalog["sourceLanguage"].get<std::string>());
        if (catalog.contains("strings") && catalog["strings"].is_object())
            for (const CatalogJson& entry : catalog["strings"])
                if (entry.is_object() && entry.contains("localizations") && entry["localizations"].is_object())
                    for (auto it = entry["localizations"].begin(); it != entry["localizations"].end(); ++it)
                        all.insert(it.key());
    }
    std::string first = base;
    if (first.empty())
        first = !source.empty()   ? source
                : all.count("en") ? std::string("en")
                : all.count("Base") ? std::string("Base")
                : all.empty()     ? std::string()
                                  : *all.begin();
    std::vector<std::string> languages;
    if (!first.empty())
        languages.push_back(first);
    for (const std::string& language : all)
        if (language != first)
            languages.push_back(language);
    return languages;
}

void appendTableRows(const LoadedTable& table, const std::vector<std::string>& languages,
                     std::vector<LocalizationRow>& rows)
{
    {
        RowCollector strings(table, languages);
        for (const auto* part : inColumnOrder(table.strings, languages)) {
            const std::size_t column = *strings.column(part->first);
            for (const StringsEntry& entry : part->second) {
                LocalizationRow& row = strings.row(entry.key, "");
                row.values[column] = entry.value; // a repeated key: the later value counts, as when the file is loaded
                if (row.comment.empty())
                    row.comment = entry.comment;
            }
        }
        strings.appendTo(rows);
    }
    {
        RowCollector dicts(table, languages);
        for (const auto* part : inColumnOrder(table.dicts, languages)) {
            const std::size_t column = *dicts.column(part->first);
            for (const StringsDictEntry& entry : part->second)
                for (auto& [variant, value] : stringsDictVariants(entry.value))
                    dicts.row(entry.key, variant).values[column] = value;
        }
        dicts.appendTo(rows);
    }
    if (!table.catalog || !table.catalog->contains("strings") || !(*table.catalog)["strings"].is_object())
        return;
    const CatalogJson& catalog = *table.catalog;
    const std::string source = catalog.contains("sourceLanguage") && catalog["sourceLanguage"].is_string()
                                   ? catalog["sourceLanguage"].get<std::string>()
                                   : std::string();
    const CatalogJson& strings = catalog["strings"];
    for (auto it = strings.begin(); it != strings.end(); ++it) {
        RowCollector keyRows(table, languages);
        const CatalogJson& entry = it.value();
        const CatalogJson noLocalizations = CatalogJson::object();
        const CatalogJson& localizations =
            entry.is_object() && entry.contains("localizations") && entry["localizations"].is_object()
                ? entry["localizations"]
                : noLocalizations;
        for (const std::string& language : languages) {
            const std::size_t column = *keyRows.column(language);
            if (!localizations.contains(language)) {
                // Xcode shows the key itself where the source language has no unit.
                if (language == source)
                    keyRows.row(it.key(), "").values[column] = it.key();
                continue;
            }
            for (auto& [variant, value] : catalogVariants(localizations[language]))
                keyRows.row(it.key(), variant).values[column] = value;
        }
        std::vector<LocalizationRow> added;
        keyRows.appendTo(added);
        const std::string comment = entry.is_object() && entry.contains("comment") && entry["comment"].is_string()
                                        ? entry["comment"].get<std::string>()
                                        : std::string();
        for (LocalizationRow& row : added) {
            row.comment = comment;
            rows.push_back(std::move(row));
        }
    }
}

} // namespace plistable::detail
