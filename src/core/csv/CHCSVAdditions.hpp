#pragma once

#include "core/csv/CHCSVError.hpp"
#include "core/plist/PlistValue.hpp"
#include "core/text/TextEncoding.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One-call operations: read a whole CSV file or text into rows, and turn rows into CSV text.

namespace plistable {

/// Option bits of the one-call reading operations; other bits are ignored.
inline constexpr std::uint64_t CHCSVAdditionsRecognizesBackslashesAsEscapes = 1; ///< recognizesBackslashesAsEscapes
inline constexpr std::uint64_t CHCSVAdditionsSanitizesFields = 2;                ///< sanitizesFields
inline constexpr std::uint64_t CHCSVAdditionsRecognizesComments = 4;             ///< recognizesComments

/// Reads the CSV file at `csvFilePath` (encoding sniffed, comma delimiter) into rows of fields with
/// the given option bits. Returns nothing when the reader fails (no partial rows); the failure is
/// then stored in `*error` when `error` is given. An absent path throws AssertionFailure.
std::optional<std::vector<std::vector<Text>>> arrayWithContentsOfCSVFile(const std::optional<std::string>& csvFilePath,
                                                                         std::uint64_t options = 0,
                                                                         CHCSVError* error = nullptr);

/// Reads `text` as CSV (comma delimiter, no options) into rows of fields; nothing after a failure.
std::optional<std::vector<std::vector<Text>>> CSVComponents(const Text& text);

/// Reads `text` as CSV (comma delimiter) into rows of fields with the given option bits. Returns
/// nothing when the reader fails (no partial rows); the failure goes to `*error` when given.
std::optional<std::vector<std::vector<Text>>> CSVComponentsWithOptions(const Text& text, std::uint64_t options,
                                                                       CHCSVError* error = nullptr);

/// The CSV text of `rows`, written as UTF-8 with a comma delimiter: one line per element that is a
/// collection (an array gives its elements, a dictionary its keys; other values by their
/// description()), each ending with a line feed. Elements that are no collection are skipped.
/// A field holding text that is not valid Unicode (a lone surrogate) comes out empty.
Text CSVString(const PlistValue::Array& rows);

} // namespace plistable
