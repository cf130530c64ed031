#include "core/convert/detail/PlistToCsvConversion.hpp"

#include "core/Log.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/detail/ConversionText.hpp"
#include "core/csv/CHCSVWriter.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/plist/PropertyListReader.hpp"

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace plistable::detail {
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

} // namespace

ConversionReport convertPlistToCsv(const std::string& path, const std::string& outputPath, bool header,
                                   FileConverter& keyListPass, const std::string* bytes,
                                   CsvWriteDialect dialect, ConversionMonitor* monitor)
{
    ConversionReport report;
    report.sourcePath = path;
    ConversionMonitor quiet;
    ConversionMonitor& progress = monitor ? *monitor : quiet;
    if (progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    struct stat info {};
    if (bytes)
        progress.setTotal(bytes->size());
    else if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        progress.setTotal(static_cast<std::uint64_t>(info.st_size));
    std::uint64_t bytesRead = 0;
    PropertyListReadMonitor readMonitor;
    readMonitor.stop = progress.cancelFlag();
    readMonitor.pieceRead = [&](std::uint64_t done, std::uint64_t) {
        bytesRead = done;
        return progress.advance(done);
    };

    auto stream = std::make_shared<AtomicFileOutputStream>(outputPath);
    if (dialect.byteOrderMark) {
        // Opened here so that the mark goes first; the writer takes the open stream as it is.
        stream->open();
        stream->write("\xEF\xBB\xBF", 3);
    }
    CHCSVWriter writer(stream, NSUTF8StringEncoding, dialect.delimiter);
    if (dialect.crlf)
        writer.setLineEnd(u"\r\n");
    CsvConversion conversion(keyListPass, writer, header);
    const PropertyListReadResult result = bytes ? PropertyListReader::readBytes(*bytes, conversion, readMonitor)
                                                : PropertyListReader::readFile(path, conversion, readMonitor);
    // The temporary file goes with `stream`: an existing output stays as it was.
    if (result.status == PropertyListReadResult::Status::Stopped || progress.cancelled())
        return ConversionMonitor::cancelledReport(path);
    progress.finish(progress.total() > 0 ? progress.total() : bytesRead);
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
        report.problems.push_back("keys not in the first dictionary were left out: " + leftOut);
    report.outputPath = outputPath;
    report.status = report.problems.empty() ? ConversionReport::Status::Converted : ConversionReport::Status::Partial;
    return report;
}

} // namespace plistable::detail
