#pragma once

#include <optional>
#include <string>

namespace plistable::cli {

/// The delimiter a -d argument names: "comma", "semicolon", "tab", "pipe" or one character (a BMP
/// character in UTF-8, not a double quote or line break); nothing otherwise.
std::optional<char16_t> delimiterNamed(const std::string& name);

} // namespace plistable::cli
