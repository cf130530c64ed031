#pragma once

#include <string_view>

namespace plistable::settings {

/// The stored setting that makes the first CSV line a header: records become dictionaries keyed by
/// its names, and property-list dictionaries write their keys as a first line.
inline constexpr std::string_view headerKey = "header";
/// Its value until the user stores one.
inline constexpr bool headerDefault = false;

} // namespace plistable::settings
