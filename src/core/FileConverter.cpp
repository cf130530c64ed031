#include "core/FileConverter.hpp"

#include "core/AtomicFile.hpp"
#include "core/AtomicFileOutputStream.hpp"
#include "core/CHCSVWriter.hpp"
#include "core/EncodingDetection.hpp"
#include "core/Log.hpp"
#include "core/PathUtilities.hpp"
#include "core/UserDefaults.hpp"
#include "core/PropertyListReader.hpp"
#include "core/detail/PlistXmlWriter.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

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

namespace {

// One property list to CSV conversion: forwards the XML events to the converter's key-list pass and
// writes each element of the root array as a line as soon as the reader hands it over. By then the
// key list is final whenever the element is a dictionary: collection ends inside the first dictionary.
class CsvConversion : public PlistReaderDelegate {
    // Up to this many entries or keys a plain scan is quicker than building an index.
    static constexpr std::size_t linearLookupLimit = 32;

public:
    CsvConversion(FileConverter& converter, CHCSVWriter& writer, bool header)
        : _converter(converter), _writer(writer), _header(header)
    {
    }

    void parserDidStartDocument() override { _converter.parserDidStartDocument(); }
    void parserDidStartElement(std::u16string_view name) override { _converter.parserDidStartElement(name); }
    void parserDidEndElement(std::u16string_view name) override { _converter.parserDidEndElement(name); }
    void parserFoundCharacters(std::u16string_view characters) override
    {
        _converter.parserFoundCharacters(characters);
    }
    void parserDidEndDocument() override { _converter.parserDidEndDocument(); }

    void readerDidReadRootArrayElement(PlistValue&& element) override
    {
        ++_elements;
        if (_stopped)
            return;
        if (element.isDictionary()) {
            const auto& keys = _converter.keys();
            if (!keys) {
                log("error: not exist keys");
                _stopped = true;
                return;
            }
            if (_header && !_headerWritten) {
                _writer.writeLineOfFields(*keys);
                _headerWritten = true;
                ++_lines;
            }
            std::vector<const PlistValue*> fields;
            fields.reserve(keys->size());
            const PlistValue::Dictionary& entries = element.dictionary();
            if (entries.size() <= linearLookupLimit) {
                for (const Text& key : *keys)
                    fields.push_back(element.objectForKey(key));
            } else {
                // A look-up per key through every entry would take time quadratic in the size of
                // one dictionary (minutes for 100,000 keys): index the entries once, the later of
                // equal keys winning as it does in objectForKey().
                std::unordered_map<std::u16string_view, const PlistValue*> byKey;
                byKey.reserve(entries.size());
                for (const auto& [key, value] : entries)
                    byKey.insert_or_assign(std::u16string_view(key), &value);
                for (const Text& key : *keys) {
                    const auto found = byKey.find(key);
                    fields.push_back(found == byKey.end() ? nullptr : found->second);
                }
            }
            _writer.writeLineOfFields(fields);
            ++_lines;
            noteLeftOutKeys(element, *keys);
        } else if (element.isArray()) {
            _writer.writeLineOfFields(element.array());
            ++_lines;
        }
    }

    std::size_t lines() const { return _lines; }
    bool stopped() const { return _stopped; }

    /// "element 3 (x, y), element 7 (z)": the keys of later dictionaries that the key list lacks.
    std::string leftOutKeys() const
    {
        std::string text;
        for (const auto& [index, keys] : _leftOut) {
            if (!text.empty())
                text += ", ";
            text += "element " + std::to_string(index) + " (" + keys + ")";
        }
        if (_moreLeftOut > 0)
            text += " and " + std::to_string(_moreLeftOut) + " more elements";
        return text;
    }

private:
    void noteLeftOutKeys(const PlistValue& dictionary, const std::vector<Text>& keys)
    {
        // The key list is final by the first dictionary, so its set is built once, when needed.
        const bool indexed = keys.size() > linearLookupLimit;
        if (indexed && _keySet.empty())
            _keySet.insert(keys.begin(), keys.end());
        std::string missing;
        for (const auto& [key, value] : dictionary.dictionary()) {
            if (indexed ? _keySet.contains(key) : std::find(keys.begin(), keys.end(), key) != keys.end())
                continue;
            if (!missing.empty())
                missing += ", ";
            missing += toUtf8Lossy(key);
        }
        if (missing.empty())
            return;
        constexpr std::size_t listed = 10; // enough to find them; the count tells the rest
        if (_leftOut.size() < listed)
            _leftOut.emplace_back(_elements, std::move(missing));
        else
            ++_moreLeftOut;
    }

    FileConverter& _converter;
    CHCSVWriter& _writer;
    const bool _header;
    bool _headerWritten = false;
    bool _stopped = false;
    std::size_t _elements = 0;
    std::size_t _lines = 0;
    std::vector<std::pair<std::size_t, std::string>> _leftOut;
    std::size_t _moreLeftOut = 0;
    std::unordered_set<Text> _keySet; // the key list, for look-ups once it is long
};

std::string describeReadFailure(const PropertyListReadResult& result)
{
    using Status = PropertyListReadResult::Status;
    std::string where;
    if (result.line > 0)
        where = "line " + std::to_string(result.line) + ", column " + std::to_string(result.column) + ": ";
    else if (result.status != Status::Unreadable && result.status != Status::RootNotArray)
        where = "byte " + std::to_string(result.byteOffset) + ": ";
    switch (result.status) {
    case Status::Unreadable: return "cannot read: " + result.message;
    case Status::RootNotArray: return "not a property list with an array at its root";
    case Status::TooDeep: return "not converted: " + where + result.message;
    case Status::NotPropertyList:
    case Status::Ok: break;
    }
    return "not a property list with an array at its root: " + where + result.message;
}

} // namespace

void FileConverter::parserDidStartDocument()
{
    _keys.emplace();
    _count = 0;
    _writeFlg = false;
    _keyText.clear();
}

void FileConverter::finishKey()
{
    // The whole character content of one key element is one name; an empty key adds none.
    if (_writeFlg && _keys && !_keyText.empty())
        _keys->push_back(_keyText);
    _keyText.clear();
}

void FileConverter::parserDidStartElement(std::u16string_view elementName)
{
    finishKey();
    _writeFlg = false;
    // Tested from the highest state down, each on the state the tests before it left, so one
    // element start moves the pass on by one step at most.
    if (_count == 3 && elementName == u"dict")
        _count = 4;
    if (_count == 3 && elementName == u"key")
        _writeFlg = true;
    if (_count == 2 && elementName == u"dict")
        _count = 3;
    if (_count == 1 && elementName == u"array")
        _count = 2;
    if (_count == 0 && elementName == u"plist")
        _count = 1;
}

void FileConverter::parserDidEndElement(std::u16string_view)
{
    finishKey();
    _writeFlg = false;
}

void FileConverter::parserFoundCharacters(std::u16string_view characters)
{
    if (_writeFlg)
        _keyText.append(characters);
}

ConversionReport FileConverter::createCsv(const std::string& path)
{
    ConversionReport report;
    report.sourcePath = path;
    _keys.reset();
    const bool header = headerSetting();
    const std::string outputPath = outputPathFor(_saveDirPath, path, "csv");

    auto stream = std::make_shared<AtomicFileOutputStream>(outputPath);
    CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
    CsvConversion conversion(*this, writer, header);
    const PropertyListReadResult result = PropertyListReader::readFile(path, conversion);
    report.records = conversion.lines();
    if (!result.ok()) {
        // Nothing is committed: an existing output file stays as it was.
        report.problems.push_back(describeReadFailure(result));
        return report;
    }
    writer.closeStream();
    if (writer.hasFailed() && !stream->error()) {
        // Text the writer could not encode (a lone surrogate): the field was left empty.
        report.problems.push_back(writer.failureReason());
    }
    if (std::error_code error = stream->commit()) {
        report.problems.assign(1, "cannot write " + outputPath + ": " + error.message());
        return report;
    }
    if (conversion.stopped())
        report.problems.push_back("error: not exist keys; the elements from the first dictionary on were not written");
    const std::string leftOut = conversion.leftOutKeys();
    if (!leftOut.empty())
        report.notes.push_back("keys not in the first dictionary were left out: " + leftOut);
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

} // namespace plistable
