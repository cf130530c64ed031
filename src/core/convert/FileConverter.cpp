#include "core/convert/FileConverter.hpp"

#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"
#include "core/convert/detail/ConversionMonitor.hpp"
#include "core/convert/detail/CsvToPlistConversion.hpp"
#include "core/convert/detail/PlistToCsvConversion.hpp"
#include "core/io/PathUtilities.hpp"
#include "core/text/TextEncoding.hpp"

#include <sys/stat.h>

namespace plistable {
namespace {

// The output path for `source`: the save folder, the source's name with its last extension replaced.
std::string outputPathFor(const std::optional<std::string>& saveDirPath, const std::string& source,
                          std::string_view extension)
{
    return saveDirPath.value_or("")
           + stringByAppendingPathExtension(stringByDeletingPathExtension(lastPathComponent(source)), extension);
}

} // namespace

FileConverter::FileConverter(UserDefaults& defaults, ConversionOptions options)
    : _defaults(&defaults), _options(std::move(options))
{
    _defaults->registerDefaults({{std::string(settings::headerKey), settings::headerDefault}});
}

FileConverter::FileConverter(ConversionOptions options) : _defaults(nullptr), _options(std::move(options)) {}

detail::ConversionMonitor FileConverter::monitor() const
{
    return detail::ConversionMonitor(_options);
}

detail::CsvToPlistShape FileConverter::csvToPlistShape() const
{
    const bool utf16 = _options.csvWrite.encodingName && canonicalEncodingName(*_options.csvWrite.encodingName)
                       && canonicalEncodingName(*_options.csvWrite.encodingName)->starts_with("UTF-16");
    return {_options.shape.types, _options.shape.keyedColumn, _options.shape.dedupeKeys, _options.output.format,
            utf16};
}

detail::PlistToCsvShape FileConverter::plistToCsvShape() const
{
    return {_options.shape.allKeys, _options.shape.keyedColumn, _options.shape.select};
}

std::string_view FileConverter::csvOutputExtension() const
{
    return _options.output.format == OutputFormat::Json      ? "json"
           : _options.output.format == OutputFormat::Strings ? "strings"
                                                             : "plist";
}

bool FileConverter::headerSetting() const
{
    if (_options.shape.header || !_defaults)
        return _options.shape.header.value_or(settings::headerDefault);
    return _defaults->boolForKey(std::string(settings::headerKey));
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
        if (_options.run.cancel && _options.run.cancel->load()) {
            reports.push_back(detail::ConversionMonitor::cancelledReport(path));
        } else if (_options.run.inputKind) {
            reports.push_back(*_options.run.inputKind == InputKind::Csv ? createPlist(path) : createCsv(path));
        } else if (extension == "csv") {
            reports.push_back(createPlist(path));
        } else if (extension == "plist") {
            reports.push_back(createCsv(path));
        } else {
            ConversionReport skipped;
            skipped.sourcePath = path;
            skipped.status = ConversionReport::Status::Skipped;
            if (_options.output.path) {
                // An output was named for this file: passing it over would leave that output unwritten.
                skipped.status = ConversionReport::Status::Failed;
                skipped.problems.push_back("not a .csv or .plist file; nothing was written");
                skipped.notes.push_back("--from csv or --from plist reads it as that kind");
            } else {
                skipped.notes.push_back("not a .csv or .plist file; passed over");
            }
            reports.push_back(std::move(skipped));
        }
    }
    return reports;
}

std::optional<std::string> FileConverter::plannedOutputPath(const std::string& path, const std::string& folder) const
{
    // Mirrors the dispatch of convertDroppedFiles() and the names of createPlist() / createCsv().
    std::string_view extension;
    if (_options.run.inputKind)
        extension = *_options.run.inputKind == InputKind::Csv ? "plist" : "csv";
    else if (const std::string given = pathExtension(path); given == "csv")
        extension = "plist";
    else if (given == "plist")
        extension = "csv";
    else
        return std::nullopt;
    return _options.output.path.value_or(outputPathFor(folder + "/", path, extension));
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
    const std::string outputPath = _options.output.path.value_or(outputPathFor(_saveDirPath, path, csvOutputExtension()));
    if (std::optional<ConversionReport> refused = refuseOutput(path, outputPath))
        return *refused;
    detail::ConversionMonitor progress = monitor();
    return detail::convertCsvToPlist(path, outputPath, headerSetting(), nullptr, _options.csvRead,
                                     csvToPlistShape(), &progress);
}

ConversionReport FileConverter::convertBytes(std::string bytes, const std::string& sourceName, InputKind kind)
{
    const std::string outputPath = _options.output.path.value_or(
        outputPathFor(_saveDirPath, sourceName, kind == InputKind::Csv ? csvOutputExtension() : "csv"));
    if (std::optional<ConversionReport> refused = refuseOutput(sourceName, outputPath, false))
        return *refused;
    detail::ConversionMonitor progress = monitor();
    if (kind == InputKind::Csv)
        return detail::convertCsvToPlist(sourceName, outputPath, headerSetting(), &bytes, _options.csvRead,
                                         csvToPlistShape(), &progress);
    _keys.reset();
    return detail::convertPlistToCsv(sourceName, outputPath, headerSetting(), *this, &bytes, _options.csvWrite,
                                     plistToCsvShape(), &progress);
}

void FileConverter::parserDidStartDocument()
{
    _keys.emplace();
    _keySet.clear();
    _count = keyListBeforePlist;
    _writeFlg = false;
    _keyText.clear();
    _depth = 0;
    _arrayDepth = 0;
    _dictDepth = 0;
}

void FileConverter::finishKey()
{
    // The whole character content of one key element is one name, the empty name included.
    if (_writeFlg && _keys && _keySet.insert(_keyText).second)
        _keys->push_back(_keyText);
    _keyText.clear();
}

void FileConverter::parserDidStartElement(std::u16string_view elementName)
{
    finishKey();
    _writeFlg = false;
    // `depth` counts the elements open around this one. Only a dictionary that is an element of
    // the root array starts collection, only its own keys count, and only its end finishes the
    // list: dictionaries nested in it or in earlier array rows are passed over.
    const std::size_t depth = _depth++;
    // Tested from the highest state down, each on the state the tests before it left, so one
    // element start moves the pass on by one step at most.
    if (_count == keyListCollecting && elementName == u"key" && depth == _dictDepth + 1)
        _writeFlg = true;
    if (_count == keyListInArray && elementName == u"dict" && depth == _arrayDepth + 1) {
        _count = keyListCollecting;
        _dictDepth = depth;
    }
    if (_count == keyListInPlist && elementName == u"array") {
        _count = keyListInArray;
        _arrayDepth = depth;
    }
    if (_count == keyListBeforePlist && elementName == u"plist")
        _count = keyListInPlist;
}

void FileConverter::parserDidEndElement(std::u16string_view)
{
    finishKey();
    _writeFlg = false;
    if (_depth > 0)
        --_depth;
    if (_count == keyListCollecting && _depth == _dictDepth)
        _count = keyListFinished;
}

void FileConverter::parserFoundCharacters(std::u16string_view characters)
{
    if (_writeFlg)
        _keyText.append(characters);
}

ConversionReport FileConverter::createCsv(const std::string& path)
{
    _keys.reset();
    const std::string outputPath = _options.output.path.value_or(outputPathFor(_saveDirPath, path, "csv"));
    if (std::optional<ConversionReport> refused = refuseOutput(path, outputPath))
        return *refused;
    detail::ConversionMonitor progress = monitor();
    return detail::convertPlistToCsv(path, outputPath, headerSetting(), *this, nullptr, _options.csvWrite,
                                     plistToCsvShape(), &progress);
}

std::optional<ConversionReport> FileConverter::refuseOutput(const std::string& source, const std::string& outputPath,
                                                            bool sourceIsFile) const
{
    // Looked at before anything is read, so that a refused file is left as it is. A stream replaces no file.
    if (_options.output.stream)
        return std::nullopt;
    std::string problem;
    struct stat info {};
    if (sourceIsFile && sameFile(source, outputPath))
        problem = resolvedPath(outputPath) == resolvedPath(source)
                      ? "the output would replace the input"
                      : "the output " + outputPath + " would replace the input";
    else if (::stat(outputPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        problem = "cannot write " + outputPath + ": it is a folder";
    else if (::lstat(outputPath.c_str(), &info) == 0 && _options.output.noClobber)
        problem = outputPath + ": exists, not replaced";
    else if (::stat(outputPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        problem = "cannot write " + outputPath + ": not a regular file";
    else
        return std::nullopt;
    ConversionReport report;
    report.sourcePath = source;
    report.problems.push_back(std::move(problem));
    return report;
}

} // namespace plistable
