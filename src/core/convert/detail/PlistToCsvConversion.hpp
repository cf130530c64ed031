#pragma once

#include "core/convert/ConversionReport.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"

#include <string>

namespace plistable {
class FileConverter;
}

namespace plistable::detail {

/// How the CSV text is written.
struct CsvWriteDialect {
    char16_t delimiter = u',';  ///< between two fields
    bool crlf = false;          ///< lines end in CRLF instead of LF
    bool byteOrderMark = false; ///< the file begins with the UTF-8 byte-order mark
};

/// Converts the property list at `path` into the CSV file at `outputPath` in one streaming pass,
/// feeding the list's XML events to the key-list pass of `keyListPass` on the way (see FileConverter).
/// The output is replaced only when the whole list was read and written. With `bytes` these are
/// read instead of the file (`path` then only names the source). `monitor` (when given) hears of
/// the bytes read and stops the conversion, which then writes nothing and reports Cancelled.
ConversionReport convertPlistToCsv(const std::string& path, const std::string& outputPath, bool header,
                                   FileConverter& keyListPass, const std::string* bytes = nullptr,
                                   CsvWriteDialect dialect = {}, ConversionMonitor* monitor = nullptr);

} // namespace plistable::detail
