#include "core/convert/detail/PlistToCsvConversion.hpp"

#include "core/Log.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/BinaryRowsConversion.hpp"
#include "core/convert/detail/ConversionText.hpp"
#include "core/convert/detail/StringRowsConversion.hpp"
#include "core/csv/CHCSVWriter.hpp"
#include "core/csv/detail/CsvSink.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/TranscodingOutputStream.hpp"
#include "core/plist/PropertyListReader.hpp"

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace plistable::detail {
namespace {

// The first pass of --all-keys: every key of every dictionary element of a root array, or of every
// dictionary value of a root dictionary, in order of first appearance.
class AllKeysPass : public PlistReaderDelegate {
public:
    void readerDidReadRootArrayElement(PlistValue&& element) override { collect(element); }
    void readerDidReadRootDictionaryEntry(Text&&, PlistValue&& value) override { collect(value); }

    std::vector<Text> keys;

private:
    void collect(const PlistValue& value)
    {
        if (!value.isDictionary())
            return;
        for (const auto& [key, element] : value.dictionary())
            if (_seen.insert(key).second)
                keys.push_back(key);
    }

    std::unordered_set<Text> _seen;
};

// The entries of a table handed over one by one (a root or selected dictionary) whose key was
// reported as repeated: how often each came, and the value of its last entry. What a second
// reading learns when the first wrote a line for every entry of a repeated key.
class RepeatedEntries : public PlistReaderDelegate {
public:
    explicit RepeatedEntries(std::unordered_set<Text> keys) : _keys(std::move(keys)) {}

    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
    {
        if (!_keys.contains(key))
            return;
        Entry& entry = _entries[key];
        ++entry.count;
        entry.last = std::move(value);
    }

    /// The keys that came more than once, each with its last value.
    std::unordered_map<Text, PlistValue> repeated() &&
    {
        std::unordered_map<Text, PlistValue> values;
        for (auto& [key, entry] : _entries)
            if (entry.count > 1)
                values.emplace(key, std::move(entry.last));
        return values;
    }

private:
    struct Entry {
        std::size_t count = 0;
        PlistValue last;
    };
    std::unordered_set<Text> _keys;
    std::unordered_map<Text, Entry> _entries;
};

// One property list to CSV conversion: forwards the XML events to the converter's key-list pass and
// writes each element of the root array as a line as soon as the reader hands it over. By then the
// key list is final whenever the element is a dictionary: collection ends inside the first dictionary.
class CsvConversion : public PlistReaderDelegate {
    // Up to this many entries or keys a plain scan is quicker than building an index.
    static constexpr std::size_t linearLookupLimit = 32;

public:
    // With `allKeys` those are the columns, instead of the first dictionary's keys.
    CsvConversion(FileConverter& converter, CHCSVWriter& writer, bool header,
                  const std::vector<Text>* allKeys = nullptr, Text keyColumn = u"key")
        : _converter(converter), _writer(writer), _header(header), _allKeys(allKeys), _keyColumn(std::move(keyColumn))
    {
    }

    // With the repeated entries of the table (each key's last value): a line for the first entry
    // of each such key, with that value, and none for the others.
    void keepLaterEntries(std::unordered_map<Text, PlistValue>* repeated) { _laterEntries = repeated; }

    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
    {
        ++_elements;
        _rootDictionary = true;
        if (_laterEntries) {
            if (const auto found = _laterEntries->find(key); found != _laterEntries->end()) {
                if (!_writtenRepeats.insert(key).second)
                    return;
                value = found->second;
            }
        }
        const PlistValue keyValue(std::move(key));
        std::vector<const PlistValue*> fields{&keyValue};
        if (value.isDictionary()) {
            if (!_entryKeys)
                _entryKeys = _allKeys ? *_allKeys : keysOf(value);
            if (_header && !_headerWritten) {
                std::vector<Text> names{_keyColumn};
                names.insert(names.end(), _entryKeys->begin(), _entryKeys->end());
                _writer.writeLineOfFields(names);
                _headerWritten = true;
                ++_lines;
            }
            const bool everyKey = appendFields(value, *_entryKeys, fields);
            _writer.writeLineOfFields(fields);
            if (!everyKey)
                noteLeftOutKeys(value, *_entryKeys, "entry \"" + toUtf8Lossy(keyValue.string()) + "\"");
        } else if (value.isArray()) {
            for (const PlistValue& element : value.array())
                fields.push_back(&element);
            _writer.writeLineOfFields(fields);
        } else {
            fields.push_back(&value);
            _writer.writeLineOfFields(fields);
        }
        ++_lines;
    }

    // A selected value that is neither array nor dictionary: one line of one field.
    void readerDidReadSelectedValue(PlistValue&& value) override
    {
        _selectedValue = true;
        _writer.writeLineOfFields(std::vector<const PlistValue*>{&value});
        ++_lines;
    }

    void readerDidFindRepeatedKey(std::u16string_view key, std::uint64_t line, std::uint64_t byteOffset) override
    {
        if (_reportedKeys.size() < maxRewrittenKeys)
            _reportedKeys.emplace(key);
        else
            _tooManyRepeats = true;
        std::string where = line > 0 ? "line " + std::to_string(line) + ": " : byteOffset > 0 ? "byte " + std::to_string(byteOffset) + ": " : "";
        if (_repeatedKeys.size() < listedRepeats)
            _repeatedKeys.push_back(where + "dictionary repeats key \"" + toUtf8Lossy(key) + "\"; the later value is kept");
        else
            ++_moreRepeats;
    }

    /// One problem per repeated key (the first few), and a count of the rest.
    std::vector<std::string> repeatedKeys() const
    {
        std::vector<std::string> problems = _repeatedKeys;
        if (_moreRepeats > 0)
            problems.push_back(plural(_moreRepeats, "more repeated key", "more repeated keys") + " (the later values kept)");
        return problems;
    }

    bool selectedValue() const { return _selectedValue; }
    /// Whether entries of a table were handed over one by one while keys were reported repeated:
    /// then a line may have been written for each entry of one key.
    bool mayHaveRepeatedLines() const { return _rootDictionary && !_reportedKeys.empty(); }
    /// The keys reported repeated, at any depth; empty when there were too many to keep.
    std::unordered_set<Text> reportedKeys() const { return _tooManyRepeats ? std::unordered_set<Text>() : _reportedKeys; }

    void parserDidStartDocument() override { _converter.parserDidStartDocument(); }
    void parserDidStartElement(std::u16string_view name) override
    {
        if (!_rootElement && name != u"plist")
            _rootElement = Text(name);
        _converter.parserDidStartElement(name);
    }
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
            const std::optional<std::vector<Text>>& found = _converter.keys();
            const std::vector<Text>* keys = _allKeys ? _allKeys : found ? &*found : nullptr;
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
            const bool everyKey = appendFields(element, *keys, fields);
            _writer.writeLineOfFields(fields);
            ++_lines;
            for (const PlistValue* field : fields)
                if (field)
                    noteDates(field->unrepresentableDates());
            if (!everyKey)
                noteLeftOutKeys(element, *keys, "element " + std::to_string(_elements));
        } else if (element.isArray()) {
            _writer.writeLineOfFields(element.array());
            ++_lines;
            noteDates(element.unrepresentableDates());
        } else {
            ++_singleValues; // a line holds an array's or a dictionary's values: passed over, and reported
        }
    }

    /// The elements of a root array that were neither arrays nor dictionaries, so wrote no line.
    std::size_t singleValues() const { return _singleValues; }
    /// Where in the list reading is: "element 3" of a root array, "entry 3" of a root dictionary,
    /// the one after those handed over; "" when the root is neither (XML lists only).
    std::string readingAt() const
    {
        const std::string next = std::to_string(_elements + 1);
        if (_rootElement == u"array")
            return "element " + next;
        return _rootElement == u"dict" ? "entry " + next : "";
    }

    /// "2 dates (the first in element 3) ...", or "" when every date written was a calendar date.
    std::string unrepresentableDates() const
    {
        if (_badDates == 0)
            return "";
        return plural(_badDates, "date", "dates") + " (the first in element " + std::to_string(_firstBadDateElement)
               + ") cannot be written as a calendar date; written as seconds since 2001-01-01";
    }

    std::size_t lines() const { return _lines; }
    bool stopped() const { return _stopped; }

    /// "element 3 (x, y), element 7 (z)": the keys of later dictionaries that the key list lacks.
    std::string leftOutKeys() const
    {
        std::string text;
        for (const auto& [where, keys] : _leftOut) {
            if (!text.empty())
                text += ", ";
            text += where + " (" + keys + ")";
        }
        if (_moreLeftOut > 0)
            text += " and " + std::to_string(_moreLeftOut) + (_rootDictionary ? " more entries" : " more elements");
        return text;
    }

private:
    static std::vector<Text> keysOf(const PlistValue& dictionary)
    {
        std::vector<Text> keys;
        for (const auto& [key, value] : dictionary.dictionary())
            keys.push_back(key);
        return keys;
    }

    // The values of `dictionary` for `keys`, in that order (null where it has none). True when the
    // entries are the keys in their order, so that none was left out.
    bool appendFields(const PlistValue& dictionary, const std::vector<Text>& keys,
                      std::vector<const PlistValue*>& fields)
    {
        const PlistValue::Dictionary& entries = dictionary.dictionary();
        // Most dictionaries have the keys of the first, in its order: one comparison per key. With
        // distinct keys, equal entries hold no repeated key, so each is the one a look-up finds.
        if (entries.size() == keys.size() && distinct(keys)
            && std::equal(entries.begin(), entries.end(), keys.begin(),
                          [](const auto& entry, const Text& key) { return entry.first == key; })) {
            for (const auto& [key, value] : entries)
                fields.push_back(&value);
            return true;
        }
        if (entries.size() <= linearLookupLimit) {
            for (const Text& key : keys)
                fields.push_back(dictionary.objectForKey(key));
            return false;
        }
        // A look-up per key through every entry would take time quadratic in the size of
        // one dictionary (minutes for 100,000 keys): index the entries once, the later of
        // equal keys winning as it does in objectForKey().
        std::unordered_map<std::u16string_view, const PlistValue*> byKey;
        byKey.reserve(entries.size());
        for (const auto& [key, value] : entries)
            byKey.insert_or_assign(std::u16string_view(key), &value);
        for (const Text& key : keys) {
            const auto found = byKey.find(key);
            fields.push_back(found == byKey.end() ? nullptr : found->second);
        }
        return false;
    }

    // Whether the key list, final by the first dictionary, holds each name once; worked out once.
    bool distinct(const std::vector<Text>& keys)
    {
        if (!_keysDistinct) {
            std::unordered_set<std::u16string_view> names(keys.begin(), keys.end());
            _keysDistinct = names.size() == keys.size();
        }
        return *_keysDistinct;
    }

    void noteDates(std::size_t count)
    {
        if (count > 0 && _badDates == 0)
            _firstBadDateElement = _elements;
        _badDates += count;
    }

    void noteLeftOutKeys(const PlistValue& dictionary, const std::vector<Text>& keys, std::string where)
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
            _leftOut.emplace_back(std::move(where), std::move(missing));
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
    std::size_t _singleValues = 0;
    std::optional<Text> _rootElement; // the name of the root's XML element, once it started
    std::vector<std::pair<std::string, std::string>> _leftOut;
    std::size_t _moreLeftOut = 0;
    std::size_t _badDates = 0;            // dates written as seconds, having no calendar date
    std::size_t _firstBadDateElement = 0; // the element that held the first of them
    std::unordered_set<Text> _keySet; // the key list, for look-ups once it is long
    std::optional<bool> _keysDistinct;
    const std::vector<Text>* _allKeys;
    const Text _keyColumn;
    std::optional<std::vector<Text>> _entryKeys; // a root dictionary's columns, once known
    bool _rootDictionary = false;
    bool _selectedValue = false;
    static constexpr std::size_t listedRepeats = 10;
    std::vector<std::string> _repeatedKeys;
    std::size_t _moreRepeats = 0;
    // Beyond this many repeated keys, each entry is written as read (and the report says so).
    static constexpr std::size_t maxRewrittenKeys = 100000;
    std::unordered_set<Text> _reportedKeys;
    bool _tooManyRepeats = false;
    std::unordered_map<Text, PlistValue>* _laterEntries = nullptr;
    std::unordered_set<Text> _writtenRepeats;
};

// Where the lines go: the output file (or stream), re-encoded when another encoding is asked for.
struct CsvOutput {
    std::shared_ptr<AtomicFileOutputStream> stream;
    std::optional<CsvSink> sink;
};

// Opens the output for one writing; nothing when the output encoding is unknown, which `report`
// then says.
std::optional<CsvOutput> openCsvOutput(const std::string& outputPath, const CsvWriteDialect& dialect,
                                       ConversionMonitor& progress, ConversionReport& report)
{
    CsvOutput output;
    output.stream = std::make_shared<AtomicFileOutputStream>(outputPath, progress.existingOutput(),
                                                             progress.outputStream());
    std::string unknown;
    output.sink = CsvSink::open(output.stream,
                                {dialect.delimiter, dialect.crlf, dialect.byteOrderMark, &dialect.encodingName}, unknown);
    if (!output.sink) {
        report.problems.push_back(unknown);
        return std::nullopt;
    }
    return output;
}

// Whether the list can be read once more: it is in memory, or a regular file (not a pipe).
bool rereadable(const std::string& path, const std::string* bytes)
{
    struct stat info {};
    return bytes || (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode));
}

} // namespace

ConversionReport convertPlistToCsv(const std::string& path, const std::string& outputPath, bool header,
                                   FileConverter& keyListPass, const std::string* bytes,
                                   const CsvWriteDialect& dialect, const PlistToCsvShape& shape,
                                   ConversionMonitor* monitor)
{
    ConversionReport report;
    report.sourcePath = path;
    ConversionMonitor quiet;
    ConversionMonitor& progress = monitor ? *monitor : quiet;
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    struct stat info {};
    const bool regularFile = !bytes && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (bytes)
        progress.setTotal(bytes->size());
    else if (regularFile)
        progress.setTotal(static_cast<std::uint64_t>(info.st_size));
    std::uint64_t bytesRead = 0;
    PropertyListReadMonitor readMonitor;
    readMonitor.stop = progress.cancelFlag();
    readMonitor.pieceRead = [&](std::uint64_t done, std::uint64_t) {
        bytesRead = done;
        return progress.advance(done);
    };

    // The common table of strings goes straight from the file's bytes to the lines. Only from a
    // regular file: a pipe is opened once, by the general reader, so that no writer loses its bytes
    // to a reader that looked and went.
    if (regularFile && !shape.allKeys && !shape.selection) {
        if (std::optional<ConversionReport> rows =
                convertBinaryRows(path, outputPath, header, keyListPass, dialect, progress))
            return *rows;
        if (std::optional<ConversionReport> rows =
                convertStraightRows(path, outputPath, header, keyListPass, dialect, progress))
            return *rows;
    }

    std::optional<CsvOutput> output = openCsvOutput(outputPath, dialect, progress, report);
    if (!output)
        return report;
    const PlistPointer* selection = shape.selection ? &*shape.selection : nullptr;
    auto read = [&](PlistReaderDelegate& delegate) {
        return bytes ? PropertyListReader::readBytes(*bytes, delegate, readMonitor, selection)
                     : PropertyListReader::readFile(path, delegate, readMonitor, selection);
    };
    std::optional<AllKeysPass> allKeys;
    if (shape.allKeys) {
        // A first pass for the columns; when it fails, the second fails the same way and says why.
        allKeys.emplace();
        read(*allKeys);
        if (progress.cancelled())
            return ConversionMonitor::cancelledReport(path);
    }
    const Text keyColumn = shape.keyColumn ? fromUtf8Lossy(*shape.keyColumn) : Text(u"key");
    std::optional<CsvConversion> conversion;
    conversion.emplace(keyListPass, output->sink->writer(), header, allKeys ? &allKeys->keys : nullptr, keyColumn);
    PropertyListReadResult result = read(*conversion);
    // Every entry of a repeated key of the table went out as a line. Where the output can be
    // written again and the list read again, a second reading takes each such key's last value,
    // and a third writes it in the first entry's place, as a look-up in the list finds it.
    std::unordered_map<Text, PlistValue> laterEntries;
    bool repeatedLines = conversion->mayHaveRepeatedLines() && !progress.cancelled()
                         && (result.ok() || result.status == PropertyListReadResult::Status::RootNotArray);
    if (repeatedLines && !progress.outputStream() && rereadable(path, bytes)
        && !conversion->reportedKeys().empty()) {
        RepeatedEntries entries(conversion->reportedKeys());
        read(entries);
        laterEntries = std::move(entries).repeated();
        repeatedLines = !laterEntries.empty();
        if (repeatedLines && !progress.cancelled()) {
            output.reset(); // the first writing is dropped, an existing output untouched
            output = openCsvOutput(outputPath, dialect, progress, report);
            if (!output)
                return report;
            conversion.emplace(keyListPass, output->sink->writer(), header, allKeys ? &allKeys->keys : nullptr, keyColumn);
            conversion->keepLaterEntries(&laterEntries);
            result = read(*conversion);
            repeatedLines = false;
        }
    }
    CHCSVWriter& writer = output->sink->writer();
    const std::shared_ptr<AtomicFileOutputStream>& stream = output->stream;
    const TranscodingOutputStream* transcoder = output->sink->transcoder();
    // The temporary file goes with `stream`: an existing output stays as it was.
    if (result.status == PropertyListReadResult::Status::Stopped || progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    progress.finish(progress.total() > 0 ? progress.total() : bytesRead);
    report.records = conversion->lines();
    const bool rootDictionary = result.status == PropertyListReadResult::Status::RootNotArray
                                && (result.rootIsDictionary || conversion->selectedValue());
    if (!result.ok() && !rootDictionary) {
        // Nothing is committed: an existing output file stays as it was.
        if (result.invalidValue) {
            const std::string at = conversion->readingAt();
            report.problems.push_back(result.description() + (at.empty() ? "" : " in " + at)
                                      + "; nothing was written");
        } else
            report.problems.push_back(describeReadFailure(result));
        return report;
    }
    writer.closeStream();
    if (transcoder && transcoder->unencodable()) {
        // Nothing is committed: the file would lack text.
        report.problems.assign(1, transcoder->unencodable()->reason);
        return report;
    }
    if (writer.hasFailed() && !stream->error()) {
        // Text the writer could not encode (a lone surrogate): the field was left empty.
        report.problems.push_back(writer.failureReason());
    }
    if (std::error_code error = stream->commit()) {
        report.problems.assign(1, progress.writeFailure(outputPath, error));
        return report;
    }
    for (std::string& repeated : conversion->repeatedKeys())
        report.problems.push_back(std::move(repeated));
    if (repeatedLines)
        report.problems.push_back(progress.outputStream()
                                      ? "a line was written for each entry of a repeated key, as the output is a stream "
                                        "(written to a file, the later entry is kept)"
                                      : "a line was written for each entry of a repeated key");
    if (conversion->stopped())
        report.problems.push_back("error: not exist keys; the elements from the first dictionary on were not written");
    if (conversion->singleValues() > 0)
        report.problems.push_back(plural(conversion->singleValues(), "single value", "single values")
                                  + " at the top of the list " + (conversion->singleValues() == 1 ? "was" : "were")
                                  + " not written");
    if (const std::string dates = conversion->unrepresentableDates(); !dates.empty())
        report.problems.push_back(dates);
    const std::string leftOut = conversion->leftOutKeys();
    if (!leftOut.empty()) {
        report.problems.push_back("keys not in the first dictionary were left out: " + leftOut);
        report.notes.push_back("--all-keys writes a column for every key");
    }
    if (transcoder && transcoder->encoder().windowsForms() > 0)
        report.notes.push_back(transcoder->encoder().describeWindowsForms());
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

} // namespace plistable::detail
