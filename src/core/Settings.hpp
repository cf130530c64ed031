#pragma once

#include <string_view>

namespace plistable::settings {

/// The stored setting that makes the first CSV line a header: records become dictionaries keyed by
/// its names, and property-list dictionaries write their keys as a first line.
inline constexpr std::string_view headerKey = "header";
/// Its value until the user stores one.
inline constexpr bool headerDefault = false;

// The desktop window's options, each under its own key beside "header". They apply to the window's
// conversions; the command line takes them as flags instead, so what it writes never depends on what
// was chosen in the window. A key with no stored value means what is written without the option.

/// true: CSV files written begin with a byte-order mark and end their lines in CRLF, as Excel reads them.
inline constexpr std::string_view excelKey = "excel";
/// true: CSV fields that are numbers, "true" or "false" become typed property-list values.
inline constexpr std::string_view typesKey = "types";
/// true: the columns of a CSV file written are every key of every dictionary.
inline constexpr std::string_view allKeysKey = "allKeys";
/// true: a folder dropped on the window converts the files in its subfolders too.
inline constexpr std::string_view includeSubfoldersKey = "includeSubfolders";
/// Text: the encoding of the CSV files written, a converter name or alias ("cp932"); absent: UTF-8.
inline constexpr std::string_view outputEncodingKey = "outputEncoding";
/// Text: the one character between the fields of the CSV files read; absent: ",".
inline constexpr std::string_view delimiterInKey = "delimiterIn";
/// Text: the one character between the fields of the CSV files written; absent: ",".
inline constexpr std::string_view delimiterOutKey = "delimiterOut";
/// Text: the form of the document a CSV file becomes: "xml", "binary" or "json"; absent: "xml".
inline constexpr std::string_view outputFormKey = "outputForm";

} // namespace plistable::settings
