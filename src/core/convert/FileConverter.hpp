#pragma once

#include "core/csv/CSVParser.hpp"
#include "core/convert/ConversionOptions.hpp"
#include "core/convert/ConversionReport.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace plistable {

class UserDefaults;

namespace detail {
struct CsvToPlistShape;
struct PlistToCsvShape;
class ConversionMonitor;
}

/// The two conversions and the dispatch that sends each dropped file to its conversion. A ".csv"
/// file becomes an XML property list, a ".plist" file a CSV file, each named after its source with
/// the last extension replaced and written into the save folder. An output file is only ever
/// replaced by a complete new one, and only when it is a regular file (or a link to one): an output
/// that is the file's own input, a folder or a special file fails the file before anything is read.
/// Conversions never throw on bad data; they report.
class FileConverter {
public:
    /// Reads the "header" setting from `defaults` at every conversion (registering its default, false).
    explicit FileConverter(UserDefaults& defaults, ConversionOptions options = {});

    /// Reads no settings store: the header is the header option (off when not given).
    explicit FileConverter(ConversionOptions options);

    /// Sets the save folder to `folder` + "/" and converts every path, in order, by its extension:
    /// exactly "csv" with createPlist, exactly "plist" with createCsv; any other is passed over
    /// (a Skipped report), or fails when the output path option names its output. Goes on after any
    /// failure. One report per path, in order; once the cancel option reads true, every file not yet
    /// started is reported Cancelled.
    std::vector<ConversionReport> convertDroppedFiles(const std::vector<std::string>& paths, const std::string& folder);

    /// The file convertDroppedFiles() would write for `path` given `folder`, or nothing when it would
    /// pass the file over. Reads nothing.
    std::optional<std::string> plannedOutputPath(const std::string& path, const std::string& folder) const;

    /// Converts `bytes` (named `sourceName` in the report) as a file of `kind` would be converted,
    /// into the output path option, or into "<save folder><sourceName>.<extension>" without one.
    ConversionReport convertBytes(std::string bytes, const std::string& sourceName, InputKind kind);

    /// Converts one CSV file into "<save folder><name>.plist" (".json" with OutputFormat::Json): detects
    /// the encoding, drops a leading byte-order mark, parses with "," and the header setting, streams
    /// the document into a temporary file and renames it over the target. A file that cannot be read or
    /// decoded, or (keyed) holds a repeated or empty key, writes nothing.
    ConversionReport createPlist(const std::string& path);

    /// Converts one property list (XML or binary) whose root is an array or a dictionary (a line per
    /// entry, its key first, see ConversionOptions) into "<save folder><name>.csv"
    /// in one streaming pass: each array element becomes a line of its elements, each dictionary a
    /// line of its values in the order of the key list (below); other elements are passed over and
    /// counted among the problems (the report is Partial). With
    /// the header setting the key list is written once, just before the first dictionary line. The
    /// output is replaced only when the whole list was read and written; a file that cannot be read,
    /// is no property list or has another root writes nothing.
    ConversionReport createCsv(const std::string& path);

    // The key-list pass, fed with the XML events of the property list being converted: it collects
    // into `keys()` the names of the key elements of the first dictionary that starts after the first
    // array began, at whatever depth, in document order; the next dictionary start ends collection.

    /// Starts a new key list (empty) and resets the pass.
    void parserDidStartDocument();
    /// Moves the pass on by at most one state; a "key" inside the first dictionary is collected.
    void parserDidStartElement(std::u16string_view elementName);
    /// Ends the collection of the current key element's characters.
    void parserDidEndElement(std::u16string_view elementName);
    /// Characters of the document; those of a collected key element make up one name.
    void parserFoundCharacters(std::u16string_view characters);
    /// Does nothing.
    void parserDidEndDocument() {}

    /// The key list collected by the last pass, or nothing when no pass has begun a document since
    /// the last conversion started.
    const std::optional<std::vector<Text>>& keys() const { return _keys; }

    /// The records of `text` parsed with "," and the current header setting; nothing when it has none.
    std::optional<std::vector<Record>> csvparse(std::u16string_view text);

    /// The first row of `text` parsed without a header (reading no further); nothing when it has none.
    std::optional<Row> csvparseToHeader(std::u16string_view text);

    /// The save folder with its "/" (set by convertDroppedFiles), or nothing before the first.
    const std::optional<std::string>& saveDirPath() const { return _saveDirPath; }

private:
    bool headerSetting() const;
    // The Failed report for an output that must not be written: the source itself, a folder, a special
    // file, or (with noClobber) any existing file. Nothing when it may be written. `source` is only a
    // name when it is no file (bytes given).
    std::optional<ConversionReport> refuseOutput(const std::string& source, const std::string& outputPath,
                                                 bool sourceIsFile = true) const;
    detail::CsvToPlistShape csvToPlistShape() const;
    detail::PlistToCsvShape plistToCsvShape() const;
    std::string_view csvOutputExtension() const; // of the document a CSV file becomes
    void finishKey();
    detail::ConversionMonitor monitor() const;

    UserDefaults* _defaults; // none: the header comes from the options alone
    ConversionOptions _options;
    std::optional<std::string> _saveDirPath;

    // Key-list pass states, held in _count.
    static constexpr std::int32_t keyListBeforePlist = 0; // before <plist>
    static constexpr std::int32_t keyListInPlist = 1;     // inside it
    static constexpr std::int32_t keyListInArray = 2;     // after the first array began
    static constexpr std::int32_t keyListCollecting = 3;  // inside the first dictionary
    static constexpr std::int32_t keyListFinished = 4;    // the first dictionary ended

    std::optional<std::vector<Text>> _keys;
    std::int32_t _count = keyListBeforePlist;
    bool _writeFlg = false; // the characters now reported belong to a key being collected
    Text _keyText;          // the characters of that key so far
    std::unordered_set<Text> _keySet; // the names in _keys: a repeated key is listed once
    std::size_t _depth = 0;      // elements open now
    std::size_t _arrayDepth = 0; // elements open around the root array
    std::size_t _dictDepth = 0;  // elements open around the first dictionary of the root array
};

} // namespace plistable
