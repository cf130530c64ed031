#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plistable::detail {

/// A string catalog (.xcstrings) as read: objects keep the order of their keys.
using CatalogJson = nlohmann::ordered_json;

/// Parses the bytes of a string catalog. Nothing, with `error` and its 1-based `line`, when they are
/// no JSON object.
std::optional<CatalogJson> readCatalog(std::string_view bytes, std::string& error, std::uint64_t& line);

/// The text of `catalog` in Xcode's layout: two-space indentation, `"key" : value`, an empty object
/// as "{", an empty line and "}", no final line feed. With `escapeSlashes` a '/' is written "\/".
std::string writeCatalog(const CatalogJson& catalog, bool escapeSlashes = false);

/// The order Xcode gives the keys of `strings`: letter case ignored, digit runs compared by value
/// ("X2" before "x16"); keys equal that way in code-point order.
bool catalogKeyLess(std::string_view a, std::string_view b);

/// The member `key` of `object` (an object), added as an empty object when missing: among the keys
/// of `strings` (`stringsOrder`) at its place by catalogKeyLess(), elsewhere in code-point order.
CatalogJson& catalogMember(CatalogJson& object, const std::string& key, bool stringsOrder = false);

/// The `strings` object of a catalog with its keys looked up by hash, for an import's many look-ups:
/// keys added are kept aside and merged in at their places by catalogKeyLess() in one pass by
/// finish(), each before the first existing key that follows it.
class CatalogStrings {
public:
    /// Works on `strings` (an object), which must outlive it and not change but through it.
    explicit CatalogStrings(CatalogJson& strings);

    /// The entry of `key`, added as an empty object (`added` set) when missing.
    CatalogJson& entry(const std::string& key, bool& added);

    /// Merges the keys added into `strings`; afterwards entry() must not be called.
    void finish();

private:
    CatalogJson& _strings;
    std::unordered_map<std::string, CatalogJson*> _index;
    std::deque<std::pair<std::string, CatalogJson>> _added; // a deque: entries stay where they are
};

/// The strings of one localization (or variation case) as table variants, in file order: "" for
/// its own string unit, "plural.one", "device.mac.plural.other" for variations,
/// "substitutions.VAR.argNum", ".formatSpecifier" and "substitutions.VAR.plural.one" for
/// substitutions. Numbers are given as text.
std::vector<std::pair<std::string, std::string>> catalogVariants(const CatalogJson& localization);

/// Sets the value of `variant` (as catalogVariants() names it) in `localization`, adding what is
/// missing. A string unit whose value changes gets the state "translated"; "argNum" is written as
/// a number when it is one. False when nothing changed or the variant names no place
/// (`invalid` is then set).
bool setCatalogVariant(CatalogJson& localization, std::string_view variant, const std::string& value,
                       bool& invalid);

} // namespace plistable::detail
