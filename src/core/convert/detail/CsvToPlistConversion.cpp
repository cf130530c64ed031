#include "core/convert/detail/CsvToPlistConversion.hpp"

#include "core/convert/detail/ConversionText.hpp"
#include "core/convert/detail/FieldTypes.hpp"
#include "core/convert/detail/JsonWriter.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "core/io/ReadError.hpp"
#include "core/plist/detail/PlistXmlWriter.hpp"
#include "core/text/EncodingDetection.hpp"

#include <algorithm>
#include <string_view>
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

ConversionReport& finish(ConversionReport& report, AtomicFile& file, const std::string& outputPath)
{
    if (std::error_code error = file.commit()) {
        report.problems.insert(report.problems.begin(), "cannot write " + outputPath + ": " + error.message());
        report.status = ConversionReport::Status::Failed;
        return report;
    }
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
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

// The records of `text` as the values `shape` asks for, into the writer it names. The parse reads
// rows (no header), so that every column keeps its own field even where names repeat.
ConversionReport convertShaped(ConversionReport& report, std::u16string_view text, const std::u16string& delimiter,
                               const std::string& outputPath, bool header, const CsvToPlistShape& shape,
                               ConversionMonitor& progress, std::uint64_t totalBytes)
{
    std::optional<Row> firstRow;
    if (header)
        firstRow = CSVParser(text, delimiter, false).firstParsedRow();
    const std::vector<Text> noNames;
    const std::vector<Text>& readNames = firstRow ? *firstRow : noNames;
    const std::vector<Text> names = shape.dedupeKeys ? dedupedNames(readNames) : readNames;
    // Where each name takes its field from: with repeats (not renamed) the later column, as a
    // dictionary written with one key twice reads back.
    std::vector<std::size_t> source(names.size());
    {
        std::unordered_map<std::u16string_view, std::size_t> last;
        for (std::size_t i = 0; i < names.size(); ++i)
            last[names[i]] = i;
        for (std::size_t i = 0; i < names.size(); ++i)
            source[i] = last[names[i]];
    }

    std::optional<std::size_t> keyColumn;
    if (shape.keyedColumn) {
        keyColumn = keyedIndex(*shape.keyedColumn, header ? &readNames : nullptr);
        if (!keyColumn || (header && firstRow && *keyColumn >= names.size())) {
            report.problems.push_back("--keyed " + *shape.keyedColumn + ": no such column"
                                      + std::string(header ? " in the header" : ""));
            return report;
        }
    }

    AtomicFile file(outputPath);
    std::variant<PlistXmlWriter, BinaryPlistWriter, JsonWriter> writer(std::in_place_type<PlistXmlWriter>, file);
    if (shape.format == OutputFormat::Binary)
        writer.emplace<BinaryPlistWriter>(file);
    else if (shape.format == OutputFormat::Json)
        writer.emplace<JsonWriter>(file);
    std::visit([&](auto& w) { w.beginValues(keyColumn.has_value()); }, writer);

    CSVParser parser(text, delimiter, false);
    bool headerRow = header;
    std::size_t records = 0;
    std::size_t surplus = 0;
    std::size_t firstSurplusOffset = 0;
    std::unordered_map<Text, std::size_t> keyOffsets; // key -> offset of its record
    std::optional<std::string> keyProblem;
    const Text empty;
    const double bytesPerUnit = text.empty() ? 0.0 : static_cast<double>(totalBytes) / static_cast<double>(text.size());
    parser.parseRowsForReceiver([&](Record&& record) {
        const auto done = static_cast<std::uint64_t>(static_cast<double>(parser.position()) * bytesPerUnit);
        if (!progress.advance(std::min(done, totalBytes)))
            parser.stopParsing();
        if (keyProblem)
            return;
        Row& row = std::get<Row>(record);
        if (headerRow) {
            headerRow = false;
            return;
        }
        if (header && row.size() > names.size() && surplus++ == 0)
            firstSurplusOffset = parser.recordStartOffset();
        const Text* key = nullptr;
        if (keyColumn) {
            key = *keyColumn < row.size() ? &row[*keyColumn] : &empty;
            const std::size_t offset = parser.recordStartOffset();
            if (key->empty()) {
                keyProblem = "line " + std::to_string(parser.lineAtOffset(offset)) + ": the key is empty";
                return;
            }
            const auto [at, added] = keyOffsets.try_emplace(*key, offset);
            if (!added) {
                keyProblem = "lines " + std::to_string(parser.lineAtOffset(at->second)) + " and "
                             + std::to_string(parser.lineAtOffset(offset)) + ": the key \"" + toUtf8Lossy(*key)
                             + "\" repeats";
                return;
            }
        }
        PlistValue value;
        if (header) {
            PlistValue::Dictionary entries;
            entries.reserve(names.size());
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (keyColumn && i == *keyColumn)
                    continue;
                const std::size_t from = source[i];
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
    if (parser.lastParseStop().stopped || progress.cancelled())
        return ConversionMonitor::cancelledReport(report.sourcePath);
    if (keyProblem) {
        // Nothing is committed: an existing output file stays as it was.
        report.problems.push_back(*keyProblem + "; nothing was written");
        return report;
    }
    std::visit([](auto& w) { w.endValues(); }, writer);
    progress.finish(totalBytes);

    CSVParseStop stop = parser.lastParseStop();
    stop.records = records; // the header line is no record
    report.records = records;
    if (!stop.complete)
        report.problems.push_back(describeStop(stop));
    if (surplus > 0)
        report.problems.push_back("line " + std::to_string(parser.lineAtOffset(firstSurplusOffset)) + ": "
                                  + plural(surplus, "record has", "records have")
                                  + " more fields than the header has names; the extra fields were left out");
    if (header && firstRow && !shape.dedupeKeys)
        noteRepeatedNames(names, report);
    const std::size_t replaced = std::visit([](auto& w) { return w.replacedCharacters(); }, writer);
    if (replaced > 0)
        report.problems.push_back(plural(replaced, "character", "characters")
                                  + " that XML does not allow written as U+FFFD");
    return finish(report, file, outputPath);
}

} // namespace

std::vector<Text> dedupedNames(const std::vector<Text>& names)
{
    std::unordered_set<Text> taken(names.begin(), names.end());
    std::unordered_set<Text> used;
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
            for (std::size_t n = 2;; ++n) {
                name = base;
                name += u'_';
                name += fromUtf8Lossy(std::to_string(n));
                if (!taken.contains(name) && !used.contains(name))
                    break;
            }
        }
        used.insert(name);
        taken.insert(name);
        result.push_back(std::move(name));
    }
    return result;
}

ConversionReport convertCsvToPlist(const std::string& path, const std::string& outputPath, bool header,
                                   const std::optional<std::string>& encodingName, std::string* bytes,
                                   CsvReadDialect dialect, const CsvToPlistShape& shape, ConversionMonitor* monitor)
{
    ConversionReport report;
    report.sourcePath = path;
    ConversionMonitor quiet;
    ConversionMonitor& progress = monitor ? *monitor : quiet;
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);

    FileContents contents;
    if (bytes)
        contents.bytes = std::move(*bytes);
    else
        contents = readFileContents(path, progress.cancelFlag());
    if (contents.error == std::errc::operation_canceled)
        return ConversionMonitor::cancelledReport(path);
    if (contents.error) {
        report.problems.push_back(contents.error == ReadError::TooLarge ? contents.error.message()
                                                                        : "cannot read: " + contents.error.message());
        return report;
    }

    std::optional<Text> decoded;
    if (encodingName) {
        report.encodingName = *encodingName;
        decoded = decodeTextNamed(contents.bytes, *encodingName);
    } else {
        report.encoding = detectEncoding(contents.bytes, decoded);
        report.encodingName = std::string(plistable::encodingName(report.encoding));
        report.encodingGuessed = report.encoding == NSMacOSRomanStringEncoding;
        if (const std::size_t cut = report.encoding == NSUTF8StringEncoding ? cutOffUtf8Length(contents.bytes) : 0)
            report.problems.push_back("the character at byte offset " + std::to_string(contents.bytes.size() - cut)
                                      + " is cut off by the end of the file; written as U+FFFD");
    }
    if (!decoded) {
        report.problems.push_back("cannot be decoded as " + report.encodingName);
        return report;
    }
    // Progress counts bytes of the source; the parse position (in UTF-16 units) is scaled to them.
    const std::uint64_t totalBytes = contents.bytes.size();
    progress.setTotal(totalBytes);
    // The bytes are no longer needed; give their memory back before the document is built.
    contents.bytes = std::string();
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    if (report.encodingGuessed)
        report.notes.push_back("read as Mac OS Roman; use --encoding to choose another");

    // A byte-order mark is not data: without this the first header name would begin with U+FEFF.
    std::u16string_view text = *decoded;
    if (!text.empty() && text.front() == u'\uFEFF')
        text.remove_prefix(1);

    // A spreadsheet's "sep=;" line names the delimiter of the lines after it; it holds no data.
    // Line numbers in reports then count from the line after it.
    const std::u16string delimiter(1, dialect.delimiter);
    std::u16string chosen = delimiter;
    if (dialect.separatorLine && text.size() >= 5 && text.starts_with(u"sep=")
        && (text.size() == 5 || text[5] == u'\n' || text[5] == u'\r')) {
        chosen.assign(1, text[4]);
        text.remove_prefix(5);
        if (text.starts_with(u"\r\n"))
            text.remove_prefix(2);
        else if (!text.empty())
            text.remove_prefix(1);
    }

    if (!shape.plain())
        return convertShaped(report, text, chosen, outputPath, header, shape, progress, totalBytes);

    std::optional<Row> names;
    if (header)
        names = CSVParser(text, chosen, false).firstParsedRow();

    AtomicFile file(outputPath);
    detail::PlistXmlWriter writer(file);
    writer.beginDocument();

    CSVParser parser(text, chosen, header);
    const std::vector<Text> noNames;
    const std::vector<Text>& keyNames = names ? *names : noNames;
    std::vector<const Text*> values(keyNames.size());
    bool namesAreRecordHeader = false;
    bool checkedNames = false;
    const double bytesPerUnit = text.empty() ? 0.0 : static_cast<double>(totalBytes) / static_cast<double>(text.size());
    auto keepGoing = [&] {
        const auto done = static_cast<std::uint64_t>(static_cast<double>(parser.position()) * bytesPerUnit);
        if (!progress.advance(std::min(done, totalBytes)))
            parser.stopParsing();
    };
    parser.parseRowsForReceiver([&](Record&& record) {
        keepGoing();
        if (auto* row = std::get_if<Row>(&record)) {
            writer.writeRow(*row);
            return;
        }
        if (!checkedNames) {
            // Names come from a header-less read of the first line, which gives exactly the header
            // the records were read with whenever it gives any; then values are found by position.
            namesAreRecordHeader = parser.fieldNames() && *parser.fieldNames() == keyNames;
            checkedNames = true;
        }
        const RecordDictionary& dictionary = std::get<RecordDictionary>(record);
        for (std::size_t i = 0; i < keyNames.size(); ++i)
            values[i] = namesAreRecordHeader ? dictionary.objectForHeaderIndex(i) : dictionary.objectForKey(keyNames[i]);
        writer.writeDictionary(keyNames, values);
    });
    const CSVParseStop& stop = parser.lastParseStop();
    // The temporary file goes with `file`: an existing output stays as it was.
    if (stop.stopped || progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    writer.endDocument();
    progress.finish(totalBytes);

    report.records = stop.records;
    if (!stop.complete)
        report.problems.push_back(describeStop(stop));
    if (stop.recordsWithSurplusFields > 0)
        report.problems.push_back("line " + std::to_string(stop.firstSurplusLine) + ": "
                                  + plural(stop.recordsWithSurplusFields, "record has", "records have")
                                  + " more fields than the header has names; the extra fields were left out");
    if (checkedNames)
        noteRepeatedNames(keyNames, report);
    if (writer.replacedCharacters() > 0)
        report.problems.push_back(plural(writer.replacedCharacters(), "character", "characters")
                                  + " that XML does not allow written as U+FFFD");

    if (std::error_code error = file.commit()) {
        report.problems.insert(report.problems.begin(), "cannot write " + outputPath + ": " + error.message());
        report.status = ConversionReport::Status::Failed;
        return report;
    }
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

} // namespace plistable::detail
