#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"

#include <optional>
#include <string>

namespace plistable::detail {

/// How the fields of a CSV file are told apart.
struct CsvReadDialect {
    char16_t delimiter = u',';  ///< between two fields
    bool separatorLine = false; ///< a first line "sep=C" (C one character) sets the delimiter and is no record
};

/// Converts the CSV file at `path` into the XML property list at `outputPath`: decodes it in
/// `encodingName` (or the detected encoding when none), drops a leading byte-order mark, parses with
/// "," (the first line naming the keys when `header`), streams the document into a temporary file and
/// renames it over the target. A file that cannot be read or decoded writes nothing. With `bytes`
/// these are converted instead of the file's contents (`path` then only names the source). `dialect`
/// replaces the "," delimiter. `monitor` (when given) hears of the progress through the parse and
/// stops the conversion, which then writes nothing and reports Cancelled.
ConversionReport convertCsvToPlist(const std::string& path, const std::string& outputPath, bool header,
                                   const std::optional<std::string>& encodingName, std::string* bytes = nullptr,
                                   CsvReadDialect dialect = {}, ConversionMonitor* monitor = nullptr);

} // namespace plistable::detail
