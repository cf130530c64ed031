#pragma once

#include "core/convert/ConversionOptions.hpp"
#include "core/plist/PlistValue.hpp"

#include <optional>
#include <string>
#include <vector>

namespace plistable {

/// How writePlistFile() and plistText() turn rows of fields into a property list.
struct PlistFileOptions {
    OutputFormat format = OutputFormat::Xml;  ///< XML, binary or JSON
    /// Column names: each row becomes a dictionary from these names to its fields, in this order (a
    /// missing field is an empty string; a repeated name holds the value of its last column). Empty:
    /// each row is an array of its fields.
    std::vector<std::string> header = {};
    /// Fields that are exactly decimal integers, decimal reals, "true" or "false" become integers,
    /// reals and booleans instead of strings.
    bool types = false;
};

/// Why a property list could not be made or written.
struct PlistFileError {
    std::string reason;  ///< what went wrong, in a few words ("cannot write: Permission denied")
};

/// The document plistText() made, or why it could not be made.
struct PlistTextResult {
    std::string bytes;                   ///< the whole document: UTF-8 text for XML and JSON
    std::optional<PlistFileError> error; ///< set when no document was made (then `bytes` is empty)

    /// True when the document was made.
    explicit operator bool() const { return !error; }
};

/// The property list `rows` (UTF-8 fields) make with `options`: an array with one array (or, with a
/// header, one dictionary) per row, exactly as `convert` makes it of a CSV file read into these rows.
/// An invalid UTF-8 sequence becomes U+FFFD.
PlistValue plistValue(const std::vector<std::vector<std::string>>& rows, const PlistFileOptions& options = {});

/// Writes `value`, whose root is an array or a dictionary, as a property list in `format`: XML (tab
/// indents, LF line ends, as `convert` writes), binary ("bplist00") or JSON (dates and data as the
/// strings of their description()). The file is replaced only by a complete new one. Returns why not
/// when it is not: another root, a folder that cannot be written, or (XML) a character XML cannot
/// hold, which is written as U+FFFD and named here while the file is still written.
std::optional<PlistFileError> writePlistFile(const PlistValue& value, const std::string& path,
                                             OutputFormat format = OutputFormat::Xml);

/// Writes the property list of `rows` (see plistValue()) to `path`, as writePlistFile() above.
std::optional<PlistFileError> writePlistFile(const std::vector<std::vector<std::string>>& rows,
                                             const std::string& path, const PlistFileOptions& options = {});

/// The document writePlistFile() would write for `value`, in memory.
PlistTextResult plistText(const PlistValue& value, OutputFormat format = OutputFormat::Xml);

/// The document writePlistFile() would write for `rows`, in memory.
PlistTextResult plistText(const std::vector<std::vector<std::string>>& rows, const PlistFileOptions& options = {});

} // namespace plistable
