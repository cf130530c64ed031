#include "cli/CommandContext.hpp"
#include "cli/CsvDialectNames.hpp"
#include "cli/Input.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "core/io/TranscodingOutputStream.hpp"
#include "core/csv/CHCSVAdditions.hpp"
#include "core/csv/CHCSVWriter.hpp"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <vector>

namespace plistable::cli {
namespace {

// Object keys stay in document order, which is the order their line writes them in.
using Json = nlohmann::ordered_json;

// Deeper documents are refused: turning them into values, and describing those values, recurses.
constexpr std::size_t nestingLimit = 512;

// The first parse error, found by a second pass that builds nothing, so that no exception is
// involved in reporting bad input.
class ErrorLocator : public nlohmann::json_sax<Json> {
public:
    std::size_t position = 0;
    std::string message;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t where, const std::string&, const nlohmann::detail::exception& error) override
    {
        position = where;
        // Keep the reason, without the library's tag and its own line/column prefix.
        message = error.what();
        const std::size_t column = message.find("column ");
        const std::size_t reason = column == std::string::npos ? column : message.find(": ", column);
        if (reason != std::string::npos)
            message.erase(0, reason + 2);
        return false;
    }
};

// The source text of every number that is no 64-bit integer (reals, and integers too large for one),
// in document order: the parser keeps only their nearest double.
class RealTexts : public nlohmann::json_sax<Json> {
public:
    std::vector<std::string> texts;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t& text) override
    {
        texts.push_back(text);
        return true;
    }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};

bool holdsReal(const Json& value)
{
    if (value.is_number_float())
        return true;
    if (value.is_structured())
        for (const Json& element : value)
            if (holdsReal(element))
                return true;
    return false;
}

// Byte offset of the first bracket nested deeper than the limit, in text already known to be JSON.
std::optional<std::size_t> offsetBeyondNestingLimit(std::string_view json)
{
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > nestingLimit)
                return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::nullopt;
}

// Where the top-level value starts: after a UTF-8 byte-order mark and white space.
std::size_t offsetOfValue(std::string_view json)
{
    std::size_t i = json.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\n' || json[i] == '\r'))
        ++i;
    return i;
}

// Hands out the source texts of the reals in document order, each only when it reads as the value
// met (a repeated object key, which keeps one value, would otherwise shift them).
class RealTextCursor {
public:
    explicit RealTextCursor(std::vector<std::string> texts) : _texts(std::move(texts)) {}

    std::optional<std::string> next(double value)
    {
        if (_next >= _texts.size())
            return std::nullopt;
        const std::string& text = _texts[_next++];
        const double read = std::strtod(text.c_str(), nullptr);
        if (read == value || (std::isinf(read) && std::isinf(value) && (read > 0) == (value > 0)))
            return text;
        return std::nullopt;
    }

private:
    std::vector<std::string> _texts;
    std::size_t _next = 0;
};

// Fields (elements of a line) that are reals keep the digits they were written with; reals nested in
// a field are written in JSON by their value.
PlistValue toPlistValue(const Json& value, RealTextCursor& reals, int depth = 0)
{
    switch (value.type()) {
    case Json::value_t::string: return PlistValue(fromUtf8Lossy(value.get_ref<const std::string&>()));
    case Json::value_t::number_integer: return PlistValue::integer(value.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return PlistValue::integer(static_cast<std::int64_t>(number));
        return PlistValue::unsignedInteger(number);
    }
    case Json::value_t::number_float: {
        const std::optional<std::string> text = reals.next(value.get<double>());
        if (text && depth == 2)
            return PlistValue(fromUtf8Lossy(*text));
        return PlistValue::real(value.get<double>());
    }
    case Json::value_t::boolean: return PlistValue::boolean(value.get<bool>());
    case Json::value_t::array: {
        PlistValue::Array array;
        array.reserve(value.size());
        for (const Json& element : value)
            array.push_back(toPlistValue(element, reals, depth + 1));
        return PlistValue(std::move(array));
    }
    case Json::value_t::object: {
        PlistValue::Dictionary dictionary;
        dictionary.reserve(value.size());
        for (const auto& [key, element] : value.items())
            dictionary.emplace_back(fromUtf8Lossy(key), toPlistValue(element, reals, depth + 1));
        return PlistValue(std::move(dictionary));
    }
    default: // null (and kinds a parse never yields) becomes the empty string
        return PlistValue(Text());
    }
}

// How the CSV text is written: the defaults give exactly CSVString()'s text.
struct WriteDialect {
    std::string delimiter; // a -d name, or empty for ","
    bool excel = false;
    bool crlf = false;
    bool bom = false;
    std::string encoding;  // empty for UTF-8

    bool isDefault() const { return delimiter.empty() && !excel && !crlf && !bom && encoding.empty(); }
};

// The rows as CSV bytes in `dialect`; nothing after telling why on `err` (a character the output
// encoding cannot hold, with its line).
std::optional<std::string> csvBytes(const PlistValue::Array& rows, const WriteDialect& dialect, const std::string& name,
                                    std::ostream& err)
{
    auto memory = std::make_shared<MemoryOutputStream>();
    std::shared_ptr<OutputStream> sink = memory;
    std::shared_ptr<TranscodingOutputStream> transcoder;
    if (!dialect.encoding.empty()) {
        // The name was checked by the option; a converter that still will not open is no encoding.
        std::optional<TextEncoder> encoder = TextEncoder::open(dialect.encoding);
        if (!encoder) {
            err << name << ": unknown output encoding: " << dialect.encoding << '\n';
            return std::nullopt;
        }
        if (encoder->canonicalName() != "UTF-8") {
            transcoder = std::make_shared<TranscodingOutputStream>(memory, std::move(*encoder));
            sink = transcoder;
        }
    }
    if ((dialect.bom || dialect.excel) && (!transcoder || transcoder->encoder().takesByteOrderMark())) {
        sink->open();
        sink->write("\xEF\xBB\xBF", 3);
    }
    {
        CHCSVWriter writer(sink, NSUTF8StringEncoding, delimiterNamed(dialect.delimiter).value_or(u','));
        if (dialect.crlf || dialect.excel)
            writer.setLineEnd(u"\r\n");
        for (const PlistValue& row : rows)
            if (row.isCollection())
                writer.writeLineOfFields(row);
        writer.closeStream();
    }
    if (transcoder && transcoder->unencodable()) {
        err << name << ": " << transcoder->unencodable()->reason << '\n';
        return std::nullopt;
    }
    return memory->bytes();
}

void writeCsv(CommandContext& context, const std::string& file, const WriteDialect& dialect)
{
    const bool fromInput = file.empty() || file == "-";
    const std::string name = fromInput ? "-" : file;
    std::string json;
    if (fromInput) {
        if (const std::error_code error = readWholeInput(context.in, json)) {
            context.err << "standard input: " << describeUnreadable(error) << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
    } else {
        FileContents contents = readFileContents(file);
        if (contents.error) {
            context.err << name << ": " << describeUnreadable(contents.error) << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        json = std::move(contents.bytes);
    }

    auto failAt = [&](std::size_t offset, const std::string& reason) {
        context.err << name << ": byte offset " << offset << ": " << reason << '\n';
        context.status = ExitStatus::Failed;
    };
    const Json document = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
        ErrorLocator locator;
        Json::sax_parse(json, &locator);
        // The parser counts the bytes it has read, up to the last byte of the offending token, so
        // the offset names where reading stopped.
        const std::size_t offset = locator.position > 0 ? std::min(locator.position - 1, json.size()) : 0;
        return failAt(offset, "invalid JSON: " + locator.message);
    }
    if (!document.is_array())
        return failAt(offsetOfValue(json), std::string("expected a JSON array at the top level, found: ") + document.type_name());
    if (const std::optional<std::size_t> offset = offsetBeyondNestingLimit(json))
        return failAt(*offset, "JSON nested deeper than " + std::to_string(nestingLimit) + " levels");

    RealTexts texts;
    if (holdsReal(document))
        Json::sax_parse(json, &texts);
    RealTextCursor reals(std::move(texts.texts));
    const PlistValue rows = toPlistValue(document, reals);
    if (dialect.isDefault()) {
        context.out << toUtf8Lossy(CSVString(rows.array()));
        return;
    }
    const std::optional<std::string> bytes = csvBytes(rows.array(), dialect, name, context.err);
    if (!bytes) {
        context.status = ExitStatus::Failed;
        return;
    }
    context.out << *bytes;
}

} // namespace

void addWriteCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand(
        "write", "Print a JSON array as CSV: each array or object element is one line (an object gives its keys)");
    command->footer("\n"
                    "Examples:\n"
                    "  echo '[[\"a\",\"b,c\"],[1.5,true]]' | plistable write\n"
                    "  plistable write rows.json > rows.csv\n"
                    "  plistable write --excel --output-encoding cp932 rows.json > rows-excel.csv");
    auto file = std::make_shared<std::string>("-");
    command->add_option("FILE", *file, "JSON file to read; standard input when absent or -");
    auto dialect = std::make_shared<WriteDialect>();
    command->add_option("-d,--delimiter", dialect->delimiter,
                        "Field delimiter: comma, semicolon, tab, pipe or one character (default: comma)")
        ->check([](const std::string& name) {
            return delimiterNamed(name) ? std::string() : "not a delimiter: " + name;
        });
    command->add_flag("--excel", dialect->excel,
                      "CSV as a spreadsheet opens it: a byte-order mark (for a Unicode encoding) and CRLF line ends");
    command->add_flag("--crlf", dialect->crlf, "End the lines with CRLF");
    command->add_flag("--bom", dialect->bom, "Begin with a byte-order mark (UTF-8, UTF-16LE/BE, UTF-32LE/BE only)");
    command->add_option("--output-encoding", dialect->encoding,
                        "Write in this encoding (e.g. cp932, windows-1252, utf-16le) instead of UTF-8; "
                        "a character it cannot hold fails the run and nothing is printed")
        ->check([](const std::string& name) {
            return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
        });
    endOptionsAtMarker(*command);
    command->callback([&context, file, dialect] {
        try {
            writeCsv(context, *file, *dialect);
        } catch (const std::bad_alloc&) {
            // Nothing is printed before the whole document is in memory.
            context.err << (*file == "-" || file->empty() ? std::string("standard input") : *file)
                        << ": too large to read into memory\n";
            context.status = ExitStatus::Failed;
        }
    });
}

} // namespace plistable::cli
