#pragma once

#include "core/text/TextEncoding.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
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

/// Receives the fields of one record in the order they stand, as views that last until it returns.
using FieldsReceiver = std::function<void(std::span<const std::u16string_view> fields)>;

/// Why a parse stopped before the end of the text.
enum class CSVStopReason {
    None,                 ///< it did not: the whole text was read
    UnexpectedQuote,      ///< a double quote inside an unquoted field (or after spaces before a quote)
    UnexpectedCharacter,  ///< something other than a separator or line break after a closing quote
    UnterminatedQuote,    ///< a quoted field is not closed before the end of the text; its content is lost
    LeadingLineBreak,     ///< read without a header, the text begins with a line break: no record is read
};

/// The reason in English: "unexpected double quote", "quoted field is never closed", ...
std::string_view describeStopReason(CSVStopReason reason);

/// Where and why the last parse ended.
struct CSVParseStop {
    bool complete = true;      ///< false: malformed text stopped the parse before the end
    CSVStopReason reason = CSVStopReason::None; ///< why, when !complete
    std::size_t line = 0;      ///< 1-based line of the stop (a quoted line break counts), when !complete
    std::size_t offset = 0;    ///< offset of the stop in UTF-16 units (not bytes) from the start of the text, when !complete
    std::size_t records = 0;   ///< records delivered
    std::size_t recordsWithSurplusFields = 0; ///< records (with a header) that had more fields than names
    std::size_t firstSurplusLine = 0;         ///< 1-based line of the first such record, or 0
    bool stopped = false;      ///< the receiver asked the parse to stop (see stopParsing()); complete stays true

    /// "line 3: unexpected double quote" (a leading line break stops at line 1), or "the whole text
    /// was read" when complete.
    std::string description() const;
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
    /// The separator matches ignoring letter case (simple folding of each UTF-16 unit; surrogate
    /// halves match only themselves), but plain text stops only at its exact first unit, so a case
    /// variant separates fields only after a closing quote or after that exact first unit.
    CSVParser(std::u16string_view csvString, Text separator, bool hasHeader,
              std::optional<std::vector<Text>> fieldNames = std::nullopt);

    /// Parses the whole text; the records in text order, or nothing (never an empty array) when the
    /// text yields no record.
    std::optional<std::vector<Record>> arrayOfParsedRows();

    /// Parses the whole text, handing each record to `receiver` in text order as it is read and
    /// keeping none. A receiver that wants a record beyond the call moves (or copies) it; a record
    /// left in place has its storage reused for the next one. With an empty `receiver` the records
    /// are read and dropped.
    void parseRowsForReceiver(const RecordReceiver& receiver);

    /// As parseRowsForReceiver(), but each record comes as its fields in the order they stand, each
    /// a view of the text itself unless it held '""'. With a header the header is read first and a
    /// record's fields beyond the last name are read, counted as surplus and not handed over; the
    /// names those fields belong to follow from fieldNames() (a repeated name keeps its later field).
    /// Records, stop and counts are those of parseRowsForReceiver().
    void parseFieldsForReceiver(const FieldsReceiver& receiver);

    /// The first record of the text read without a header, reading no further than that record:
    /// nothing when the text is empty or begins with a line break. Ignores `hasHeader`; leaves
    /// fieldNames() and lastParseStop() as they were.
    std::optional<Row> firstParsedRow();

    /// During a receiver call: the offset in UTF-16 units just past the record handed over.
    std::size_t position() const { return _cursor; }

    /// Called from a receiver: the parse ends right after the record being handed over, and
    /// lastParseStop() says `stopped`. Does nothing outside a receiver call.
    void stopParsing() { _stopRequested = _receiverMode; }

    /// The header names of the last parse with a header (or the names given at construction).
    const std::optional<std::vector<Text>>& fieldNames() const { return _fieldNames; }

    /// How the last parse ended.
    const CSVParseStop& lastParseStop() const { return _stop; }

    /// During a receiver call: the offset, in UTF-16 units from the start of the text, at which the
    /// record being handed over begins.
    std::size_t recordStartOffset() const { return _recordStart; }
    /// The 1-based physical line holding `offset` (UTF-16 units; a quoted line break counts).
    std::size_t lineAtOffset(std::size_t offset) const { return lineAt(offset); }

private:
    friend class WindowedCSVParser; // reads windows after the first with the header it already read

    // One rule of the grammar per method, all moving the one cursor `_cursor` (an index into
    // csvString). Rules that build text fill a destination the caller gives (and answer whether
    // they matched), so a record's storage can be used again for the next one. See CSVParser.cpp.
    void parseForReceiver(const RecordReceiver* records, const FieldsReceiver* fields);
    std::optional<std::vector<Record>> parseFile();
    std::vector<Text> parseHeader();
    void parseName(Text& name);
    bool parseRecord(Record& record);
    void parseRowFields(Row& row);
    void parseDictionaryFields(RecordDictionary& record, std::size_t recordStart);
    void parseField(Text& field);
    void parseFieldViews(std::size_t recordStart);
    std::u16string_view parseFieldView(std::size_t index);
    bool parseEscaped(Text& content);
    std::optional<std::u16string_view> parseNonEscaped();
    std::optional<std::u16string_view> parseTextData();
    bool parseSeparator();
    bool parseLineSeparator();
    bool parseDoubleQuote();
    bool parseTwoDoubleQuotes();

    void startParse();
    void finishParse();
    bool isEndText(char16_t c) const
    {
        return c < 0x80 ? _endTextAscii[c] : (c == _separatorFirst || c == 0x0085 || c == 0x2028 || c == 0x2029);
    }
    bool separatorStandsAt(std::size_t position) const;
    std::size_t scanToEndText(std::size_t position);
    std::uint64_t endTextMask(std::size_t block) const;
    std::size_t lineAt(std::size_t offset) const;

    std::u16string_view csvString;
    Text separator;
    bool hasHeader;
    bool _headerRead = false;          // with hasHeader: _fieldNames is the header, the text starts at a record
    std::optional<std::vector<Text>> _fieldNames;
    bool separatorIsSingleChar;
    CSVParseStop _stop;

    Text _foldedSeparator;             // separator with each unit case-folded, for the separator test
    char16_t _separatorFirst;          // the first unit of the separator, a stop unit of plain text
    std::array<bool, 0x80> _endTextAscii{}; // stop units below 0x80: line breaks, '"', separator's first
    std::size_t _cursor = 0;
    std::size_t _recordStart = 0; // where the record being parsed begins
    bool _receiverMode = false;
    bool _stopRequested = false;
    const RecordReceiver* _receiver = nullptr;
    const FieldsReceiver* _fieldsReceiver = nullptr; // in receiver mode: fields instead of records
    std::vector<std::u16string_view> _fieldViews;    // the record being handed over, field by field
    std::deque<Text> _unescaped;                     // its quoted fields that held '""', unescaped
    std::shared_ptr<const detail::HeaderIndex> _headerIndex;
    std::size_t _rowSizeHint = 0;      // size of the previous row, to reserve the next one
    std::size_t _openQuoteAt;          // offset of an opening quote that never closed, or npos
    std::size_t _firstSurplusAt;       // offset of the first record with surplus fields, or npos
    std::size_t _maskBlock;            // which 64-unit block of the text _endTextBits describes, or npos
    std::uint64_t _endTextBits = 0;    // bit i: unit 64 * _maskBlock + i is an end-text unit
    Text _surplusField;                // where fields beyond the last header name are read to
};

} // namespace plistable
