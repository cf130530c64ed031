#pragma once

#include "core/plist/PlistPointer.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace plistable {

/// The two kinds of file the converter reads.
enum class InputKind {
    Csv,          ///< a CSV file, converted into a property list
    PropertyList, ///< a property list, converted into a CSV file
};

/// The form of the document a CSV file becomes.
enum class OutputFormat {
    Xml,    ///< an XML property list (".plist")
    Binary, ///< a binary property list, "bplist00" (".plist")
    Json,   ///< a JSON document (".json")
    OpenStep, ///< an old-style text property list (".plist")
    Strings,  ///< a strings file of a two-column table, `"key" = "value";` per record (".strings")
};

// The options come in one small struct per concern, so that a new option has one obvious home.
// Every field has a default: `ConversionOptions{.shape = {.header = true}}` leaves the rest as they are.

/// How the CSV files read are decoded and split into fields.
struct CsvReadDialect {
    char16_t delimiter = u',';                     ///< between two fields
    bool separatorLine = false;                    ///< a first line "sep=C" (C one character) sets the delimiter and is no record
    std::optional<std::string> encodingName = {};  ///< read every CSV file in this encoding instead of detecting it
};

/// How the CSV files written are laid out and encoded.
struct CsvWriteDialect {
    char16_t delimiter = u',';                     ///< between two fields
    bool crlf = false;                             ///< lines end in CRLF instead of LF
    bool byteOrderMark = false;                    ///< the file begins with a byte-order mark (of a Unicode encoding only)
    std::optional<std::string> encodingName = {};  ///< written in this encoding (a converter name or alias) instead of UTF-8
};

/// The shape of the data: the header line, typed values and keys. Each off by default, and then
/// nothing written changes.
struct DataShape {
    /// Whether the first CSV line names the columns, instead of the stored "header" setting.
    std::optional<bool> header = {};
    /// CSV input: fields that are exactly decimal integers, decimal reals, "true" or "false" become
    /// integers, reals and booleans instead of strings.
    bool types = false;
    /// CSV input: the root is a dictionary keyed by this column, a header name (header on) or a
    /// 1-based position; a repeated or empty key fails the file. Property-list input with a
    /// dictionary at its root: the name of the key column in the header line (instead of "key").
    std::optional<std::string> keyedColumn = {};
    /// Property-list input: the columns are every key of every dictionary, in order of first appearance.
    bool allKeys = false;
    /// Property-list input: the table is the array or dictionary at this pointer instead of the root
    /// (a single value there is written as a one-field line; a pointer that leads nowhere fails the file).
    std::optional<PlistPointer> select = {};
    /// CSV input with a header: later repeats of a name become "a_2", "a_3", ..., an empty name "column_N".
    bool dedupeKeys = false;
};

/// Where and in what form the results are written.
struct OutputOptions {
    /// CSV input: the form of the document written. The old-style and strings-file forms are written
    /// in UTF-16LE with a byte-order mark when the CSV dialect written names a UTF-16 encoding.
    OutputFormat format = OutputFormat::Xml;
    std::optional<std::string> path = {};     ///< write each result exactly here instead of into the save folder
    bool noClobber = false;                   ///< an existing output is left alone: the file fails, "exists, not replaced"
    /// Set: the result is written through this as it is produced, in order (path then only names it
    /// in messages, and no file is made or replaced). It returns {} or why the bytes could not be
    /// written. A stream cannot be taken back: a conversion that fails part way leaves what it wrote.
    std::function<std::error_code(std::string_view)> stream = {};
};

/// What the run converts each file as, and how a caller follows and stops it.
struct RunControl {
    /// Convert every file as this kind, whatever its extension.
    std::optional<InputKind> inputKind = {};
    /// Bytes of the current source consumed so far and its size (0 when unknown); called on the
    /// converting thread, at most about every 1 MiB and once at the end.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress = {};
    /// When it reads true, the conversion stops at its next check (at least every 1 MiB of input): the
    /// temporary file is removed, an existing output is untouched, the report says Cancelled.
    const std::atomic<bool>* cancel = nullptr;
};

/// Overrides a caller may give for every conversion, instead of the stored setting, detection or the
/// plain defaults; grouped by concern.
struct ConversionOptions {
    CsvReadDialect csvRead = {};    ///< the CSV dialect read
    CsvWriteDialect csvWrite = {};  ///< the CSV dialect written
    DataShape shape = {};           ///< the shape of the data
    OutputOptions output = {};      ///< the output
    RunControl run = {};            ///< the run's control
};

} // namespace plistable
