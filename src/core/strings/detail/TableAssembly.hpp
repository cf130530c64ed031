#pragma once

#include "core/strings/LocalizationTable.hpp"
#include "core/strings/detail/StringCatalog.hpp"
#include "core/strings/detail/StringsDictFile.hpp"
#include "core/strings/detail/StringsFile.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plistable::detail {

/// The contents of one table's files, read: what the rows of a localization table are made of.
struct LoadedTable {
    std::string name; ///< the table column's value
    std::vector<std::pair<std::string, std::vector<StringsEntry>>> strings; ///< per language, file order
    std::vector<std::pair<std::string, std::vector<StringsDictEntry>>> dicts; ///< per language, file order
    std::optional<CatalogJson> catalog;
};

/// The language columns of `tables`: `base` when given, else the first catalog's source language,
/// else "en" when present, else "Base", else the first in sorted order; then the rest sorted.
std::vector<std::string> tableLanguages(const std::vector<LoadedTable>& tables, const std::string& base);

/// Appends the rows of `table` for the columns `languages` (the base first): its strings files'
/// entries, then its plural dictionaries' strings, then its catalog's. Keys follow the base
/// language's file, then come those only other languages have, in their order; a key's variants
/// likewise. A strings entry's comment is the base file's, else the first language's that has one;
/// a catalog key's comment is its "comment". A catalog key without a unit in its source language
/// has the key itself in that language's plain cell.
void appendTableRows(const LoadedTable& table, const std::vector<std::string>& languages,
                     std::vector<LocalizationRow>& rows);

} // namespace plistable::detail
