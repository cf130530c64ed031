#include "core/FileConverter.hpp"

#include "core/AtomicFile.hpp"
#include "core/EncodingDetection.hpp"
#include "core/PathUtilities.hpp"
#include "core/UserDefaults.hpp"
#include "core/detail/PlistXmlWriter.hpp"

namespace plistable {
namespace {

const std::string headerKey = "header";

std::string plural(std::size_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The reason a parse stopped early, as the command line prints it after the line number.
std::string describeStop(const CSVParseStop& stop)
{
    std::string reason;
    switch (stop.reason) {
    case CSVStopReason::UnexpectedQuote: reason = "unexpected double quote"; break;
    case CSVStopReason::UnexpectedCharacter: reason = "unexpected character after a closing double quote"; break;
    case CSVStopReason::UnterminatedQuote: reason = "quoted field is never closed"; break;
    case CSVStopReason::LeadingLineBreak: reason = "the text begins with a line break"; break;
    case CSVStopReason::None: reason = "the text could not be read further"; break;
    }
    const std::size_t line = stop.reason == CSVStopReason::LeadingLineBreak ? 1 : stop.line;
    return "line " + std::to_string(line) + ": " + reason + "; " + plural(stop.records, "record", "records")
           + " converted, the rest was not read";
}

// The output path for `source`: the save folder, the source's name with its last extension replaced.
std::string outputPathFor(const std::optional<std::string>& saveDirPath, const std::string& source,
                          std::string_view extension)
{
    return saveDirPath.value_or("")
           + stringByAppendingPathExtension(stringByDeletingPathExtension(lastPathComponent(source)), extension);
}

} // namespace

FileConverter::FileConverter(UserDefaults& defaults, ConversionOptions options)
    : _defaults(defaults), _options(std::move(options))
{
    _defaults.registerDefaults({{headerKey, false}});
}

bool FileConverter::headerSetting() const
{
    return _options.header.value_or(_defaults.boolForKey(headerKey));
}

std::vector<ConversionReport> FileConverter::convertDroppedFiles(const std::vector<std::string>& paths,
                                                                 const std::string& folder)
{
    // Plain concatenation, as the save folder has always been formed: the root gives "//".
    _saveDirPath = folder + "/";
    std::vector<ConversionReport> reports;
    reports.reserve(paths.size());
    for (const std::string& path : paths) {
        const std::string extension = pathExtension(path);
        if (extension == "csv") {
            reports.push_back(createPlist(path));
        } else if (extension == "plist") {
            reports.push_back(createCsv(path));
        } else {
            ConversionReport skipped;
            skipped.sourcePath = path;
            skipped.status = ConversionReport::Status::Skipped;
            skipped.notes.push_back("not a .csv or .plist file; passed over");
            reports.push_back(std::move(skipped));
        }
    }
    return reports;
}

std::optional<std::vector<Record>> FileConverter::csvparse(std::u16string_view text)
{
    CSVParser parser(text, u",", headerSetting());
    return parser.arrayOfParsedRows();
}

std::optional<Row> FileConverter::csvparseToHeader(std::u16string_view text)
{
    CSVParser parser(text, u",", false);
    return parser.firstParsedRow();
}

ConversionReport FileConverter::createPlist(const std::string& path)
{
    ConversionReport report;
    report.sourcePath = path;

    FileContents contents = readFileContents(path);
    if (contents.error) {
        report.problems.push_back("cannot read: " + contents.error.message());
        return report;
    }

    std::optional<Text> decoded;
    if (_options.encodingName) {
        report.encodingName = *_options.encodingName;
        decoded = decodeTextNamed(contents.bytes, *_options.encodingName);
    } else {
        report.encoding = detectEncoding(contents.bytes);
        report.encodingName = std::string(encodingName(report.encoding));
        report.encodingGuessed = report.encoding == NSMacOSRomanStringEncoding;
        decoded = decodeText(contents.bytes, report.encoding);
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

    const bool header = headerSetting();
    std::optional<Row> names;
    if (header)
        names = csvparseToHeader(text);

    const std::string outputPath = outputPathFor(_saveDirPath, path, "plist");
    AtomicFile file(outputPath);
    detail::PlistXmlWriter writer(file);
    writer.beginDocument();

    CSVParser parser(text, u",", header);
    const std::vector<Text> noNames;
    const std::vector<Text>& keyNames = names ? *names : noNames;
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
        writer.writeDictionary(std::get<RecordDictionary>(record), keyNames, namesAreRecordHeader);
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

ConversionReport FileConverter::createCsv(const std::string& path)
{
    ConversionReport report;
    report.sourcePath = path;
    report.problems.push_back("converting property lists to CSV is not supported yet");
    return report;
}

} // namespace plistable
