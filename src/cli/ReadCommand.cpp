#include "cli/CommandContext.hpp"
#include "cli/Input.hpp"
#include "core/Log.hpp"
#include "core/csv/CHCSVAdditions.hpp"
#include "core/csv/CHCSVAggregator.hpp"
#include "core/csv/CHCSVParser.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/FileInputStream.hpp"
#include "core/io/MemoryInputStream.hpp"
#include "core/text/JsonString.hpp"
#include "core/text/TextDecoder.hpp"
#include "core/text/TextEncoding.hpp"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <istream>
#include <new>
#include <ostream>

namespace plistable::cli {
namespace {

// Feeds the command's input stream (standard input in the tool, a string in tests) to the reader.
class IstreamInputStream : public InputStream {
public:
    explicit IstreamInputStream(std::istream& in) : _in(in) {}

    void open() override { _open = true; }
    std::ptrdiff_t read(char* buffer, std::size_t maxLength) override
    {
        if (!_open || error())
            return -1;
        if (_atEnd)
            return 0;
        errno = 0;
        _in.read(buffer, static_cast<std::streamsize>(maxLength));
        const auto count = static_cast<std::ptrdiff_t>(_in.gcount());
        if (!_in) {
            // Fewer bytes than asked for: the end has been reached, or reading failed.
            if (const std::error_code error = inputError(_in)) {
                fail(error);
                return -1;
            }
            _atEnd = true;
        }
        return count;
    }
    bool hasBytesAvailable() const override { return _open && !_atEnd && !error(); }
    void close() override { _open = false; }
    std::string name() const override { return "standard input"; }

private:
    std::istream& _in;
    bool _open = false;
    bool _atEnd = false;
};

// Writes one JSON object per event, one per line, as the events come.
class EventPrinter : public CHCSVParserDelegate {
public:
    explicit EventPrinter(std::ostream& out) : _out(out) {}

    void parserDidBeginDocument(CHCSVParser&) override { _out << "{\"event\":\"beginDocument\"}\n"; }
    void parserDidBeginLine(CHCSVParser&, std::uint64_t line) override
    {
        _out << "{\"event\":\"beginLine\",\"line\":" << line << "}\n";
    }
    void parserDidReadField(CHCSVParser&, std::u16string_view field, std::int64_t index) override
    {
        _line = "{\"event\":\"field\",\"index\":" + std::to_string(index) + ",\"text\":";
        appendJsonString(_line, field);
        _out << _line << "}\n";
    }
    void parserDidEndLine(CHCSVParser&, std::uint64_t line) override
    {
        _out << "{\"event\":\"endLine\",\"line\":" << line << "}\n";
    }
    void parserDidReadComment(CHCSVParser&, const Text& comment) override
    {
        _line = "{\"event\":\"comment\",\"text\":";
        appendJsonString(_line, comment);
        _out << _line << "}\n";
    }
    void parserDidFailWithError(CHCSVParser&, const CHCSVError& error) override
    {
        // Short escapes for \b and \f, as these messages have always been written.
        _line = "{\"event\":\"error\",\"code\":" + std::to_string(error.code) + ",\"message\":";
        JsonStringStyle style;
        style.shortControlEscapes = true;
        appendJsonStringFromUtf8(_line, error.description, style);
        _out << _line << "}\n";
    }
    void parserDidEndDocument(CHCSVParser&) override { _out << "{\"event\":\"endDocument\"}\n"; }

private:
    std::ostream& _out;
    std::string _line;
};

struct ReadOptions {
    bool escapes = false;
    bool sanitize = false;
    bool comments = false;
    bool events = false;
    std::string delimiter = ",";
    std::string file = "-";
    std::string encoding; // empty: sniff
};

// The delimiter argument as one UTF-16 unit; "\t" and "tab" name the tab. Nothing when the reader
// would refuse it.
std::optional<char16_t> parseDelimiter(const std::string& argument)
{
    if (argument == "\\t" || argument == "tab")
        return u'\t';
    const Text text = fromUtf8Lossy(argument);
    if (text.size() != 1)
        return std::nullopt;
    const char16_t c = text[0];
    // U+FFFD here stands for bytes that were not UTF-8.
    if (c == 0xFFFD || !CHCSVParser::acceptsDelimiter(c))
        return std::nullopt;
    return c;
}

// Reads the whole text with the command's options, printing events or gathering the rows; the error, if any.
std::optional<CHCSVError> parseWithOptions(CHCSVParser& parser, const ReadOptions& options, std::ostream& out,
                                           std::optional<std::vector<std::vector<Text>>>& rows)
{
    parser.setRecognizesBackslashesAsEscapes(options.escapes);
    parser.setSanitizesFields(options.sanitize);
    parser.setRecognizesComments(options.comments);
    EventPrinter printer(out);
    CHCSVAggregator aggregator;
    if (options.events)
        parser.setDelegate(&printer);
    else
        parser.setDelegate(&aggregator);
    parser.parse();
    if (!options.events)
        rows = aggregator.takeLines();
    return parser.error();
}

void runRead(const ReadOptions& options, CommandContext& context)
{
    const std::optional<char16_t> delimiter = parseDelimiter(options.delimiter);
    if (!delimiter) {
        context.err << "plistable read: --delimiter must be one character other than a line break, the double "
                       "quote and \"#\" (\"tab\" or \"\\t\" for a tab), not \""
                    << options.delimiter << "\"\n";
        context.status = ExitStatus::Usage;
        return;
    }
    const bool fromInput = options.file == "-";
    const std::string name = fromInput ? "<stdin>" : options.file;
    // The library's log lines (an encoding guess) name no file; here they name the one being read.
    LogSink previous = setLogSink([&context, fromInput, &options](std::string_view message) {
        context.err << (fromInput ? std::string("standard input") : options.file) << ": " << message << '\n'
                    << std::flush;
    });
    struct RestoreSink {
        LogSink& previous;
        ~RestoreSink() { setLogSink(std::move(previous)); }
    } restore{previous};
    const std::uint64_t bits = (options.escapes ? CHCSVAdditionsRecognizesBackslashesAsEscapes : 0)
                               | (options.sanitize ? CHCSVAdditionsSanitizesFields : 0)
                               | (options.comments ? CHCSVAdditionsRecognizesComments : 0);

    std::optional<CHCSVError> failure;
    std::optional<std::vector<std::vector<Text>>> rows;
    if (!options.encoding.empty()) {
        // Decoded whole in the named encoding, then handed to the reader as UTF-16 so that it sniffs
        // nothing; line numbers stay those of the file.
        FileContents contents;
        if (fromInput)
            contents.error = readWholeInput(context.in, contents.bytes);
        else
            contents = readFileContents(options.file);
        if (contents.error) {
            context.err << (fromInput ? "standard input" : name) << ": " << describeUnreadable(contents.error)
                        << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        const std::optional<Text> text = decodeTextNamed(contents.bytes, options.encoding);
        if (!text) {
            context.err << name << ": cannot be decoded as " << options.encoding;
            if (const auto at = TextDecoder::failureOffsetIn(contents.bytes, options.encoding))
                context.err << " at byte offset " << *at;
            context.err << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        std::string units;
        units.reserve(text->size() * 2);
        for (const char16_t unit : *text) {
            units += static_cast<char>(unit & 0xFF);
            units += static_cast<char>(unit >> 8);
        }
        TextEncoding encoding = NSUTF16LittleEndianStringEncoding;
        CHCSVParser parser(std::make_unique<MemoryInputStream>(std::move(units)), &encoding, *delimiter);
        failure = parseWithOptions(parser, options, context.out, rows);
    } else if (!fromInput && *delimiter == u',' && !options.events) {
        CHCSVError error;
        rows = arrayWithContentsOfCSVFile(options.file, bits, &error);
        if (!rows)
            failure = error;
    } else {
        std::unique_ptr<InputStream> stream;
        if (fromInput)
            stream = std::make_unique<IstreamInputStream>(context.in);
        else
            stream = std::make_unique<FileInputStream>(options.file);
        CHCSVParser parser(std::move(stream), nullptr, *delimiter);
        failure = parseWithOptions(parser, options, context.out, rows);
    }

    if (failure) {
        // A stream failure names its file already; data failures get FILE:LINE.
        if (failure->code == CHCSVErrorCodeStreamFailed)
            context.err << failure->description << '\n';
        else
            context.err << name << ':' << failure->line << ": " << failure->description << '\n';
        context.status = ExitStatus::Failed;
        return;
    }
    if (rows) {
        std::string out = "[";
        for (std::size_t r = 0; r < rows->size(); ++r) {
            out += r == 0 ? "[" : ",[";
            const std::vector<Text>& row = (*rows)[r];
            for (std::size_t f = 0; f < row.size(); ++f) {
                if (f > 0)
                    out += ',';
                appendJsonString(out, row[f]);
            }
            out += ']';
        }
        out += "]\n";
        context.out << out;
    }
    context.status = ExitStatus::Ok;
}

} // namespace

void addReadCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand(
        "read", "Read a CSV file with the streaming reader: rows as a JSON array, or one JSON object per event");
    command->footer("\n"
                    "Examples:\n"
                    "  plistable read --sanitize data.csv\n"
                    "  plistable read --events --delimiter tab data.tsv");
    auto options = std::make_shared<ReadOptions>();
    command->add_flag("--escapes", options->escapes, "A backslash makes the next character literal");
    command->add_flag("--sanitize", options->sanitize, "Remove quotes, escapes and surrounding whitespace from fields");
    command->add_flag("--comments", options->comments, "Lines starting with \"#\" are comments");
    command->add_option("--delimiter", options->delimiter, "Field delimiter: one character, or \"tab\" / \"\\t\"");
    command->add_flag("--events", options->events, "Print one JSON object per reader event instead of rows");
    command->add_option("--encoding", options->encoding,
                        "Decode the input in this encoding (e.g. cp932, windows-1252) instead of sniffing it")
        ->check([](const std::string& name) {
            return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
        });
    command->add_option("FILE", options->file, "CSV file, or - for standard input (the default)");
    endOptionsAtMarker(*command);
    command->callback([&context, options] {
        try {
            runRead(*options, context);
        } catch (const std::bad_alloc&) {
            // The rows are printed only once all of them are read; events already printed stay.
            context.err << (options->file == "-" ? std::string("standard input") : options->file)
                        << ": too large to read into memory\n";
            context.status = ExitStatus::Failed;
        }
    });
}

} // namespace plistable::cli
