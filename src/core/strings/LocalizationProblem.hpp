#pragma once

#include <cstdint>
#include <string>

namespace plistable {

/// A fault found in a localization file or table: where it is and what it is.
struct LocalizationProblem {
    std::string path;       ///< the file it concerns (as it was named to the reader)
    std::uint64_t line = 0; ///< 1-based line in that file; 0 when the fault is not about a line
    std::string message;    ///< English (UTF-8), without the position

    /// "PATH:LINE: message", or "PATH: message" without a line.
    std::string description() const;

    friend bool operator==(const LocalizationProblem&, const LocalizationProblem&) = default;
};

} // namespace plistable
