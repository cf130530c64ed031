#pragma once

#include "core/plist/PlistValue.hpp"

#include <optional>
#include <string_view>

namespace plistable::detail {

/// The typed value a CSV field stands for, or nothing when it stays a string: exactly a decimal
/// integer (`-?[0-9]+`, no leading zero but "0" itself, within the signed 64-bit range) is an
/// integer; a decimal real (`-?[0-9]+\.[0-9]+`, an exponent `[eE][-+]?[0-9]+` optional, or digits
/// with an exponent alone) is a real when the double nearest to it, written in shortest round-trip
/// form, is the same number (so `1.5`, `0.1`, `1e3`; not `1.00000000000000000001`, which would be
/// written `1`); "true" / "false" are booleans.
std::optional<PlistValue> typedFieldValue(std::u16string_view field);

/// `field` as a value: typed as typedFieldValue() says when `types`, a string otherwise.
PlistValue fieldValue(const Text& field, bool types);

/// The shortest text that reads back as exactly `value` ("1.5", "1e+100").
std::string shortestRealText(double value);

} // namespace plistable::detail
