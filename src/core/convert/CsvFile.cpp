#include "core/convert/CsvFile.hpp"

#include "core/csv/CHCSVWriter.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/io/AtomicFileOutputStream.hpp"
#include "core/io/FileContents.hpp"
#include "core/text/EncodingDetection.hpp"
#include "core/text/TextDecoder.hpp"
#include "core/text/TextEncoding.hpp"

#include <memory>
#include <utility>

namespace plistable {
namespace {

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

// The parser asserts on a bad separator (a programmer error for it); here the delimiter comes from the
// caller's data, so it is checked first and reported as an error instead.
std::optional<CsvFileError> checkDelimiter(const Text& delimiter)
{
    if (delimiter.empty())
        return CsvFileError{0, "the delimiter is empty"};
    for (char16_t c : delimiter) {
        if (c == u'"' || isLineBreak(c))
            return CsvFileError{0, "the delimiter holds a double quote or a line break"};
    }
    return std::nullopt;
}

std::vector<std::string> toUtf8(const Row& row)
{
    std::vector<std::string> fields;
    fields.reserve(row.size());
    for (const Text& field : row)
        fields.push_back(toUtf8Lossy(field));
    return fields;
}

} // namespace

CsvFileResult readCsvFile(const std::string& path, const CsvFileOptions& options)
{
    CsvFileResult result;
    const Text delimiter = fromUtf8Lossy(options.delimiter);
    if (auto error = checkDelimiter(delimiter)) {
        result.error = std::move(error);
        return result;
    }

    FileContents contents = readFileContents(path);
    if (contents.error) {
        result.error = CsvFileError{0, "cannot read: " + contents.error.message()};
        return result;
    }

    std::optional<Text> decoded;
    std::optional<std::size_t> cutOff; // the offset of a last character cut off by the end of the file
    if (options.encoding.empty()) {
        const TextEncoding encoding = detectEncoding(contents.bytes, decoded);
        result.encoding = std::string(encodingName(encoding));
        if (const std::size_t cut = encoding == NSUTF8StringEncoding ? cutOffUtf8Length(contents.bytes) : 0)
            cutOff = contents.bytes.size() - cut;
    } else {
        const std::optional<std::string> canonical = canonicalEncodingName(options.encoding);
        if (!canonical) {
            result.error = CsvFileError{0, "unknown encoding: " + options.encoding};
            return result;
        }
        result.encoding = *canonical;
        decoded = decodeTextNamed(contents.bytes, options.encoding);
    }
    if (!decoded) {
        const std::optional<std::uint64_t> at =
            options.encoding.empty() ? std::nullopt : TextDecoder::failureOffsetIn(contents.bytes, options.encoding);
        result.error = CsvFileError{0, "cannot be decoded as " + result.encoding
                                           + (at ? " at byte offset " + std::to_string(*at) : std::string())};
        result.encoding.clear();
        return result;
    }
    contents.bytes = std::string();

    // A byte-order mark is not data: without this the first field would begin with U+FEFF.
    std::u16string_view text = *decoded;
    if (!text.empty() && text.front() == u'\uFEFF')
        text.remove_prefix(1);

    // Read without the parser's header mode, which keys records by name (and so merges equal names);
    // the first row read is the header, so every column stays in file order.
    CSVParser parser(text, delimiter, false);
    bool headerTaken = !options.header;
    parser.parseRowsForReceiver([&](Record&& record) {
        Row& row = std::get<Row>(record);
        if (!headerTaken) {
            result.header = toUtf8(row);
            headerTaken = true;
            return;
        }
        result.rows.push_back(toUtf8(row));
    });

    const CSVParseStop& stop = parser.lastParseStop();
    if (!stop.complete) {
        const std::size_t line = stop.reason == CSVStopReason::LeadingLineBreak ? 1 : stop.line;
        result.error = CsvFileError{line, std::string(describeStopReason(stop.reason))};
    } else if (cutOff) {
        // Every row is there; the last character of the last one is U+FFFD.
        result.error = CsvFileError{0, "the character at byte offset " + std::to_string(*cutOff)
                                           + " is cut off by the end of the file; read as U+FFFD"};
    }
    return result;
}

std::optional<CsvFileError> writeCsvFile(const std::string& path, const std::vector<std::vector<std::string>>& rows,
                                         const CsvFileOptions& options)
{
    const Text delimiter = fromUtf8Lossy(options.delimiter);
    if (auto error = checkDelimiter(delimiter))
        return error;
    if (delimiter.size() != 1)
        return CsvFileError{0, "the delimiter must be one character"};

    auto stream = std::make_shared<AtomicFileOutputStream>(path);
    {
        CHCSVWriter writer(stream, NSUTF8StringEncoding, delimiter.front());
        std::vector<Text> fields;
        auto writeLine = [&](const std::vector<std::string>& row) {
            fields.clear();
            for (const std::string& field : row)
                fields.push_back(fromUtf8Lossy(field));
            writer.writeLineOfFields(fields);
        };
        if (!options.columnNames.empty())
            writeLine(options.columnNames);
        for (const std::vector<std::string>& row : rows)
            writeLine(row);
        writer.closeStream();
        if (writer.hasFailed())
            return CsvFileError{0, writer.failureReason()};
    }
    if (const std::error_code error = stream->commit())
        return CsvFileError{0, "cannot write: " + error.message()};
    return std::nullopt;
}

} // namespace plistable
