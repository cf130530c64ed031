#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"

#include <optional>
#include <string>

namespace plistable::detail {

/// The data-shape options of one CSV conversion (see ConversionOptions); all off is the plain document.
struct CsvToPlistShape {
    bool types = false;
    std::optional<std::string> keyedColumn;
    bool dedupeKeys = false;
    OutputFormat format = OutputFormat::Xml;
    bool utf16 = false; ///< old-style and strings-file forms: UTF-16LE with a byte-order mark

    bool plain() const { return !types && !keyedColumn && !dedupeKeys && format == OutputFormat::Xml; }
};

/// The header names made unique: a later repeat of "a" becomes "a_2", "a_3", ... (skipping names
/// already taken), an empty name "column_N" (N its 1-based position).
std::vector<Text> dedupedNames(const std::vector<Text>& names);

/// Converts the CSV file at `path` into the XML property list at `outputPath`: decodes it in the
/// dialect's encoding (or the detected encoding when none), drops a leading byte-order mark, parses with
/// the dialect's delimiter (the first line naming the keys when `header`), streams the document into a
/// temporary file and renames it over the target. A file that cannot be read or decoded writes nothing.
/// With `bytes` these are converted instead of the file's contents (`path` then only names the source).
/// `shape` chooses typed values, a keyed root and the output form.
/// `monitor` (when given) hears of the progress through the parse and stops the conversion, which
/// then writes nothing and reports Cancelled.
ConversionReport convertCsvToPlist(const std::string& path, const std::string& outputPath, bool header,
                                   std::string* bytes = nullptr, const CsvReadDialect& dialect = {},
                                   const CsvToPlistShape& shape = {},
                                   ConversionMonitor* monitor = nullptr);

} // namespace plistable::detail
