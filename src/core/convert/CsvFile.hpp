#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace plistable {

/// How readCsvFile() reads a file and how writeCsvFile() writes one.
struct CsvFileOptions {
    std::string delimiter = ",";  ///< field delimiter; not empty, no '"' and no line-break character
    std::string encoding = {};    ///< an encoding name such as "cp932"; empty: detect by trial decoding
    bool header = false;          ///< the first line holds the column names (reading only)
    std::vector<std::string> columnNames = {}; ///< writing: a header line of these names before the rows (none when empty)
};

/// Why a CSV file could not be read or written completely.
struct CsvFileError {
    std::size_t line = 0;  ///< 1-based line where reading stopped; 0 when the failure is not about a line
    std::string reason;    ///< what went wrong, in a few words ("unexpected double quote")
};

/// What readCsvFile() read: the rows, in UTF-8; when it stopped early, the rows up to the place where it
/// stopped (the last one cut short there, an unclosed quoted field left empty).
struct CsvFileResult {
    std::vector<std::string> header;             ///< the column names, when options.header
    std::vector<std::vector<std::string>> rows;  ///< every record (after the header), in file order
    std::string encoding;                        ///< the encoding the file was read in, when it was decoded
    std::optional<CsvFileError> error;           ///< set when the file was not read to its end

    /// True when the whole file was read.
    explicit operator bool() const { return !error; }
};

/// Reads a whole CSV file: fields separated by the delimiter, quoted with '"' ('""' inside stands for
/// one), records separated by line breaks (runs of them count as one; a leading byte-order mark is
/// dropped). Never throws on data: a file that cannot be read or decoded, an unknown encoding name, a
/// bad delimiter or malformed CSV give `error`, with the rows read before a malformed line kept.
/// UTF-8 whose last character the end of the file cuts off gives every row, that character as U+FFFD,
/// and `error` naming its byte offset.
CsvFileResult readCsvFile(const std::string& path, const CsvFileOptions& options = {});

/// Writes `rows`, after a header line of `options.columnNames` when there are any, as UTF-8 CSV with
/// LF line ends, quoting a field only when it holds the delimiter, a double quote or a line break. The file is replaced only by a complete new one; on failure (a folder
/// that cannot be written, a delimiter that is not one character) the old file stays and the error
/// says why. Fields are taken as UTF-8; an invalid sequence is written as U+FFFD.
std::optional<CsvFileError> writeCsvFile(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                                         const CsvFileOptions& options = {});

} // namespace plistable
