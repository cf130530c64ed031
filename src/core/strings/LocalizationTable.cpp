#include "core/strings/LocalizationTable.hpp"

#include "core/csv/CHCSVWriter.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/csv/detail/CsvSink.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "core/io/TranscodingOutputStream.hpp"
#include "core/text/EncodingDetection.hpp"
#include "core/text/TextDecoder.hpp"
#include "core/text/TextEncoder.hpp"
#include "core/text/TextEncoding.hpp"

#include <algorithm>
#include <array>

namespace plistable {

namespace {

constexpr std::array<std::string_view, 4> fixedColumns = {"table", "key", "variant", "comment"};

} // namespace

std::optional<std::size_t> LocalizationTable::languageIndex(std::string_view language) const
{
    for (std::size_t i = 0; i < languages.size(); ++i)
        if (languages[i] == language)
            return i;
    return std::nullopt;
}

std::optional<std::string> LocalizationTable::csvBytes(const LocalizationCsvWriting& dialect,
                                                       LocalizationProblem* problem) const
{
    auto fail = [&](std::uint64_t line, std::string message) -> std::optional<std::string> {
        if (problem)
            *problem = {"", line, std::move(message)};
        return std::nullopt;
    };
    auto memory = std::make_shared<MemoryOutputStream>();
    std::string unknown;
    std::optional<detail::CsvSink> sink = detail::CsvSink::open(
        memory, {dialect.delimiter, dialect.crlf, dialect.byteOrderMark, &dialect.encoding}, unknown);
    if (!sink)
        return fail(0, unknown);
    const TranscodingOutputStream* transcoder = sink->transcoder();
    {
        CHCSVWriter& writer = sink->writer();
        std::vector<Text> fields;
        for (std::string_view name : fixedColumns)
            fields.push_back(fromUtf8Lossy(name));
        for (const std::string& language : languages)
            fields.push_back(fromUtf8Lossy(language));
        writer.writeLineOfFields(fields);
        for (const LocalizationRow& row : rows) {
            fields = {fromUtf8Lossy(row.table), fromUtf8Lossy(row.key), fromUtf8Lossy(row.variant),
                      fromUtf8Lossy(row.comment)};
            for (std::size_t i = 0; i < languages.size(); ++i)
                fields.push_back(i < row.values.size() ? fromUtf8Lossy(row.values[i]) : Text());
            writer.writeLineOfFields(fields);
        }
        writer.closeStream();
        if (transcoder && transcoder->unencodable())
            return fail(transcoder->unencodable()->line, transcoder->unencodable()->reason.substr(
                                                             transcoder->unencodable()->reason.find(": ") + 2));
        if (writer.hasFailed())
            return fail(0, writer.failureReason());
    }
    return memory->bytes();
}

std::optional<LocalizationTable> LocalizationTable::fromCsvBytes(std::string_view bytes, const std::string& path,
                                                                 const LocalizationCsvReading& dialect,
                                                                 LocalizationProblem& problem)
{
    problem = {path, 0, ""};
    std::optional<Text> decoded;
    if (dialect.encoding) {
        decoded = decodeTextNamed(bytes, *dialect.encoding);
        if (!decoded) {
            const std::optional<std::uint64_t> at = TextDecoder::failureOffsetIn(bytes, *dialect.encoding);
            problem.message = "cannot be read as " + *dialect.encoding
                              + (at ? " at byte offset " + std::to_string(*at) : std::string());
            return std::nullopt;
        }
    } else {
        const TextEncoding encoding = detectEncoding(bytes, decoded);
        if (!decoded) {
            problem.message = "cannot be decoded as " + std::string(encodingName(encoding));
            return std::nullopt;
        }
    }
    Text& text = *decoded;
    if (!text.empty() && text.front() == u'\uFEFF')
        text.erase(0, 1);
    // A spreadsheet's "sep=;" line names the delimiter of the lines after it (as `convert` reads it).
    Text separator(1, dialect.delimiter);
    std::uint64_t skippedLines = 0;
    if (dialect.separatorLine && text.size() >= 5 && std::u16string_view(text).starts_with(u"sep=")
        && (text.size() == 5 || text[5] == u'\n' || text[5] == u'\r')) {
        separator.assign(1, text[4]);
        std::size_t drop = std::u16string_view(text).substr(5).starts_with(u"\r\n") ? 7 : text.size() > 5 ? 6 : 5;
        text.erase(0, drop);
        skippedLines = 1;
    }
    if (separator.front() == u'"' || separator.front() == u'\n' || separator.front() == u'\r') {
        problem.message = "the sep= line names no usable delimiter";
        return std::nullopt;
    }
    CSVParser parser(text, separator, false);
    std::vector<Row> records;
    std::vector<std::size_t> starts; // where each record begins; its line is counted only when needed
    parser.parseRowsForReceiver([&](Record&& record) {
        records.push_back(std::move(std::get<Row>(record)));
        starts.push_back(parser.recordStartOffset());
    });
    const CSVParseStop& stop = parser.lastParseStop();
    if (!stop.complete && stop.reason != CSVStopReason::LeadingLineBreak) {
        problem.line = stop.line + skippedLines;
        problem.message = std::string(describeStopReason(stop.reason));
        return std::nullopt;
    }
    if (records.empty()) {
        problem.message = "is empty: a localization table begins with the line table,key,variant,comment,LANG,...";
        return std::nullopt;
    }
    const Row& header = records.front();
    bool headed = header.size() >= fixedColumns.size();
    for (std::size_t i = 0; headed && i < fixedColumns.size(); ++i)
        headed = toUtf8Lossy(header[i]) == fixedColumns[i];
    if (!headed) {
        problem.line = 1 + skippedLines;
        problem.message = "not a localization table: the header must begin table,key,variant,comment";
        return std::nullopt;
    }
    LocalizationTable table;
    for (std::size_t i = fixedColumns.size(); i < header.size(); ++i) {
        std::string language = toUtf8Lossy(header[i]);
        if (language.empty() || table.languageIndex(language)) {
            problem.line = 1 + skippedLines;
            problem.message = language.empty() ? "a language column has no name"
                                               : "the language column \"" + language + "\" repeats";
            return std::nullopt;
        }
        table.languages.push_back(std::move(language));
    }
    for (std::size_t r = 1; r < records.size(); ++r) {
        const Row& record = records[r];
        auto field = [&](std::size_t i) { return i < record.size() ? toUtf8Lossy(record[i]) : std::string(); };
        LocalizationRow row{field(0), field(1), field(2), field(3), {}};
        for (std::size_t i = 0; i < table.languages.size(); ++i)
            row.values.push_back(field(fixedColumns.size() + i));
        // A line of nothing but empty fields (a spreadsheet's trailing line) holds no string.
        if (row.table.empty() && row.key.empty() && row.variant.empty() && row.comment.empty()
            && std::all_of(row.values.begin(), row.values.end(), [](const std::string& v) { return v.empty(); }))
            continue;
        if (row.table.empty()) {
            problem.line = parser.lineAtOffset(starts[r]) + skippedLines;
            problem.message = "the row names no table";
            return std::nullopt;
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

} // namespace plistable
