#pragma once

#include "core/TextEncoding.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace plistable {

/// One line of fields, in text order.
using Row = std::vector<Text>;

namespace detail {
struct HeaderIndex;
}

/// A record read with a header: header name to field text. It has no order of its own; callers
/// take the column order from the header names. Of equal header names only one entry exists,
/// holding the field of the later column.
class RecordDictionary {
public:
    /// The field stored under `name`, or nullptr when the record has none (a short record).
    const Text* objectForKey(std::u16string_view name) const;

    /// The field stored under the name at `headerIndex` of the header the record was read with
    /// (the same as objectForKey(fieldNames[headerIndex]), without a look-up by name), or nullptr.
    const Text* objectForHeaderIndex(std::size_t headerIndex) const;

    /// Number of entries (distinct names that hold a field).
    std::size_t count() const;

private:
    friend class CSVParser;
    std::shared_ptr<const detail::HeaderIndex> _header;
    std::vector<std::optional<Text>> _values; // one per distinct name, in first-occurrence order
};

/// A record: a Row when read without a header, a RecordDictionary with one.
using Record = std::variant<Row, RecordDictionary>;

/// Receives one record in receiver mode.
using RecordReceiver = std::function<void(Record&& record)>;

/// Why a parse stopped before the end of the text.
enum class CSVStopReason {
    None,                 ///< it did not: the whole text was read
    UnexpectedQuote,      ///< a double quote inside an unquoted field (or after spaces before a quote)
    UnexpectedCharacter,  ///< something other than a separator or line break after a closing quote
    UnterminatedQuote,    ///< a quoted field is not closed before the end of the text; its content is lost
};

/// Where and why the last parse ended.
struct CSVParseStop {
    bool complete = true;      ///< false: malformed text stopped the parse before the end
    CSVStopReason reason = CSVStopReason::None; ///< why, when !complete
    std::size_t line = 0;      ///< 1-based line of the stop (a quoted line break counts), when !complete
    std::size_t offset = 0;    ///< offset of the stop in UTF-16 units from the start of the text, when !complete
    std::size_t records = 0;   ///< records delivered
    std::size_t recordsWithSurplusFields = 0; ///< records (with a header) that had more fields than names
    std::size_t firstSurplusLine = 0;         ///< 1-based line of the first such record, or 0
};

/// Reads a whole CSV text in memory by recursive descent: records separated by runs of line-break
/// characters, fields separated by `separator`, fields quoted with '"' ('""' inside stands for one).
/// It never reports a syntax error: at the first place the grammar cannot go on it stops and returns
/// what it has read so far; lastParseStop() tells whether and where that happened. Nothing is trimmed.
class CSVParser {
public:
    /// A parser over `csvString`, which must outlive the parser (it is not copied). A `separator` that
    /// is empty, holds '"' or a line-break character fails the assertion "CSV separator string must
    /// not be empty and must not contain the double quote character or newline characters.".
    /// `fieldNames` only sizes rows; with `hasHeader` every parse replaces it by the header read.
    CSVParser(std::u16string_view csvString, Text separator, bool hasHeader,
              std::optional<std::vector<Text>> fieldNames = std::nullopt);

    /// Parses the whole text; the records in text order, or nothing (never an empty array) when the
    /// text yields no record.
    std::optional<std::vector<Record>> arrayOfParsedRows();

    /// Parses the whole text, handing each record to `receiver` in text order as it is read and
    /// keeping none. With an empty `receiver` the records are read and dropped.
    void parseRowsForReceiver(const RecordReceiver& receiver);

    /// The first record of the text read without a header, reading no further than that record:
    /// nothing when the text is empty or begins with a line break. Ignores `hasHeader`.
    std::optional<Row> firstParsedRow();

    /// The header names of the last parse with a header (or the names given at construction).
    const std::optional<std::vector<Text>>& fieldNames() const { return _fieldNames; }

    /// How the last parse ended.
    const CSVParseStop& lastParseStop() const { return _stop; }

private:
    // Implementation state lives in the .cpp; see there for the grammar.
    std::u16string_view csvString;
    Text separator;
    bool hasHeader;
    std::optional<std::vector<Text>> _fieldNames;
    bool separatorIsSingleChar;
    CSVParseStop _stop;
};

} // namespace plistable
