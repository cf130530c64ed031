#include "cli/CommandContext.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/ParallelConverter.hpp"
#include "core/text/TextEncoding.hpp"
#include "core/UserDefaults.hpp"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <unistd.h>

namespace plistable::cli {
namespace {

struct ConvertArguments {
    std::vector<std::string> files;
    std::string outputDir = ".";
    bool header = false;
    bool noHeader = false;
    std::string encoding;
    std::string from; // "csv", "plist" or empty
    std::string output; // one exact output path
    std::string delimiter;
    bool excel = false;
    bool crlf = false;
    bool bom = false;
    bool noClobber = false;
    unsigned jobs = 1; // --jobs: files converted at once (0: one per core)
};

// "comma", "semicolon", "tab", "pipe" or one character (a BMP character in UTF-8); nothing otherwise.
std::optional<char16_t> delimiterNamed(const std::string& name)
{
    static const std::pair<std::string_view, char16_t> names[] = {
        {"comma", u','}, {"semicolon", u';'}, {"tab", u'\t'}, {"pipe", u'|'}};
    for (const auto& [word, character] : names)
        if (name == word)
            return character;
    const Text text = fromUtf8Lossy(name);
    if (text.size() == 1 && text[0] != u'"' && text[0] != u'\n' && text[0] != u'\r' && text[0] != u'\uFFFD')
        return text[0];
    return std::nullopt;
}

// A private folder for a result bound for standard output: the conversion writes it as it writes
// any file, then its bytes are copied out. Removed with everything in it when it goes.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "plistable-stdout-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            _path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!_path.empty())
            std::filesystem::remove_all(_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /// Empty when the folder could not be made.
    const std::string& path() const { return _path; }

private:
    std::string _path;
};

// Copies the file at `path` to `out`; false when it cannot be read or `out` refuses the bytes.
bool copyToStream(const std::string& path, std::ostream& out)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    out << file.rdbuf();
    out.flush();
    return static_cast<bool>(out);
}

void printReport(const ConversionReport& report, std::ostream& err)
{
    for (const std::string& note : report.notes)
        err << report.sourcePath << ": " << note << '\n';
    for (const std::string& problem : report.problems)
        err << report.sourcePath << ": " << problem << '\n';
}

} // namespace

void addConvertCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand(
        "convert", "Convert .csv files to XML property lists and .plist files to CSV, into one folder");
    command->footer("\n"
                    "Examples:\n"
                    "  plistable convert -o out/ data.csv table.plist\n"
                    "  plistable convert --header --encoding cp932 stations.csv\n"
                    "  printf 'a,b\\n1,2\\n' | plistable convert --from csv --header - -o -\n"
                    "  plistable convert --excel -O table.csv table.plist");
    auto args = std::make_shared<ConvertArguments>();
    command->add_option("FILE", args->files, "Files to convert, in order (others are passed over)")->required();
    command->add_option("-o,--output-dir", args->outputDir,
                        "Folder to write into (default: the current folder); - writes the one result to standard output")
        ->check([](const std::string& folder) {
            // An empty name would make the save folder "/", the root.
            return folder.empty() ? std::string("the output folder name is empty") : std::string();
        });
    auto* output = command->add_option("-O,--output", args->output, "Write the one result exactly to this path");
    command->add_option("-d,--delimiter", args->delimiter,
                        "CSV field delimiter: comma, semicolon, tab, pipe or one character (default: comma)")
        ->check([](const std::string& name) {
            return delimiterNamed(name) ? std::string() : "not a delimiter: " + name;
        });
    command->add_flag("--excel", args->excel,
                      "CSV as a spreadsheet reads and writes it: a first line sep=C sets the delimiter; "
                      "CSV written gets a byte-order mark and CRLF line ends");
    command->add_flag("--crlf", args->crlf, "End the CSV lines written with CRLF");
    command->add_flag("--bom", args->bom, "Begin the CSV files written with a UTF-8 byte-order mark");
    command->add_flag("-n,--no-clobber", args->noClobber, "Leave an existing output file alone (that file fails)");
    command->add_option("--from", args->from, "Convert every FILE (and - for standard input) as this kind")
        ->check(CLI::IsMember({"csv", "plist"}));
    auto* header = command->add_flag("--header", args->header, "The first CSV line is a header row (this run only)");
    command->add_flag("--no-header", args->noHeader, "The first CSV line is a record (this run only)")->excludes(header);
    command->add_option("--encoding", args->encoding,
                        "Read every CSV file in this encoding (e.g. cp932, windows-1252) instead of detecting it")
        ->check([](const std::string& name) {
            return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
        });

    // Parallel conversion: the output, messages and status stay those of one file after another.
    command->add_option("-j,--jobs", args->jobs,
                        "Convert up to N files at once (0: one per core; default 1); the results and "
                        "messages are those of converting them one after another")
        ->check(CLI::NonNegativeNumber);

    command->callback([&context, args, output] {
        const bool toStdout = args->outputDir == "-";
        if (toStdout && output->count() > 0)
            throw CLI::ValidationError("-o -", "cannot be combined with --output");
        if ((toStdout || output->count() > 0) && args->files.size() > 1)
            throw CLI::ValidationError(toStdout ? "-o -" : "--output", "takes exactly one FILE");
        const bool fromStdin = args->files.size() == 1 && args->files.front() == "-";
        for (const std::string& file : args->files) {
            if (file == "-" && args->from.empty())
                throw CLI::ValidationError("-", "standard input needs --from csv or --from plist");
            if (file == "-" && !fromStdin)
                throw CLI::ValidationError("-", "standard input must be the only FILE");
        }
        if (fromStdin && !toStdout && output->count() == 0)
            throw CLI::ValidationError("-", "standard input needs -o - or --output PATH");

        ConversionOptions options;
        if (args->header)
            options.header = true;
        else if (args->noHeader)
            options.header = false;
        if (!args->encoding.empty())
            options.encodingName = args->encoding;
        if (!args->delimiter.empty())
            options.delimiter = delimiterNamed(args->delimiter);
        options.separatorLine = args->excel;
        options.crlf = args->crlf || args->excel;
        options.byteOrderMark = args->bom || args->excel;
        options.noClobber = args->noClobber;
        if (!args->from.empty())
            options.inputKind = args->from == "csv" ? InputKind::Csv : InputKind::PropertyList;
        ScratchFolder scratch;
        if (toStdout) {
            if (scratch.path().empty()) {
                context.err << "cannot make a temporary folder for the result\n";
                context.status = ExitStatus::Failed;
                return;
            }
            options.outputPath = scratch.path() + "/result";
        } else if (output->count() > 0) {
            options.outputPath = args->output;
        }

        UserDefaults defaults(context.settingsPath);
        FileConverter converter(defaults, options);
        std::vector<ConversionReport> reports;
        if (fromStdin) {
            std::string bytes(std::istreambuf_iterator<char>(context.in), std::istreambuf_iterator<char>{});
            reports.push_back(converter.convertBytes(std::move(bytes), "-", *options.inputKind));
        } else {
            std::string folder = toStdout ? std::string(".") : args->outputDir;
            // The save folder is formed by appending "/"; keep "dir/" from becoming "dir//".
            while (folder.size() > 1 && folder.back() == '/')
                folder.pop_back();
            if (args->jobs == 1)
                reports = converter.convertDroppedFiles(args->files, folder);
            else
                reports = ParallelConverter(defaults, options).convertFiles(args->files, folder, args->jobs);
        }
        for (const ConversionReport& report : reports) {
            if (toStdout && !report.outputPath.empty() && !copyToStream(report.outputPath, context.out)) {
                context.err << report.sourcePath << ": cannot write the result to standard output\n";
                context.status = ExitStatus::Failed;
            } else if (!report.outputPath.empty() && !toStdout) {
                context.out << report.sourcePath << " -> " << report.outputPath << '\n';
            }
            printReport(report, context.err);
            if (report.status == ConversionReport::Status::Failed || report.status == ConversionReport::Status::Partial)
                context.status = ExitStatus::Failed;
        }
    });
}

} // namespace plistable::cli
