#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plistable::detail {

/// The key of a plural dictionary's format string, and of a variable's rule and value type.
inline constexpr std::u16string_view formatKeyName = u"NSStringLocalizedFormatKey";
inline constexpr std::u16string_view specTypeKeyName = u"NSStringFormatSpecTypeKey";
inline constexpr std::u16string_view valueTypeKeyName = u"NSStringFormatValueTypeKey";
inline constexpr std::u16string_view pluralRuleName = u"NSStringPluralRuleType";

/// One entry of a plural dictionary (a .stringsdict file).
struct StringsDictEntry {
    std::string key;        ///< UTF-8
    PlistValue value;       ///< its dictionary: the format key and one dictionary per variable
    std::uint64_t line = 0; ///< 1-based line of its <key>, 0 when not found
};

/// Reads a plural dictionary: an XML (or binary) property list whose root is a dictionary. Nothing,
/// with `error` set ("line 3, column 7: ..."), otherwise; `errorLine` then names the line (0 if none).
std::optional<std::vector<StringsDictEntry>> readStringsDictFile(std::string_view bytes, std::string& error,
                                                                 std::uint64_t& errorLine);

/// The strings of one entry as table variants, in the entry's order: "" for the format string,
/// "VAR.type" for a variable's value type, "VAR.rule" for a rule other than the plural one,
/// "VAR.FORM" for each form ("VAR.one"), and a key's own name for any other string at the top.
std::vector<std::pair<std::string, std::string>> stringsDictVariants(const PlistValue& entry);

/// Sets the string of `variant` (as stringsDictVariants() names it) in `entry`, a dictionary,
/// adding what is missing: a new variable gets the plural rule first.
void setStringsDictVariant(PlistValue& entry, std::string_view variant, const std::string& value);

/// The XML property list of `root` in the layout Xcode writes: the XML declaration and document
/// type, tab indentation, a final line feed.
std::string writeStringsDictFile(const PlistValue::Dictionary& root);

} // namespace plistable::detail
