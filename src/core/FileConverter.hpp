#pragma once

#include "core/CSVParser.hpp"
#include "core/ConversionReport.hpp"

#include <optional>
#include <string>
#include <vector>

namespace plistable {

class UserDefaults;

/// Overrides a caller may give for every conversion, instead of the stored setting or detection.
struct ConversionOptions {
    std::optional<bool> header;               ///< instead of the stored "header" setting
    std::optional<std::string> encodingName;  ///< read every CSV file in this encoding instead of detecting it
};

/// The two conversions and the dispatch that sends each dropped file to its conversion. A ".csv"
/// file becomes an XML property list, a ".plist" file a CSV file, each named after its source with
/// the last extension replaced and written into the save folder. An output file is only ever
/// replaced by a complete new one. Conversions never throw on bad data; they report.
class FileConverter {
public:
    /// Reads the "header" setting from `defaults` at every conversion (registering its default, false).
    explicit FileConverter(UserDefaults& defaults, ConversionOptions options = {});

    /// Sets the save folder to `folder` + "/" and converts every path, in order, by its extension:
    /// exactly "csv" with createPlist, exactly "plist" with createCsv; any other is passed over
    /// (a Skipped report). Goes on after any failure. One report per path, in order.
    std::vector<ConversionReport> convertDroppedFiles(const std::vector<std::string>& paths, const std::string& folder);

    /// Converts one CSV file into "<save folder><name>.plist": detects the encoding, drops a leading
    /// byte-order mark, parses with "," and the header setting, streams the document into a temporary
    /// file and renames it over the target. A file that cannot be read or decoded writes nothing.
    ConversionReport createPlist(const std::string& path);

    /// Converts one property list whose root is an array into "<save folder><name>.csv".
    ConversionReport createCsv(const std::string& path);

    /// The records of `text` parsed with "," and the current header setting; nothing when it has none.
    std::optional<std::vector<Record>> csvparse(std::u16string_view text);

    /// The first row of `text` parsed without a header (reading no further); nothing when it has none.
    std::optional<Row> csvparseToHeader(std::u16string_view text);

    /// The save folder with its "/" (set by convertDroppedFiles), or nothing before the first.
    const std::optional<std::string>& saveDirPath() const { return _saveDirPath; }

private:
    bool headerSetting() const;

    UserDefaults& _defaults;
    ConversionOptions _options;
    std::optional<std::string> _saveDirPath;
};

} // namespace plistable
