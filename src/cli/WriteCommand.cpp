#include "cli/CommandContext.hpp"
#include "cli/CsvDialectNames.hpp"
#include "cli/Input.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/MemoryOutputStream.hpp"
#include "core/io/TranscodingOutputStream.hpp"
#include "core/csv/CHCSVAdditions.hpp"
#include "core/csv/CHCSVWriter.hpp"
#include "core/text/JsonString.hpp"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
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

// Builds the document as the library's own parser would (a repeated object key keeps its first place and
// its last value), except that every number no 64-bit integer holds (reals, and integers too large for
// one) is kept as binary holding its source text: the parser alone would keep only the nearest double.
// The first parse error is kept too, so that no exception is involved in reporting bad input.
class DocumentBuilder : public nlohmann::json_sax<Json> {
public:
    Json document;
    std::size_t errorPosition = 0;
    std::string errorMessage;

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t, const string_t& text) override
    {
        return add(Json::binary(std::vector<std::uint8_t>(text.begin(), text.end())));
    }
    bool string(string_t& value) override { return add(std::move(value)); }
    bool binary(binary_t& value) override { return add(std::move(value)); }
    bool start_object(std::size_t) override
    {
        _open.push_back(place(Json::object()));
        return true;
    }
    bool key(string_t& name) override
    {
        _member = &(*_open.back())[name];
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override
    {
        _open.push_back(place(Json::array()));
        return true;
    }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t where, const std::string&, const nlohmann::detail::exception& error) override
    {
        errorPosition = where;
        // Keep the reason, without the library's tag and its own line/column prefix.
        errorMessage = error.what();
        const std::size_t column = errorMessage.find("column ");
        const std::size_t reason = column == std::string::npos ? column : errorMessage.find(": ", column);
        if (reason != std::string::npos)
            errorMessage.erase(0, reason + 2);
        else if (const std::size_t tag = errorMessage.find("] ");
                 errorMessage.starts_with("[json.exception.") && tag != std::string::npos)
            errorMessage.erase(0, tag + 2);
        return false;
    }

private:
    // Only the innermost open container grows, so the pointers to the outer ones stay valid.
    Json* place(Json value)
    {
        if (_open.empty()) {
            document = std::move(value);
            return &document;
        }
        Json& container = *_open.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        *_member = std::move(value);
        return _member;
    }
    bool add(Json value)
    {
        place(std::move(value));
        return true;
    }
    bool close()
    {
        _open.pop_back();
        return true;
    }

    std::vector<Json*> _open;
    Json* _member = nullptr;
};

// A number kept as its source text.
bool isSpelledNumber(const Json& value) { return value.is_binary(); }

std::string spelling(const Json& number)
{
    const Json::binary_t& bytes = number.get_binary();
    return std::string(bytes.begin(), bytes.end());
}

bool holdsSpelledNumber(const Json& value)
{
    if (isSpelledNumber(value))
        return true;
    if (value.is_structured())
        for (const Json& element : value)
            if (holdsSpelledNumber(element))
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

PlistValue toPlistValue(const Json& value, int depth = 0);

// Control characters as \u001F (upper-case digits), as descriptions write them.
void appendDescriptionString(Text& out, std::u16string_view text)
{
    JsonStringStyle style;
    style.upperCaseHex = true;
    appendJsonString(out, text, style);
}

// A field holding spelled numbers, as the compact JSON its description would be, with the numbers as read.
void appendFieldJson(Text& out, const Json& value)
{
    if (value.is_array()) {
        out.push_back(u'[');
        for (auto element = value.begin(); element != value.end(); ++element) {
            if (element != value.begin())
                out.push_back(u',');
            appendFieldJson(out, *element);
        }
        out.push_back(u']');
    } else if (value.is_object()) {
        out.push_back(u'{');
        for (auto member = value.begin(); member != value.end(); ++member) {
            if (member != value.begin())
                out.push_back(u',');
            appendDescriptionString(out, fromUtf8Lossy(member.key()));
            out.push_back(u':');
            appendFieldJson(out, member.value());
        }
        out.push_back(u'}');
    } else if (isSpelledNumber(value)) {
        out += fromUtf8Lossy(spelling(value));
    } else if (const PlistValue leaf = toPlistValue(value); leaf.isString()) {
        appendDescriptionString(out, leaf.string());
    } else {
        out += leaf.description();
    }
}

// Fields (elements of a line) keep the digits of their numbers, nested ones too.
PlistValue toPlistValue(const Json& value, int depth)
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
    case Json::value_t::binary: return PlistValue(fromUtf8Lossy(spelling(value)));
    case Json::value_t::boolean: return PlistValue::boolean(value.get<bool>());
    case Json::value_t::array: {
        if (depth >= 2 && holdsSpelledNumber(value))
            break;
        PlistValue::Array array;
        array.reserve(value.size());
        for (const Json& element : value)
            array.push_back(toPlistValue(element, depth + 1));
        return PlistValue(std::move(array));
    }
    case Json::value_t::object: {
        if (depth >= 2 && holdsSpelledNumber(value))
            break;
        PlistValue::Dictionary dictionary;
        dictionary.reserve(value.size());
        for (const auto& [key, element] : value.items())
            dictionary.emplace_back(fromUtf8Lossy(key), toPlistValue(element, depth + 1));
        return PlistValue(std::move(dictionary));
    }
    default: // null (and kinds a parse never yields) becomes the empty string
        return PlistValue(Text());
    }
    // A field that holds spelled numbers is its JSON text.
    Text json;
    appendFieldJson(json, value);
    return PlistValue(std::move(json));
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
    if (transcoder && transcoder->encoder().windowsForms() > 0)
        err << name << ": " << transcoder->encoder().describeWindowsForms() << '\n';
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
    DocumentBuilder builder;
    if (!Json::sax_parse(json, &builder)) {
        // The parser counts the bytes it has read, up to the last byte of the offending token, so
        // the offset names where reading stopped.
        const std::size_t offset = builder.errorPosition > 0 ? std::min(builder.errorPosition - 1, json.size()) : 0;
        return failAt(offset, "invalid JSON: " + builder.errorMessage);
    }
    const Json& document = builder.document;
    if (!document.is_array())
        return failAt(offsetOfValue(json), std::string("expected a JSON array at the top level, found: ")
                                               + (isSpelledNumber(document) ? "number" : document.type_name()));
    if (const std::optional<std::size_t> offset = offsetBeyondNestingLimit(json))
        return failAt(*offset, "JSON nested deeper than " + std::to_string(nestingLimit) + " levels");

    const PlistValue rows = toPlistValue(document);
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
