#include "core/convert/detail/CsvToPlistConversion.hpp"

#include "core/convert/detail/ConversionText.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/plist/detail/PlistXmlWriter.hpp"
#include "core/text/EncodingDetection.hpp"

#include <string_view>
#include <unordered_map>

namespace plistable::detail {
namespace {

// One reason per header name written more than once: `header repeats "a" (columns 1 and 2); the
// later value is kept`. A dictionary holds one value per key, so the earlier columns are lost.
void noteRepeatedNames(const std::vector<Text>& names, std::vector<std::string>& problems)
{
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
}

} // namespace

ConversionReport convertCsvToPlist(const std::string& path, const std::string& outputPath, bool header,
                                   const std::optional<std::string>& encodingName, std::string* bytes,
                                   CsvReadDialect dialect)
{
    ConversionReport report;
    report.sourcePath = path;

    FileContents contents;
    if (bytes)
        contents.bytes = std::move(*bytes);
    else
        contents = readFileContents(path);
    if (contents.error) {
        report.problems.push_back("cannot read: " + contents.error.message());
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
    }
    if (!decoded) {
        report.problems.push_back("cannot be decoded as " + report.encodingName);
        return report;
    }
    // The bytes are no longer needed; give their memory back before the document is built.
    contents.bytes = std::string();
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
    parser.parseRowsForReceiver([&](Record&& record) {
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
    writer.endDocument();

    const CSVParseStop& stop = parser.lastParseStop();
    report.records = stop.records;
    if (!stop.complete)
        report.problems.push_back(describeStop(stop));
    if (stop.recordsWithSurplusFields > 0)
        report.problems.push_back("line " + std::to_string(stop.firstSurplusLine) + ": "
                                  + plural(stop.recordsWithSurplusFields, "record has", "records have")
                                  + " more fields than the header has names; the extra fields were left out");
    if (checkedNames)
        noteRepeatedNames(keyNames, report.problems);
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
