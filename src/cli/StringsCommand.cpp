#include "cli/CommandContext.hpp"
#include "cli/CsvDialectNames.hpp"
#include "cli/Input.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/FileContents.hpp"
#include "core/strings/LocalizationChecker.hpp"
#include "core/strings/LocalizationExporter.hpp"
#include "core/strings/LocalizationImporter.hpp"
#include "core/text/TextEncoding.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <ostream>

namespace plistable::cli {
namespace {

// The CSV dialect options, as `convert` names and checks them.
struct DialectArguments {
    std::string delimiter;
    bool excel = false;
    bool crlf = false;
    bool bom = false;
    std::string encoding;
};

std::string checkEncoding(const std::string& name)
{
    return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
}

void addDelimiterOptions(CLI::App& command, DialectArguments& args, bool writing)
{
    command
        .add_option("-d,--delimiter", args.delimiter,
                    "CSV field delimiter: comma, semicolon, tab, pipe or one character (default: comma)")
        ->check([](const std::string& name) { return delimiterNamed(name) ? std::string() : "not a delimiter: " + name; });
    command.add_flag("--excel", args.excel,
                     writing ? "CSV as a spreadsheet opens it: a byte-order mark and CRLF line ends"
                             : "CSV as a spreadsheet saves it: a first line sep=C sets the delimiter");
}

struct ExportArguments {
    std::vector<std::string> paths;
    std::string output;
    std::string base;
    DialectArguments dialect;
    std::string outputEncoding;
};

struct ImportArguments {
    std::string table;
    std::string outputDir;
    DialectArguments dialect;
    std::string outputEncoding;
    std::string to;
    bool noClobber = false;
    bool quiet = false;
};

struct CheckArguments {
    std::vector<std::string> paths;
    std::string base;
};

void printProblems(const std::vector<LocalizationProblem>& problems, std::ostream& out)
{
    for (const LocalizationProblem& problem : problems)
        out << problem.description() << '\n';
}

void addExport(CLI::App& strings, CommandContext& context)
{
    auto* command = strings.add_subcommand(
        "export", "Write the strings files, plural dictionaries and catalogs under PATH as one CSV table");
    command->footer("\n"
                    "The table's header is table,key,variant,comment and one column per language, the base\n"
                    "language first. Plural forms and variations are rows of their own (variant VAR.one,\n"
                    "plural.other, device.iphone, substitutions.VAR.plural.one, ...).\n"
                    "\n"
                    "Examples:\n"
                    "  plistable strings export -o strings.csv MyApp/\n"
                    "  plistable strings export --excel --output-encoding cp932 -o ja.csv MyApp/Resources");
    auto args = std::make_shared<ExportArguments>();
    command->add_option("PATH", args->paths, "Folders to search (LANG.lproj/NAME.strings, .stringsdict, NAME.xcstrings) or such files")
        ->required();
    command->add_option("-o,--output", args->output, "Write the table to this file (default: standard output)");
    command->add_option("--base", args->base,
                        "The first language column (default: the catalog's source language, else en, else Base)");
    addDelimiterOptions(*command, args->dialect, true);
    command->add_flag("--crlf", args->dialect.crlf, "End the CSV lines with CRLF");
    command->add_flag("--bom", args->dialect.bom, "Begin the CSV with a UTF-8 byte-order mark");
    command->add_option("--output-encoding", args->outputEncoding,
                        "Write the CSV in this encoding (e.g. cp932 for Japanese Excel) instead of UTF-8; "
                        "a character it cannot hold fails the run")
        ->check(checkEncoding);
    endOptionsAtMarker(*command);
    command->callback([&context, args] {
        const LocalizationExport result = LocalizationExporter(args->base).exportPaths(args->paths);
        if (!result.complete()) {
            printProblems(result.problems, context.err);
            context.err << "no table written\n";
            context.status = ExitStatus::Failed;
            return;
        }
        LocalizationCsvWriting dialect;
        if (!args->dialect.delimiter.empty())
            dialect.delimiter = *delimiterNamed(args->dialect.delimiter);
        dialect.crlf = args->dialect.crlf || args->dialect.excel;
        dialect.byteOrderMark = args->dialect.bom || args->dialect.excel;
        if (!args->outputEncoding.empty())
            dialect.encoding = args->outputEncoding;
        LocalizationProblem problem;
        const std::optional<std::string> bytes = result.table.csvBytes(dialect, &problem);
        if (!bytes) {
            problem.path = args->output.empty() ? "standard output" : args->output;
            context.err << problem.description() << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        if (args->output.empty() || args->output == "-") {
            context.out << *bytes;
            return;
        }
        AtomicFile file(args->output);
        file.write(*bytes);
        if (const std::error_code error = file.commit()) {
            context.err << args->output << ": cannot be written: " << error.message() << '\n';
            context.status = ExitStatus::Failed;
        }
    });
}

void addImport(CLI::App& strings, CommandContext& context)
{
    auto* command = strings.add_subcommand("import", "Write the strings files (or catalogs) of a CSV table into DIR");
    command->footer("\n"
                    "Each language gets DIR/LANG.lproj/NAME.strings (and NAME.stringsdict for plural rows); a table\n"
                    "whose NAME.xcstrings is in DIR goes into that catalog, only changed values updated. An empty\n"
                    "cell is no translation: the entry is left out and counted in a note. A strings file that\n"
                    "exists keeps its encoding (UTF-8 or UTF-16) unless --output-encoding says otherwise, so an\n"
                    "unchanged table gives the same bytes back; a file whose contents would not change is not rewritten.\n"
                    "\n"
                    "Examples:\n"
                    "  plistable strings import strings.csv -o MyApp/\n"
                    "  plistable strings import --excel --encoding cp932 ja.csv -o MyApp/Resources");
    auto args = std::make_shared<ImportArguments>();
    command->add_option("TABLE", args->table, "The CSV table (- for standard input)")->required();
    command->add_option("-o,--output-dir", args->outputDir, "The folder to write into (holding the .lproj folders)")
        ->required();
    addDelimiterOptions(*command, args->dialect, false);
    command->add_option("--encoding", args->dialect.encoding,
                        "Read the CSV in this encoding (e.g. cp932) instead of detecting it")
        ->check(checkEncoding);
    command->add_option("--output-encoding", args->outputEncoding,
                        "Write strings files in utf-8 or utf-16 (little-endian with a byte-order mark; also "
                        "utf-16le, utf-16be) instead of the encoding of the file replaced (UTF-8 for a new one)")
        ->check(CLI::IsMember({"utf-8", "utf8", "utf-16", "utf16", "utf-16le", "utf-16be"}, CLI::ignore_case));
    command->add_option("--to", args->to, "Write every table into a string catalog NAME.xcstrings, also a new one")
        ->check(CLI::IsMember({"xcstrings"}));
    command->add_flag("-n,--no-clobber", args->noClobber, "Leave existing files alone (each one fails)");
    command->add_flag("-q,--quiet", args->quiet, "Print only errors: no TABLE -> FILE lines or notes");
    endOptionsAtMarker(*command);
    command->callback([&context, args] {
        std::string bytes;
        if (args->table == "-") {
            if (const std::error_code error = readWholeInput(context.in, bytes)) {
                context.err << "standard input: " << describeUnreadable(error) << '\n';
                context.status = ExitStatus::Failed;
                return;
            }
        } else {
            FileContents contents = readFileContents(args->table);
            if (contents.error) {
                context.err << args->table << ": " << describeUnreadable(contents.error) << '\n';
                context.status = ExitStatus::Failed;
                return;
            }
            bytes = std::move(contents.bytes);
        }
        const std::string tableName = args->table == "-" ? std::string("standard input") : args->table;
        LocalizationCsvReading dialect;
        if (!args->dialect.delimiter.empty())
            dialect.delimiter = *delimiterNamed(args->dialect.delimiter);
        dialect.separatorLine = args->dialect.excel;
        if (!args->dialect.encoding.empty())
            dialect.encoding = args->dialect.encoding;
        LocalizationProblem problem;
        const std::optional<LocalizationTable> table = LocalizationTable::fromCsvBytes(bytes, tableName, dialect, problem);
        if (!table) {
            context.err << problem.description() << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        LocalizationImportOptions options;
        options.outputFolder = args->outputDir;
        options.noClobber = args->noClobber;
        options.toCatalog = !args->to.empty();
        std::string encoding = args->outputEncoding;
        std::transform(encoding.begin(), encoding.end(), encoding.begin(), [](unsigned char c) { return std::tolower(c); });
        if (encoding == "utf-8" || encoding == "utf8")
            options.stringsEncoding = StringsFileEncoding::Utf8;
        else if (encoding == "utf-16" || encoding == "utf16" || encoding == "utf-16le")
            options.stringsEncoding = StringsFileEncoding::Utf16LittleEndian;
        else if (encoding == "utf-16be")
            options.stringsEncoding = StringsFileEncoding::Utf16BigEndian;
        const LocalizationImportReport report = LocalizationImporter(options).importTable(*table, tableName);
        if (!args->quiet) {
            for (const std::string& file : report.written)
                context.out << tableName << " -> " << file << '\n';
            for (const std::string& note : report.notes)
                context.err << note << '\n';
        }
        printProblems(report.problems, context.err);
        if (!report.complete())
            context.status = ExitStatus::Failed;
    });
}

void addCheck(CLI::App& strings, CommandContext& context)
{
    auto* command = strings.add_subcommand("check", "Find the faults of the localization files under PATH");
    command->footer("\n"
                    "Prints one line FILE:LINE: message per finding and exits 1 when there is any: a syntax error,\n"
                    "a key repeated in one file, keys the base language has and another lacks (and the reverse),\n"
                    "format placeholders that differ from the base language, an empty value, a plural dictionary\n"
                    "entry without its format string or a variable without its \"other\" form.\n"
                    "\n"
                    "Example:\n"
                    "  plistable strings check MyApp/");
    auto args = std::make_shared<CheckArguments>();
    command->add_option("PATH", args->paths, "Folders to search or files to check")->required();
    command->add_option("--base", args->base, "The language the others are compared with (default: en, else Base)");
    endOptionsAtMarker(*command);
    command->callback([&context, args] {
        const std::vector<LocalizationProblem> findings = LocalizationChecker(args->base).checkPaths(args->paths);
        printProblems(findings, context.out);
        if (!findings.empty())
            context.status = ExitStatus::Failed;
    });
}

} // namespace

void addStringsCommand(CLI::App& app, CommandContext& context)
{
    auto* strings = app.add_subcommand("strings", "Localization tables: an app's strings files to one CSV table and back, and checks");
    strings->require_subcommand(1);
    addExport(*strings, context);
    addImport(*strings, context);
    addCheck(*strings, context);
}

} // namespace plistable::cli
