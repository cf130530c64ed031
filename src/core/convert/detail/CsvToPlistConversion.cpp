#include "core/convert/detail/CsvToPlistConversion.hpp"

#include "core/convert/detail/BatchPipeline.hpp"
#include "core/convert/detail/ConversionText.hpp"
#include "core/convert/detail/FieldTypes.hpp"
#include "core/convert/detail/JsonWriter.hpp"
#include "core/csv/WindowedCSVParser.hpp"
#include "core/csv/detail/Utf8CSVReader.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/ReadError.hpp"
#include "core/io/RereadableFile.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "core/plist/detail/OpenStepWriter.hpp"
#include "core/plist/detail/PlistXmlWriter.hpp"
#include "core/text/EncodingEvidence.hpp"
#include "core/text/TextDecoder.hpp"
#include "core/text/detail/CharacterSets.hpp"
#include "core/text/detail/Simd.hpp"
#include "core/text/detail/Utf8.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <variant>

namespace plistable::detail {
namespace {

// One reason per header name written more than once: `header repeats "a" (columns 1 and 2); the
// later value is kept`. A dictionary holds one value per key, so the earlier columns are lost.
// With any, a note names the option that keeps them.
void noteRepeatedNames(const std::vector<Text>& names, ConversionReport& report)
{
    std::vector<std::string>& problems = report.problems;
    const std::size_t before = problems.size();
    // Indexed, as headers can hold many thousands of names; reasons follow the first appearances.
    std::unordered_map<std::u16string_view, std::vector<std::size_t>> columns;
    std::vector<std::u16string_view> order;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto& at = columns[names[i]];
        if (at.empty())
            order.push_back(names[i]);
        at.push_back(i + 1);
    }
    for (const std::u16string_view name : order) {
        const std::vector<std::size_t>& at = columns[name];
        if (at.size() < 2)
            continue;
        std::string list;
        for (std::size_t k = 0; k < at.size(); ++k) {
            if (k > 0)
                list += k + 1 == at.size() ? " and " : ", ";
            list += std::to_string(at[k]);
        }
        problems.push_back("header repeats \"" + toUtf8Lossy(name) + "\" (columns " + list
                           + "); the later value is kept");
    }
    if (problems.size() > before)
        report.notes.push_back("--dedupe-keys renames repeated header names so that every value is kept");
}

ConversionReport& finish(ConversionReport& report, AtomicFile& file, const std::string& outputPath,
                         const ConversionMonitor& monitor)
{
    if (std::error_code error = file.commit()) {
        report.problems.insert(report.problems.begin(), monitor.writeFailure(outputPath, error));
        report.status = ConversionReport::Status::Failed;
        return report;
    }
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

// The report's lines on the reading: where malformed text stopped it, and how many records held
// more fields than the header has names.
void noteReading(ConversionReport& report, const CSVParseStop& stop)
{
    if (!stop.complete)
        report.problems.push_back(describeStop(stop));
    if (stop.recordsWithSurplusFields > 0)
        report.problems.push_back("line " + std::to_string(stop.firstSurplusLine) + ": "
                                  + plural(stop.recordsWithSurplusFields, "record has", "records have")
                                  + " more fields than the header has names; the extra fields were left out");
}

// The report's line on characters the writer could not write as they were.
void noteReplaced(ConversionReport& report, std::size_t replaced, bool xml)
{
    if (replaced > 0 && xml)
        report.problems.push_back(plural(replaced, "character", "characters")
                                  + " that XML does not allow written as U+FFFD");
    else if (replaced > 0)
        report.problems.push_back(plural(replaced, "lone surrogate", "lone surrogates") + " written as U+FFFD");
}

// The 0-based column `column` names: a header name when there is a header and it holds it, else a
// 1-based position. Nothing when it is neither.
std::optional<std::size_t> keyedIndex(const std::string& column, const std::vector<Text>* names)
{
    if (names) {
        const Text name = fromUtf8Lossy(column);
        for (std::size_t i = 0; i < names->size(); ++i)
            if ((*names)[i] == name)
                return i;
    }
    if (column.empty() || column.size() > 9 || column.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::size_t position = std::stoul(column);
    if (position == 0)
        return std::nullopt;
    return position - 1;
}

// The source's text as a conversion reads it: decoded piece by piece from the file's bytes in one
// encoding, handed to the reader through supplier(). Afterwards outcome() tells whether all of it
// was read; only then may the conversion's output be kept.
class DecodedText {
public:
    // Undecodable: a byte does not decode, or (with refuseEscape) the bytes hold an ESC.
    enum class Outcome { Whole, Undecodable, ReadFailed, Cancelled };

    DecodedText(RereadableFile& file, TextDecoder decoder, ConversionMonitor& progress, bool refuseEscape = false)
        : _file(file), _decoder(std::move(decoder)), _progress(progress), _refuseEscape(refuseEscape)
    {
    }

    // The first units of the text (at least 8 unless it is shorter), for a look at how it begins;
    // the caller may drop units from the front before takeStart().
    Text& start()
    {
        while (_start.size() < 8 && pull(_start)) {
        }
        return _start;
    }
    Text takeStart() { return std::move(start()); }

    TextSupplier supplier()
    {
        return [this](Text& out) { return pull(out); };
    }

    bool cancelled() const { return _outcome == Outcome::Cancelled || _progress.cancelled(); }
    const ConversionMonitor& monitor() const { return _progress; }
    // Whether all of the text was read, not cancelled: the conversion keeps its output only then.
    // What the reader left unread (after a fault in the text, or a reason not to read it) is
    // decoded first, without being kept, so that a byte further on that does not decode still
    // rules this encoding out. Once this said yes, a later cancel changes neither it nor outcome():
    // the output may be in place.
    bool readWhole()
    {
        readRest();
        _confirmedWhole = _confirmedWhole || (_outcome == Outcome::Whole && !_progress.cancelled());
        return _confirmedWhole;
    }
    // How the reading ended, over all of the text (what is left is decoded first, as above).
    Outcome outcome()
    {
        readRest();
        if (_confirmedWhole)
            return Outcome::Whole;
        return _progress.cancelled() ? Outcome::Cancelled : _outcome;
    }

    // With Undecodable: the byte offset in the file where the bytes that do not decode begin, when known.
    std::optional<std::uint64_t> failureOffset() const { return _failureOffset; }

private:
    // Appends the next decoded units; false at the end of the text (or of what can be read of it).
    // A piece of the file is decoded a part at a time, so that the reader's window stays small
    // enough to stay in the processor's cache while it is decoded, searched and read.
    bool pull(Text& out)
    {
        while (!_ended) {
            if (_rest.empty())
                _rest = _file.next();
            const std::string_view piece = _rest.substr(0, std::min(_rest.size(), partBytes));
            _rest.remove_prefix(piece.size());
            if (piece.empty()) {
                _ended = true;
                if (_file.error())
                    _outcome = _file.error() == std::errc::operation_canceled ? Outcome::Cancelled : Outcome::ReadFailed;
                else if (!_decoder.finish(out)) {
                    _outcome = Outcome::Undecodable;
                    _failureOffset = _decoder.failureOffset();
                }
                return false;
            }
            if (!_progress.advance(_file.position() - _rest.size())) {
                _ended = true;
                _outcome = Outcome::Cancelled;
                return false;
            }
            const std::size_t before = out.size();
            const std::size_t escape = _refuseEscape ? piece.find('\x1B') : std::string_view::npos;
            if (escape != std::string_view::npos || !_decoder.decode(piece, out)) {
                _ended = true;
                _outcome = Outcome::Undecodable;
                _failureOffset = escape != std::string_view::npos
                                     ? std::optional<std::uint64_t>(_file.position() - _rest.size() - piece.size() + escape)
                                     : _decoder.failureOffset();
                return false;
            }
            if (out.size() > before)
                return true;
        }
        return false;
    }

    // Decodes what is left without keeping it; afterwards the reading has ended.
    void readRest()
    {
        Text rest;
        while (pull(rest))
            rest.clear();
    }

    static constexpr std::size_t partBytes = std::size_t(1) << 16;

    RereadableFile& _file;
    std::string_view _rest; // what is left of the file's last piece
    TextDecoder _decoder;
    ConversionMonitor& _progress;
    const bool _refuseEscape;
    Text _start;
    bool _ended = false;
    bool _confirmedWhole = false;
    Outcome _outcome = Outcome::Whole;
    std::optional<std::uint64_t> _failureOffset;
};

// The records of `text` as the values `shape` asks for, into the writer it names. The parse reads
// rows (no header), so that every column keeps its own field even where names repeat.
ConversionReport convertShaped(ConversionReport& report, DecodedText& text, const std::u16string& delimiter,
                               const std::string& outputPath, bool header, const CsvToPlistShape& shape)
{
    WindowedCSVParser parser(text.supplier(), delimiter, false, WindowedCSVParser::defaultWindowUnits, text.takeStart());
    std::optional<Row> firstRow;
    if (header)
        firstRow = parser.firstParsedRow();
    const std::vector<Text> noNames;
    const std::vector<Text>& readNames = firstRow ? *firstRow : noNames;
    const std::vector<Text> names = shape.dedupeKeys ? dedupedNames(readNames) : readNames;
    // Where each name takes its field from: with repeats (not renamed) the last column of that name
    // the record reaches, as a dictionary written with one key twice reads back. `source` is the last
    // column of each name, `earlier` the column of the same name before each (or noColumn).
    constexpr std::size_t noColumn = static_cast<std::size_t>(-1);
    std::vector<std::size_t> source(names.size());
    std::vector<std::size_t> earlier(names.size(), noColumn);
    {
        std::unordered_map<std::u16string_view, std::size_t> last;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const auto [at, added] = last.try_emplace(names[i], i);
            if (!added) {
                earlier[i] = at->second;
                at->second = i;
            }
        }
        for (std::size_t i = 0; i < names.size(); ++i)
            source[i] = last[names[i]];
    }

    std::optional<std::size_t> keyColumn;
    const bool stringsForm = shape.format == OutputFormat::Strings;
    if (stringsForm) {
        // The key column first, the value column second; every record has exactly those two.
        if (header && firstRow && firstRow->size() != 2) {
            report.problems.push_back("the header names " + plural(firstRow->size(), "column", "columns")
                                      + "; a strings file is written from a table of two (key, value); nothing was written");
            return report;
        }
        keyColumn = 0;
    } else if (shape.keyedColumn) {
        keyColumn = keyedIndex(*shape.keyedColumn, header ? &readNames : nullptr);
        if (!keyColumn || (header && firstRow && *keyColumn >= names.size())) {
            std::string problem = "--keyed " + *shape.keyedColumn + ": no such column";
            if (header)
                problem += " in the header";
            if (keyColumn)
                problem += ", which has " + plural(names.size(), "column", "columns");
            report.problems.push_back(problem);
            return report;
        }
    }

    AtomicFile file(outputPath, text.monitor().existingOutput(), text.monitor().outputStream());
    std::variant<PlistXmlWriter, BinaryPlistWriter, JsonWriter, OpenStepWriter> writer(std::in_place_type<PlistXmlWriter>, file);
    if (shape.format == OutputFormat::Binary)
        writer.emplace<BinaryPlistWriter>(file);
    else if (shape.format == OutputFormat::Json)
        writer.emplace<JsonWriter>(file);
    else if (shape.format == OutputFormat::OpenStep || stringsForm)
        writer.emplace<OpenStepWriter>(file, stringsForm, shape.utf16);
    std::visit([&](auto& w) { w.beginValues(keyColumn.has_value()); }, writer);

    bool headerRow = header;
    std::size_t records = 0;
    std::size_t surplus = 0;
    std::size_t firstSurplusLine = 0;
    std::unordered_map<Text, std::size_t> keyLines; // key -> line of its record
    std::optional<std::string> keyProblem;
    const Text empty;
    parser.parseRowsForReceiver([&](Record&& record) {
        if (text.cancelled()) {
            parser.stopParsing();
            return;
        }
        // Read on all the same: a later byte that does not decode makes the whole reading void.
        if (keyProblem)
            return;
        Row& row = std::get<Row>(record);
        if (headerRow) {
            headerRow = false;
            return;
        }
        if (header && row.size() > names.size() && surplus++ == 0)
            firstSurplusLine = parser.recordStartLine();
        const Text* key = nullptr;
        if (keyColumn) {
            key = *keyColumn < row.size() ? &row[*keyColumn] : &empty;
            const std::size_t line = parser.recordStartLine();
            if (!header && *keyColumn >= row.size()) {
                keyProblem = "line " + std::to_string(line) + ": --keyed " + *shape.keyedColumn + " is past the "
                             + plural(row.size(), "column", "columns") + " of the record";
                return;
            }
            if (key->empty()) {
                keyProblem = "line " + std::to_string(line) + ": the key is empty";
                return;
            }
            const auto [at, added] = keyLines.try_emplace(*key, line);
            if (!added) {
                keyProblem = "lines " + std::to_string(at->second) + " and " + std::to_string(line) + ": the key \""
                             + toUtf8Lossy(*key) + "\" repeats";
                return;
            }
        }
        PlistValue value;
        if (stringsForm) {
            if (row.size() != 2) {
                keyProblem = "line " + std::to_string(parser.recordStartLine()) + ": a record of "
                             + plural(row.size(), "field", "fields")
                             + "; a strings file is written from a table of two columns (key, value)";
                return;
            }
            value = PlistValue(std::move(row[1]));
        } else if (header) {
            PlistValue::Dictionary entries;
            entries.reserve(names.size());
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (keyColumn && i == *keyColumn)
                    continue;
                std::size_t from = source[i];
                while (from >= row.size() && earlier[from] != noColumn)
                    from = earlier[from]; // a short record: the last column of the name it reaches
                entries.emplace_back(names[i], fieldValue(from < row.size() ? row[from] : empty, shape.types));
            }
            value = PlistValue(std::move(entries));
        } else {
            PlistValue::Array elements;
            elements.reserve(row.size());
            for (std::size_t i = 0; i < row.size(); ++i)
                if (!keyColumn || i != *keyColumn)
                    elements.push_back(fieldValue(row[i], shape.types));
            value = PlistValue(std::move(elements));
        }
        if (key)
            std::visit([&](auto& w) { w.writeEntry(*key, value); }, writer);
        else
            std::visit([&](auto& w) { w.writeValue(value); }, writer);
        ++records;
    });
    // The temporary file goes with `file`: an existing output stays as it was.
    if (!text.readWhole())
        return report;
    if (keyProblem) {
        // Nothing is committed: an existing output file stays as it was.
        report.problems.push_back(*keyProblem + "; nothing was written");
        return report;
    }
    std::visit([](auto& w) { w.endValues(); }, writer);

    CSVParseStop stop = parser.lastParseStop();
    stop.records = records; // the header line is no record
    stop.recordsWithSurplusFields = surplus;
    stop.firstSurplusLine = firstSurplusLine;
    report.records = records;
    noteReading(report, stop);
    if (header && firstRow && !shape.dedupeKeys)
        noteRepeatedNames(names, report);
    noteReplaced(report, std::visit([](auto& w) { return w.replacedCharacters(); }, writer),
                 shape.format == OutputFormat::Xml);
    return finish(report, file, outputPath, text.monitor());
}

// The reader's window: small, so that the text is still in the processor's cache when it is read.
constexpr std::size_t windowUnits = std::size_t(1) << 16;

// Records on their way from the reader to the writer's thread, their fields one after another in
// one text, so that the other thread reads them in order. Full at `maxRecords` records or
// `maxBytes` bytes of text, so that what waits stays small however long the records are: the few batches
// in use are filled again and again, and memory touched for the first time costs a page fault per
// page, which on some machines is as dear as converting the page's text.
template <class Char>
struct FieldBatch {
    using View = std::basic_string_view<Char>;
    static constexpr std::size_t maxRecords = 4096;
    static constexpr std::size_t maxBytes = std::size_t(1) << 19;

    std::basic_string<Char> text;
    std::vector<std::size_t> fieldStarts; // where each field begins in `text`
    std::vector<std::size_t> fieldEnds;   // where each field ends in `text`
    std::vector<std::size_t> recordEnds;  // where each record's fields end in fieldEnds
    std::vector<View> fields; // the consumer's views of one record

    void addField(View field)
    {
        fieldStarts.push_back(text.size());
        text.append(field);
        fieldEnds.push_back(text.size());
    }
    // Adds the fields of a record. When all of them are views into `text` (the reader's window),
    // in order, they are copied as the stretch from the first to the end of the last, in one copy.
    void addFields(std::span<const View> record, View window)
    {
        if (record.empty())
            return;
        const auto windowStart = reinterpret_cast<std::uintptr_t>(window.data());
        const std::uintptr_t windowEnd = windowStart + window.size() * sizeof(Char);
        const Char* const first = record.front().data();
        const Char* at = first;
        for (const View field : record) {
            const auto start = reinterpret_cast<std::uintptr_t>(field.data());
            if (start < windowStart || start + field.size() * sizeof(Char) > windowEnd || field.data() < at) {
                for (const View each : record)
                    addField(each);
                return;
            }
            at = field.data() + field.size();
        }
        const std::size_t base = text.size();
        text.append(first, static_cast<std::size_t>(at - first));
        for (const View field : record) {
            fieldStarts.push_back(base + static_cast<std::size_t>(field.data() - first));
            fieldEnds.push_back(fieldStarts.back() + field.size());
        }
    }
    // Ends a record; true when the batch is full.
    bool endRecord()
    {
        recordEnds.push_back(fieldEnds.size());
        return recordEnds.size() == maxRecords || text.size() * sizeof(Char) >= maxBytes;
    }
    void clear()
    {
        text.clear();
        fieldStarts.clear();
        fieldEnds.clear();
        recordEnds.clear();
    }
    // Calls `write` with the fields of each record in turn.
    template <class Write>
    void forEachRecord(Write&& write)
    {
        std::size_t field = 0;
        for (const std::size_t end : recordEnds) {
            fields.clear();
            for (; field < end; ++field)
                fields.emplace_back(text.data() + fieldStarts[field], fieldEnds[field] - fieldStarts[field]);
            write(std::span<const View>(fields));
        }
    }
};

// Each record's value per key name, for the plain conversion with a header. The names come from a
// header-less read of the first line, which gives exactly the header the records are read with
// whenever it gives any; then, when each name stands once, the value of name i is field i.
// Otherwise each name's value is its record's field at the last header position with that name
// that the record reaches: each distinct name has a slot, filled from the fields in order, so a
// header of n copies of one name costs n, not n^2, per record.
template <class Char>
class KeyValues {
public:
    using String = std::basic_string<Char>;
    using View = std::basic_string_view<Char>;

    // Whether setNames() has been called.
    bool named() const { return _named; }

    // Once, before the first record: the header the records are read with, and the key names.
    void setNames(const std::vector<String>& header, const std::vector<String>& keys)
    {
        std::unordered_map<View, std::size_t> slots;
        _slotOfPosition.reserve(header.size());
        for (const String& name : header)
            _slotOfPosition.push_back(slots.try_emplace(name, slots.size()).first->second);
        _byPosition = header == keys && slots.size() == keys.size();
        _slotOfName.reserve(keys.size());
        for (const String& name : keys) {
            const auto found = slots.find(name);
            _slotOfName.push_back(found == slots.end() ? std::nullopt : std::optional(found->second));
        }
        _slotValues.resize(slots.size());
        _named = true;
    }

    // Adds each key's value in `fields` to the batch (a name the record does not reach is empty);
    // `window` is the reader's text, in which a record's fields may be copied at once.
    void add(FieldBatch<Char>& batch, std::span<const View> fields, View window)
    {
        const std::size_t keys = _slotOfName.size();
        if (_byPosition && fields.size() == keys) {
            batch.addFields(fields, window);
        } else if (_byPosition) {
            for (std::size_t i = 0; i < keys; ++i)
                batch.addField(i < fields.size() ? fields[i] : View());
        } else {
            std::fill(_slotValues.begin(), _slotValues.end(), View());
            const std::size_t reached = std::min(fields.size(), _slotOfPosition.size());
            for (std::size_t p = 0; p < reached; ++p)
                _slotValues[_slotOfPosition[p]] = fields[p];
            for (const std::optional<std::size_t>& slot : _slotOfName)
                batch.addField(slot ? _slotValues[*slot] : View());
        }
    }

private:
    bool _named = false;
    bool _byPosition = false;
    std::vector<std::size_t> _slotOfPosition;            // header position -> slot of its name
    std::vector<std::optional<std::size_t>> _slotOfName; // key name -> its slot, none when not in the header
    std::vector<View> _slotValues;                       // per record: each slot's value
};

// A spreadsheet's "sep=;" line names the delimiter of the lines after it; it holds no data. Takes
// the line off `start` (line numbers in reports then count from the line after it) and answers the
// delimiter it names, or `delimiter` when `allowed` is false or the text has no such line. Nothing,
// reported, when it names a quote or a line break, which is no delimiter a reader can use.
template <class Char>
std::optional<char16_t> takeSeparatorLine(std::basic_string<Char>& start, char16_t delimiter, bool allowed,
                                          ConversionReport& report)
{
    const bool line = allowed && start.size() >= 5 && start[0] == 's' && start[1] == 'e' && start[2] == 'p'
                      && start[3] == '=' && (start.size() == 5 || start[5] == '\n' || start[5] == '\r');
    if (!line)
        return delimiter;
    // The line "sep=" itself, then a line end, names a line break.
    const auto named = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(start[4]));
    if (named == '"' || isNewline(named)) {
        report.problems.push_back(named == '"' ? R"(line 1: "sep=\"" names no usable delimiter)"
                                               : R"(line 1: "sep=" names no usable delimiter)");
        return std::nullopt;
    }
    std::size_t drop = 5;
    if (start.size() > 6 && start[5] == '\r' && start[6] == '\n')
        drop = 7;
    else if (start.size() > 5)
        drop = 6;
    start.erase(0, drop);
    return named;
}

// The source's text as UTF-8 bytes, handed to the reader of bytes through supplier(): a UTF-8 file's
// own bytes as they are (only while they are well-formed UTF-8 with no ESC, as the first reading as
// UTF-8 demands), any other encoding decoded piece by piece and written as UTF-8. The text must hold
// no line break beyond ASCII (U+0085, U+2028, U+2029) and no lone surrogate, which the reader of
// bytes does not take. outcome() tells how it went, as DecodedText's does.
class Utf8Bytes {
public:
    // NeedsUnits: the text is to be read through its UTF-16 form instead.
    enum class Outcome { Whole, Undecodable, NeedsUnits, ReadFailed, Cancelled };

    // Without a decoder the bytes are taken as UTF-8 and an ESC rules them out.
    Utf8Bytes(RereadableFile& file, ConversionMonitor& progress, std::optional<TextDecoder> decoder)
        : _file(file), _progress(progress), _decoder(std::move(decoder))
    {
    }

    // The first bytes of the text (at least 8 unless it is shorter).
    std::string& start()
    {
        while (_start.size() < 8 && pull(_start)) {
        }
        return _start;
    }
    std::string takeStart() { return std::move(start()); }

    ByteSupplier supplier()
    {
        return [this](std::string& out) { return pull(out); };
    }

    bool cancelled() const { return _outcome == Outcome::Cancelled || _progress.cancelled(); }
    const ConversionMonitor& monitor() const { return _progress; }
    bool readWhole()
    {
        readRest();
        _confirmedWhole = _confirmedWhole || (_outcome == Outcome::Whole && !_progress.cancelled());
        return _confirmedWhole;
    }
    Outcome outcome()
    {
        readRest();
        if (_confirmedWhole)
            return Outcome::Whole;
        return _progress.cancelled() ? Outcome::Cancelled : _outcome;
    }

private:
    // As DecodedText::pull(), in bytes.
    bool pull(std::string& out)
    {
        while (!_ended) {
            if (_rest.empty())
                _rest = _file.next();
            const std::string_view piece = _rest.substr(0, std::min(_rest.size(), partBytes));
            _rest.remove_prefix(piece.size());
            if (piece.empty()) {
                _ended = true;
                if (_file.error()) {
                    _outcome = _file.error() == std::errc::operation_canceled ? Outcome::Cancelled : Outcome::ReadFailed;
                } else if (_decoder) {
                    const std::size_t before = out.size();
                    if (_decoder->finishToUtf8(out))
                        checkLineBreaks(out, before);
                    else
                        _outcome = _decoder->heldLoneSurrogate() ? Outcome::NeedsUnits : Outcome::Undecodable;
                } else if (!_pending.empty()) {
                    _outcome = Outcome::Undecodable; // the last character is cut off
                }
                return false;
            }
            if (!_progress.advance(_file.position() - _rest.size())) {
                _ended = true;
                _outcome = Outcome::Cancelled;
                return false;
            }
            const std::size_t before = out.size();
            if (!take(piece, out)) {
                _ended = true;
                return false;
            }
            if (out.size() > before)
                return true;
        }
        return false;
    }

    // Appends the whole characters of `piece` (with those begun in the piece before) to `out`;
    // false, with _outcome set, at bytes that rule this reading out.
    bool take(std::string_view piece, std::string& out)
    {
        if (_decoder) {
            const std::size_t before = out.size();
            if (!_decoder->decodeToUtf8(piece, out)) {
                out.resize(before);
                _outcome = _decoder->heldLoneSurrogate() ? Outcome::NeedsUnits : Outcome::Undecodable;
                return false;
            }
            return checkLineBreaks(out, before);
        }
        _outcome = Outcome::Undecodable;
        if (piece.find('\x1B') != std::string_view::npos)
            return false;
        const std::size_t before = out.size();
        if (!_pending.empty()) {
            while (!piece.empty() && isIncompleteUtf8Sequence(_pending)) {
                _pending += piece.front();
                piece.remove_prefix(1);
            }
            if (isIncompleteUtf8Sequence(_pending)) {
                _outcome = Outcome::Whole;
                return true;
            }
            if (!isWellFormedUtf8(_pending))
                return false;
            out += _pending;
            _pending.clear();
        }
        const std::size_t valid = validUtf8Length(piece);
        const std::string_view rest = piece.substr(valid);
        if (!rest.empty() && !isIncompleteUtf8Sequence(rest))
            return false;
        _pending.assign(rest);
        out.append(piece.data(), valid);
        return checkLineBreaks(out, before);
    }

    bool checkLineBreaks(const std::string& out, std::size_t from)
    {
        _outcome = holdsWideLineBreak(std::string_view(out).substr(from)) ? Outcome::NeedsUnits : Outcome::Whole;
        return _outcome == Outcome::Whole;
    }

    // Whether well-formed UTF-8 `bytes` hold U+0085 (C2 85), U+2028 or U+2029 (E2 80 A8/A9): lead
    // bytes C2 and E2 are looked for sixteen at a time, then what follows each.
    static bool holdsWideLineBreak(std::string_view bytes)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t n = bytes.size();
        auto breakAt = [&](std::size_t at) {
            if (p[at] == 0xC2)
                return at + 1 < n && p[at + 1] == 0x85;
            return p[at] == 0xE2 && at + 2 < n && p[at + 1] == 0x80 && (p[at + 2] & 0xFE) == 0xA8;
        };
        std::size_t i = 0;
#if PLISTABLE_SSE2
        for (; n - i >= 16; i += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            auto leads = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(0xC2))),
                                               _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(0xE2))))));
            for (; leads != 0; leads &= leads - 1)
                if (breakAt(i + static_cast<std::size_t>(std::countr_zero(leads))))
                    return true;
        }
#endif
        for (; i < n; ++i)
            if (breakAt(i))
                return true;
        return false;
    }

    void readRest()
    {
        std::string rest;
        while (pull(rest))
            rest.clear();
    }

    static constexpr std::size_t partBytes = std::size_t(1) << 16;

    RereadableFile& _file;
    ConversionMonitor& _progress;
    std::optional<TextDecoder> _decoder;
    std::string_view _rest;
    std::string _pending; // the start of a character the next piece completes
    std::string _start;
    bool _ended = false;
    bool _confirmedWhole = false;
    Outcome _outcome = Outcome::Whole;
};

// The plain conversion of convertDecoded() over the bytes of a UTF-8 file: the same document and
// report. Nothing when the text is to be read through its UTF-16 form instead (a separator that
// the reader of bytes does not take); then nothing has been written.
std::optional<ConversionReport> convertUtf8(ConversionReport& report, Utf8Bytes& text, const std::string& outputPath,
                                            bool header, const CsvReadDialect& dialect)
{
    std::string& start = text.start();
    if (start.starts_with("\xEF\xBB\xBF"))
        start.erase(0, 3);
    // A "sep=" line naming a character beyond ASCII is left to the reading of UTF-16 units; so is a
    // delimiter the reader of bytes does not take.
    if (dialect.separatorLine && start.size() >= 5 && start.starts_with("sep=")
        && static_cast<unsigned char>(start[4]) >= 0x80)
        return std::nullopt;
    const std::optional<char16_t> named = takeSeparatorLine(start, dialect.delimiter, dialect.separatorLine, report);
    if (!named)
        return report;
    const char16_t chosen = *named;
    if (!Utf8CSVReader::acceptsSeparator(std::u16string_view(&chosen, 1)))
        return std::nullopt;

    Utf8CSVReader parser(text.supplier(), static_cast<char>(chosen), header, Utf8CSVReader::defaultWindowBytes,
                         text.takeStart());
    std::optional<std::vector<std::string>> names;
    if (header)
        names = parser.firstParsedRow();

    AtomicFile file(outputPath, text.monitor().existingOutput(), text.monitor().outputStream());
    detail::PlistXmlWriter writer(file);
    writer.beginDocument();

    // As in convertDecoded(): the names, and each record's value per name.
    const std::vector<std::string> noNames;
    const std::vector<std::string>& keyNames = names ? *names : noNames;
    std::vector<Text> keyTexts; // the same names for the writer's key elements and the report
    keyTexts.reserve(keyNames.size());
    for (const std::string& name : keyNames)
        keyTexts.push_back(fromUtf8Lossy(name)); // well-formed: decoded exactly
    KeyValues<char> values;
    const bool rows = !header;
    FieldBatch<char> batch;
    BatchPipeline<FieldBatch<char>> pipeline([&](FieldBatch<char>& taken) {
        taken.text.append(PlistXmlWriter::utf8Slack, '\0'); // read past the last field, see writeRow()
        taken.forEachRecord([&](std::span<const std::string_view> fields) {
            if (rows)
                writer.writeRow(fields);
            else
                writer.writeDictionary(keyTexts, fields);
        });
    });
    parser.parseFieldsForReceiver([&](std::span<const std::string_view> fields) {
        if (text.cancelled()) {
            parser.stopParsing();
            return;
        }
        if (rows) {
            batch.addFields(fields, parser.window());
        } else {
            if (!values.named())
                values.setNames(*parser.fieldNames(), keyNames);
            values.add(batch, fields, parser.window());
        }
        if (batch.endRecord()) {
            batch = pipeline.push(std::move(batch));
            batch.clear();
        }
    });
    pipeline.finish(std::move(batch));
    if (!text.readWhole())
        return report;
    const CSVParseStop& stop = parser.lastParseStop();
    writer.endDocument();

    report.records = stop.records;
    noteReading(report, stop);
    if (values.named())
        noteRepeatedNames(keyTexts, report);
    noteReplaced(report, writer.replacedCharacters(), true);
    return finish(report, file, outputPath, text.monitor());
}

// Converts the decoded text: a byte-order mark and a "sep=" line are looked at first, then the
// records are written as the plain document or in the shape asked for.
ConversionReport convertDecoded(ConversionReport& report, DecodedText& text, const std::string& outputPath,
                                bool header, const CsvReadDialect& dialect, const CsvToPlistShape& shape)
{
    // A byte-order mark is not data: without this the first header name would begin with U+FEFF.
    Text& start = text.start();
    if (!start.empty() && start.front() == u'\uFEFF')
        start.erase(0, 1);

    // A "sep=" line that names no usable delimiter fails the file; the other files of the run go on.
    const std::optional<char16_t> named = takeSeparatorLine(start, dialect.delimiter, dialect.separatorLine, report);
    if (!named)
        return report;
    const std::u16string chosen(1, *named);

    if (!shape.plain())
        return convertShaped(report, text, chosen, outputPath, header, shape);

    WindowedCSVParser parser(text.supplier(), chosen, header, windowUnits, text.takeStart());
    std::optional<Row> names;
    if (header)
        names = parser.firstParsedRow();

    AtomicFile file(outputPath, text.monitor().existingOutput(), text.monitor().outputStream());
    detail::PlistXmlWriter writer(file);
    writer.beginDocument();

    // The records are written on a thread of their own while the next are read.
    const std::vector<Text> noNames;
    const std::vector<Text>& keyNames = names ? *names : noNames;
    KeyValues<char16_t> values;
    const bool rows = !header;
    FieldBatch<char16_t> batch;
    BatchPipeline<FieldBatch<char16_t>> pipeline([&](FieldBatch<char16_t>& taken) {
        taken.forEachRecord([&](std::span<const std::u16string_view> fields) {
            if (rows)
                writer.writeRow(fields);
            else
                writer.writeDictionary(keyNames, fields);
        });
    });
    parser.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
        if (text.cancelled()) {
            parser.stopParsing();
            return;
        }
        if (rows) {
            for (const std::u16string_view field : fields)
                batch.addField(field);
        } else {
            if (!values.named())
                values.setNames(*parser.fieldNames(), keyNames);
            values.add(batch, fields, {}); // no window: each field is copied on its own, as before
        }
        if (batch.endRecord()) {
            batch = pipeline.push(std::move(batch));
            batch.clear();
        }
    });
    pipeline.finish(std::move(batch));
    // The temporary file goes with `file`: an existing output stays as it was.
    if (!text.readWhole())
        return report;
    const CSVParseStop& stop = parser.lastParseStop();
    writer.endDocument();

    report.records = stop.records;
    noteReading(report, stop);
    if (values.named())
        noteRepeatedNames(keyNames, report);
    noteReplaced(report, writer.replacedCharacters(), true);
    return finish(report, file, outputPath, text.monitor());
}

} // namespace

std::vector<Text> dedupedNames(const std::vector<Text>& names)
{
    std::unordered_set<Text> taken(names.begin(), names.end());
    std::unordered_set<Text> used;
    // Per base name, the first suffix not yet found taken: `taken` and `used` only grow, so a
    // suffix found taken once stays taken, and the search for the next rename of the same name
    // goes on from there. Without this, n copies of one name cost n^2 look-ups.
    std::unordered_map<Text, std::size_t> nextSuffix;
    std::vector<Text> result;
    result.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Built by appending: GCC 12 flags a concatenation here with a false -Werror=restrict in Release.
        Text base = names[i];
        if (base.empty()) {
            base = u"column_";
            base += fromUtf8Lossy(std::to_string(i + 1));
        }
        Text name = base;
        if (names[i].empty() ? used.contains(name) : !used.insert(name).second) {
            std::size_t& n = nextSuffix.try_emplace(base, 2).first->second;
            for (;; ++n) {
                name = base;
                name += u'_';
                name += fromUtf8Lossy(std::to_string(n));
                if (!taken.contains(name) && !used.contains(name))
                    break;
            }
            ++n;
        }
        used.insert(name);
        taken.insert(name);
        result.push_back(std::move(name));
    }
    return result;
}

ConversionReport convertCsvToPlist(const std::string& path, const std::string& outputPath, bool header,
                                   std::string* bytes, const CsvReadDialect& dialect, const CsvToPlistShape& shape,
                                   ConversionMonitor* monitor)
{
    const std::optional<std::string>& encodingName = dialect.encodingName;
    ConversionReport report;
    report.sourcePath = path;
    ConversionMonitor quiet;
    ConversionMonitor& progress = monitor ? *monitor : quiet;
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);

    // A regular file is read in pieces, once per reading below (a UTF-8 file once in all), so that
    // memory stays flat at any size; a pipe's bytes are held.
    RereadableFile file = bytes ? RereadableFile::fromBytes(std::move(*bytes))
                                : RereadableFile::open(path, progress.cancelFlag());
    if (file.error() == std::errc::operation_canceled)
        return ConversionMonitor::cancelledReport(path);
    if (file.error()) {
        report.problems.push_back(file.error() == ReadError::TooLarge ? file.error().message()
                                                                      : "cannot read: " + file.error().message());
        return report;
    }
    progress.setTotal(file.size());

    // One reading of the file as `encoding` (or the encoding named), converted: its report, or
    // nothing when the bytes do not decode that way and another encoding is to be tried.
    auto convertAs = [&](TextEncoding encoding, std::size_t cutOff, bool last,
                         bool refuseEscape) -> std::optional<ConversionReport> {
        file.rewind();
        std::optional<TextDecoder> decoder = encodingName ? TextDecoder::named(*encodingName)
                                                          : TextDecoder::forEncoding(encoding, cutOff > 0);
        ConversionReport attempt = report;
        if (encodingName) {
            attempt.encodingName = *encodingName;
        } else {
            attempt.encoding = encoding;
            attempt.encodingName = std::string(plistable::encodingName(encoding));
            attempt.encodingGuessed = encoding == NSMacOSRomanStringEncoding;
            if (encoding == NSUTF8StringEncoding && cutOff > 0)
                attempt.problems.push_back("the character at byte offset " + std::to_string(file.size() - cutOff)
                                           + " is cut off by the end of the file; written as U+FFFD");
            if (attempt.encodingGuessed)
                attempt.notes.push_back("read as Mac OS Roman; use --encoding to choose another");
        }
        if (!decoder) {
            attempt.problems.push_back("cannot be decoded as " + attempt.encodingName);
            return attempt;
        }
        // A plain conversion reads the text as UTF-8 bytes: the file's own on the first reading as
        // UTF-8, else decoded. A text it cannot take that way is read once more below, through its
        // UTF-16 form, as is every text in an encoding named (and output to a stream, which cannot
        // be taken back once written).
        if (!encodingName && shape.plain() && !progress.outputStream()) {
            const bool ownBytes = encoding == NSUTF8StringEncoding && refuseEscape;
            Utf8Bytes bytes(file, progress, ownBytes ? std::nullopt : TextDecoder::forEncoding(encoding, cutOff > 0));
            ConversionReport byteAttempt = attempt;
            if (std::optional<ConversionReport> result = convertUtf8(byteAttempt, bytes, outputPath, header, dialect)) {
                switch (bytes.outcome()) {
                case Utf8Bytes::Outcome::Whole:
                    progress.finish(file.size());
                    return *result;
                case Utf8Bytes::Outcome::Cancelled:
                    return ConversionMonitor::cancelledReport(path);
                case Utf8Bytes::Outcome::ReadFailed:
                    report.problems.push_back("cannot read: " + file.error().message());
                    return report;
                case Utf8Bytes::Outcome::Undecodable:
                    if (!last)
                        return std::nullopt;
                    break;
                case Utf8Bytes::Outcome::NeedsUnits:
                    break;
                }
            }
            file.rewind();
        }
        DecodedText text(file, std::move(*decoder), progress, refuseEscape);
        ConversionReport result = convertDecoded(attempt, text, outputPath, header, dialect, shape);
        switch (text.outcome()) {
        case DecodedText::Outcome::Whole:
            progress.finish(file.size());
            return result;
        case DecodedText::Outcome::Cancelled:
            return ConversionMonitor::cancelledReport(path);
        case DecodedText::Outcome::ReadFailed:
            report.problems.push_back("cannot read: " + file.error().message());
            return report;
        case DecodedText::Outcome::Undecodable:
            if (!last)
                return std::nullopt;
            report.encodingName = attempt.encodingName;
            report.encoding = attempt.encoding;
            report.problems.push_back("cannot be decoded as " + attempt.encodingName
                                      + (text.failureOffset() ? " at byte offset " + std::to_string(*text.failureOffset())
                                                              : std::string()));
            return report;
        }
        return report;
    };
    if (encodingName)
        return *convertAs(0, 0, true, false);

    // Most files are UTF-8, and detection settles on UTF-8 exactly when every byte decodes as UTF-8
    // and none is an ESC: such a file is read once, as UTF-8, with no pass over it beforehand. At
    // the first byte that breaks that rule (or a last character cut off) the output is dropped
    // and detection goes over the file as below. Output to a stream cannot be dropped: there the
    // encoding is settled before anything is written.
    const bool settleFirst = static_cast<bool>(progress.outputStream());
    if (!settleFirst)
        if (std::optional<ConversionReport> result = convertAs(NSUTF8StringEncoding, 0, false, true))
            return *result;

    // The encodings to try, in order, as detection tries them (the last of which always decodes).
    // A trial that meets bytes it cannot decode is abandoned, output unwritten.
    file.rewind();
    EncodingEvidence evidence;
    for (std::string_view piece = file.next(); !piece.empty(); piece = file.next())
        evidence.add(piece);
    const std::vector<TextEncoding> trials = evidence.trials();
    const std::size_t cutOff = evidence.cutOffUtf8Length();
    // Whether all of the file decodes as `encoding`, read without converting; a failed read or a
    // cancel is left for the conversion to meet and report.
    auto decodes = [&](TextEncoding encoding) {
        file.rewind();
        std::optional<TextDecoder> decoder = TextDecoder::forEncoding(encoding, cutOff > 0);
        return !decoder || DecodedText(file, std::move(*decoder), progress).outcome() != DecodedText::Outcome::Undecodable;
    };
    for (const TextEncoding encoding : trials) {
        const bool last = encoding == trials.back();
        if (settleFirst && !last && !decodes(encoding))
            continue;
        if (std::optional<ConversionReport> result = convertAs(encoding, cutOff, settleFirst || last, false))
            return *result;
    }
    return report;
}

} // namespace plistable::detail
