#pragma once

#include "core/convert/ConversionOptions.hpp"
#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/plist/PlistPointer.hpp"

#include <optional>
#include <string>

namespace plistable {
class FileConverter;
}

namespace plistable::detail {

/// The data-shape options of one property list conversion (see ConversionOptions).
struct PlistToCsvShape {
    bool allKeys = false;                  ///< the columns are every key of every dictionary
    std::optional<std::string> keyColumn;  ///< a root dictionary's key column name, instead of "key"
    std::optional<PlistPointer> selection; ///< the table is the value here instead of the root
};

/// Converts the property list at `path` into the CSV file at `outputPath` in one streaming pass,
/// feeding the list's XML events to the key-list pass of `keyListPass` on the way (see FileConverter).
/// The output is replaced only when the whole list was read and written: a character the output
/// encoding cannot hold fails the file, naming its line. With `bytes` these are read instead of the
/// file (`path` then only names the source). A root dictionary gives a line per entry: its key, then
/// its value's fields (a dictionary's in the key order of the first dictionary value, an array's
/// elements, or the value itself). `monitor` (when given) hears of the bytes read and stops the
/// conversion, which then writes nothing and reports Cancelled.
ConversionReport convertPlistToCsv(const std::string& path, const std::string& outputPath, bool header,
                                   FileConverter& keyListPass, const std::string* bytes = nullptr,
                                   const CsvWriteDialect& dialect = {}, const PlistToCsvShape& shape = {},
                                   ConversionMonitor* monitor = nullptr);

} // namespace plistable::detail
