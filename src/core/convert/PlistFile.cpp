#include "core/convert/PlistFile.hpp"

#include "core/convert/detail/FieldTypes.hpp"
#include "core/convert/detail/JsonWriter.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/plist/detail/BinaryPlistWriter.hpp"
#include "core/plist/detail/OpenStepWriter.hpp"
#include "core/plist/detail/PlistXmlWriter.hpp"
#include "core/text/TextEncoding.hpp"

#include <cerrno>
#include <filesystem>
#include <unistd.h>
#include <unordered_map>

namespace plistable {
namespace {

// The root's elements (or entries) through one of the writers, which share this interface.
template <class Writer>
std::size_t writeRoot(Writer& writer, const PlistValue& root)
{
    writer.beginValues(root.isDictionary());
    if (root.isDictionary()) {
        for (const auto& [key, value] : root.dictionary())
            writer.writeEntry(key, value);
    } else {
        for (const PlistValue& value : root.array())
            writer.writeValue(value);
    }
    writer.endValues();
    return writer.replacedCharacters();
}

} // namespace

PlistValue plistValue(const std::vector<std::vector<std::string>>& rows, const PlistFileOptions& options)
{
    // As the conversion of a CSV file does it: a repeated name is written each time it stands in
    // the header, always with the value of its last column.
    std::vector<Text> names;
    std::unordered_map<Text, std::size_t> lastColumn;
    for (std::size_t column = 0; column < options.header.size(); ++column)
        lastColumn[names.emplace_back(fromUtf8Lossy(options.header[column]))] = column;
    PlistValue::Array root;
    root.reserve(rows.size());
    for (const std::vector<std::string>& row : rows) {
        if (options.header.empty()) {
            PlistValue::Array fields;
            fields.reserve(row.size());
            for (const std::string& field : row)
                fields.push_back(detail::fieldValue(fromUtf8Lossy(field), options.types));
            root.emplace_back(std::move(fields));
            continue;
        }
        PlistValue::Dictionary entries;
        entries.reserve(names.size());
        for (const Text& name : names) {
            const std::size_t column = lastColumn[name];
            const Text field = column < row.size() ? fromUtf8Lossy(row[column]) : Text();
            entries.emplace_back(name, detail::fieldValue(field, options.types));
        }
        root.emplace_back(std::move(entries));
    }
    return PlistValue(std::move(root));
}

std::optional<PlistFileError> writePlistFile(const PlistValue& value, const std::string& path, OutputFormat format)
{
    if (!value.isCollection())
        return PlistFileError{"the root is not an array or a dictionary"};
    AtomicFile file(path);
    std::size_t replaced = 0;
    switch (format) {
    case OutputFormat::Binary: {
        detail::BinaryPlistWriter writer(file);
        replaced = writeRoot(writer, value);
        break;
    }
    case OutputFormat::Json: {
        detail::JsonWriter writer(file);
        replaced = writeRoot(writer, value);
        break;
    }
    case OutputFormat::Xml: {
        detail::PlistXmlWriter writer(file);
        replaced = writeRoot(writer, value);
        break;
    }
    case OutputFormat::OpenStep:
    case OutputFormat::Strings: {
        const bool stringsForm = format == OutputFormat::Strings;
        if (stringsForm && !value.isDictionary())
            return PlistFileError{"a strings file holds a dictionary, and the root is an array"};
        detail::OpenStepWriter writer(file, stringsForm, false);
        replaced = writeRoot(writer, value);
        break;
    }
    }
    if (const std::error_code error = file.commit())
        return PlistFileError{"cannot write: " + error.message()};
    if (replaced > 0)
        return PlistFileError{std::to_string(replaced) + " characters XML cannot hold were written as U+FFFD"};
    return std::nullopt;
}

std::optional<PlistFileError> writePlistFile(const std::vector<std::vector<std::string>>& rows,
                                             const std::string& path, const PlistFileOptions& options)
{
    return writePlistFile(plistValue(rows, options), path, options.format);
}

PlistTextResult plistText(const PlistValue& value, OutputFormat format)
{
    // The writers write files (large documents go out while they are made); a private file in the
    // temporary folder holds the document until it is read back.
    PlistTextResult result;
    std::string path = (std::filesystem::temp_directory_path() / "plistable-text-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        const std::error_code error(errno, std::generic_category());
        result.error = PlistFileError{"cannot make a temporary file: " + error.message()};
        return result;
    }
    ::close(fd);
    result.error = writePlistFile(value, path, format);
    FileContents contents = readFileContents(path);
    ::unlink(path.c_str());
    if (contents.error && !result.error)
        result.error = PlistFileError{"cannot read the document back: " + contents.error.message()};
    if (!contents.error)
        result.bytes = std::move(contents.bytes);
    return result;
}

PlistTextResult plistText(const std::vector<std::vector<std::string>>& rows, const PlistFileOptions& options)
{
    return plistText(plistValue(rows, options), options.format);
}

} // namespace plistable
