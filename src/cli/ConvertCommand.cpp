#include "cli/CommandContext.hpp"
#include "cli/ConvertHints.hpp"
#include "cli/CsvDialectNames.hpp"
#include "cli/InterruptGuard.hpp"
#include "cli/ProgressLine.hpp"
#include "cli/Input.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/convert/ParallelConverter.hpp"
#include "core/text/TextEncoding.hpp"
#include "core/UserDefaults.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/io/PathUtilities.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <optional>
#include <sys/stat.h>
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
    // Quiet and progress.
    bool quiet = false;
    // Output encoding.
    std::string outputEncoding;

    // Data shapes.
    bool types = false;
    std::string keyed; // a column name or 1-based position; empty when not given
    bool allKeys = false;
    bool dedupeKeys = false;
    std::optional<std::string> select; // a JSON pointer into each property list
    std::string to = "xml";
    unsigned jobs = 1; // --jobs: files converted at once (0: one per core)
};

// The data-shape options: how values, keys and the output form are chosen.
void addShapeOptions(CLI::App& command, ConvertArguments& args)
{
    command.add_flag("--types", args.types,
                     "CSV: write integers, reals, true and false as typed values instead of strings");
    command.add_option("--keyed", args.keyed,
                       "CSV: a dictionary keyed by this column (header name or 1-based position); "
                       "property list: the name of the key column")
        ->check([](const std::string& column) {
            return column.empty() ? std::string("the column is empty") : std::string();
        });
    command.add_flag("--all-keys", args.allKeys, "Property list: a column for every key of every dictionary");
    command.add_option("--select", args.select,
                       "Property list: convert the array or dictionary at this JSON pointer "
                       "(e.g. /Tracks, \"/Playlists/0/Playlist Items\") instead of the root")
        ->check([](const std::string& pointer) {
            std::string error;
            return PlistPointer::parse(pointer, error) ? std::string() : "--select " + pointer + ": " + error;
        });
    command.add_flag("--dedupe-keys", args.dedupeKeys,
                     "CSV: rename repeated header names a_2, a_3, ... and empty ones column_N");
    command.add_option("--to", args.to,
                       "CSV: write an xml (default), binary or openstep (old-style text) property list, json, "
                       "or a strings file of a two-column table (key, value)")
        ->check(CLI::IsMember({"xml", "binary", "json", "openstep", "strings"}));
}

void applyShapeOptions(const ConvertArguments& args, ConversionOptions& options)
{
    options.shape.types = args.types;
    if (!args.keyed.empty())
        options.shape.keyedColumn = args.keyed;
    options.shape.allKeys = args.allKeys;
    options.shape.dedupeKeys = args.dedupeKeys;
    if (args.select) {
        std::string error;
        options.shape.select = PlistPointer::parse(*args.select, error);
    }
    options.output.format = args.to == "binary"     ? OutputFormat::Binary
                            : args.to == "json"     ? OutputFormat::Json
                            : args.to == "openstep" ? OutputFormat::OpenStep
                            : args.to == "strings"  ? OutputFormat::Strings
                                                    : OutputFormat::Xml;
}

// Where a result bound for a stream goes as it is produced.
enum class StreamTarget {
    None,     ///< no stream: the output file is replaced as any file is
    Out,      ///< standard output (-o -, or -O naming it)
    Special,  ///< the fifo or character device that -O names
};

// Writes each piece into `out` at once, so that a reader sees it as it is produced; on failure the
// system's reason (a closed pipe, a full device), else an input/output error.
ByteStream streamInto(std::ostream& out)
{
    return [&out](std::string_view bytes) -> std::error_code {
        errno = 0;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (out)
            return {};
        // The writer may run on a thread that blocks signals, where SIGPIPE would stay pending:
        // the closed pipe is told to the whole process, which stops the run quietly as the signal does.
        const int failure = errno != 0 ? errno : EIO;
        if (failure == EPIPE)
            ::kill(::getpid(), SIGPIPE);
        return std::error_code(failure, std::generic_category());
    };
}

// -O naming standard output, a fifo or a character device is written into as a stream (a rename
// would put a regular file in the place of the device); anything else is an output file.
StreamTarget streamTargetOf(const std::string& path)
{
    struct stat target {};
    struct stat out {};
    if (::stat(path.c_str(), &target) != 0)
        return StreamTarget::None;
    if (::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == target.st_dev && out.st_ino == target.st_ino)
        return StreamTarget::Out;
    return S_ISFIFO(target.st_mode) || S_ISCHR(target.st_mode) ? StreamTarget::Special : StreamTarget::None;
}

// The refusal of file `i` of `files` when its output `output` is the same file as its own input or
// as the input of a file before it (read already, so it would be lost). A later input is no loss:
// that file is written first and read after, as a chain. Nothing when the output is free.
std::optional<ConversionReport> refuseReplacingInput(const std::vector<std::string>& files, std::size_t i,
                                                     const std::string& output)
{
    for (std::size_t j = 0; j <= i; ++j) {
        if (!sameFile(files[j], output))
            continue;
        ConversionReport report;
        report.sourcePath = files[i];
        const std::string outputNamed = resolvedPath(output) == resolvedPath(files[j]) ? std::string() : " " + output;
        const std::string inputNamed = j == i ? std::string() : " " + files[j];
        report.problems.push_back("the output" + outputNamed + " would replace the input" + inputNamed
                                  + "; use -o or -O to write elsewhere");
        return report;
    }
    return std::nullopt;
}

// With `quiet` only the problems: notes do not change the outcome.
void printReport(const ConversionReport& report, std::ostream& err, bool quiet)
{
    for (const std::string& note : report.notes)
        if (!quiet)
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
    auto* output = command->add_option("-O,--output", args->output,
                                       "Write the one result exactly to this path (a fifo, a character device or "
                                       "standard output gets it as a stream)")
                       ->check([](const std::string& path) {
                           return path.empty() ? std::string("the output file name is empty") : std::string();
                       });
    command->add_option("-d,--delimiter", args->delimiter,
                        "CSV field delimiter: comma, semicolon, tab, pipe or one character (default: comma); "
                        "auto picks comma, semicolon, tab or pipe for each CSV file read from its first 64 KB")
        ->check([](const std::string& name) {
            return name == "auto" || delimiterNamed(name) ? std::string() : "not a delimiter: " + name;
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
    // Output encoding.
    command->add_option("--output-encoding", args->outputEncoding,
                        "Write CSV in this encoding (e.g. cp932, windows-1252, utf-16le) instead of UTF-8; "
                        "a character it cannot hold fails the file")
        ->check([](const std::string& name) {
            return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
        });
    // Quiet and progress.
    command->add_flag("-q,--quiet", args->quiet,
                      "Print only errors: no SOURCE -> OUTPUT lines, notes or progress (progress shows only "
                      "for files over 32 MB when standard error is a terminal)");
    addShapeOptions(*command, *args);

    // Parallel conversion: the output, messages and status stay those of one file after another.
    command->add_option("-j,--jobs", args->jobs,
                        "Convert up to N files at once (0: one per core; default 1); the results and "
                        "messages are those of converting them one after another")
        ->check(CLI::NonNegativeNumber);

    // The help lists the options in the groups of ConversionOptions, one section each.
    const std::pair<const char*, std::vector<const char*>> groups[] = {
        {"CSV read", {"--encoding", "-d", "--excel"}},
        {"CSV written", {"--output-encoding", "--crlf", "--bom"}},
        {"Data shape", {"--header", "--no-header", "--types", "--keyed", "--all-keys", "--dedupe-keys"}},
        {"Output", {"-o", "-O", "--to", "-n"}},
        {"Run", {"--from", "-q", "-j"}},
    };
    for (const auto& [group, names] : groups)
        for (const char* name : names)
            if (CLI::Option* option = command->get_option_no_throw(name))
                option->group(group);

    endOptionsAtMarker(*command);
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

        // Interrupts: a signal cancels the conversion, which removes its temporary file; the run
        // then exits 128 + the signal.
        InterruptGuard interrupts;

        ConversionOptions options;
        options.run.cancel = interrupts.flag();
        if (args->header)
            options.shape.header = true;
        else if (args->noHeader)
            options.shape.header = false;
        if (!args->encoding.empty())
            options.csvRead.encodingName = args->encoding;
        const bool autoDelimiter = args->delimiter == "auto";
        if (!args->delimiter.empty() && !autoDelimiter)
            options.csvRead.delimiter = options.csvWrite.delimiter = *delimiterNamed(args->delimiter);
        options.csvRead.separatorLine = args->excel;
        options.csvWrite.crlf = args->crlf || args->excel;
        options.csvWrite.byteOrderMark = args->bom || args->excel;
        options.output.noClobber = args->noClobber;
        applyShapeOptions(*args, options);
        if (!args->from.empty())
            options.run.inputKind = args->from == "csv" ? InputKind::Csv : InputKind::PropertyList;
        if (!args->outputEncoding.empty())
            options.csvWrite.encodingName = args->outputEncoding;
        const StreamTarget stream = toStdout               ? StreamTarget::Out
                                    : output->count() > 0 ? streamTargetOf(args->output)
                                                          : StreamTarget::None;
        // A stream gets the result as it is produced: nothing is staged, and what went out stays
        // out when the conversion fails later (the run then exits 1).
        std::ofstream special;
        if (stream == StreamTarget::Special) {
            special.open(args->output, std::ios::binary); // a fifo's open waits for its reader
            if (!special) {
                // A signal while waiting for a fifo's reader ends the open as it ends a conversion.
                const int signal = interrupts.signalNumber();
                context.err << "cannot write " << args->output << '\n';
                context.status = signal != 0 ? static_cast<ExitStatus>(128 + signal) : ExitStatus::Failed;
                return;
            }
        }
        if (stream != StreamTarget::None) {
            options.output.path = stream == StreamTarget::Out ? "the result to standard output" : args->output;
            options.output.stream = streamInto(stream == StreamTarget::Out ? context.out : special);
        } else if (output->count() > 0) {
            options.output.path = args->output;
        }

        // Progress: one line per large file on a terminal's standard error, never with --quiet.
        ProgressLine progress(context.err, !args->quiet && ProgressLine::isTerminal(context.err));
        options.run.progress = [&progress](std::uint64_t done, std::uint64_t total) { progress.update(done, total); };

        UserDefaults defaults(context.settingsPath);
        FileConverter converter(defaults, options);
        // An input too large for memory (an endless pipe, a huge file) fails alone; the temporary
        // output is removed as the conversion unwinds, so nothing is written for it.
        auto tooLarge = [](const std::string& source) {
            ConversionReport report;
            report.sourcePath = source;
            report.problems.push_back("too large to read into memory");
            return report;
        };
        // Hints go on the line that reports the problem; the exit status stays as it is.
        const bool readsCsvByName = args->from.empty() || args->from == "csv";
        std::string stdinStart; // the start of standard input, for the delimiter hint
        const bool outputDirMissing = !toStdout && output->count() == 0 && args->outputDir != "."
                                      && !std::filesystem::exists(args->outputDir);
        auto addHints = [&](ConversionReport& report) {
            if (report.status == ConversionReport::Status::Skipped) {
                if (std::optional<std::string> hint = passedOverHint(report.sourcePath)) {
                    // A problem line, so that -q keeps it: the file was named on the command line.
                    report.notes.clear();
                    report.problems.push_back(*hint);
                }
                return;
            }
            const bool csvInput = args->from == "csv" || (readsCsvByName && pathExtension(report.sourcePath) == "csv")
                                  || (fromStdin && args->from == "csv");
            auto lineProblem = std::find_if(report.problems.begin(), report.problems.end(),
                                            [](const std::string& problem) { return problem.starts_with("line "); });
            auto writeProblem = std::find_if(report.problems.begin(), report.problems.end(),
                                             [](const std::string& problem) { return problem.starts_with("cannot write "); });
            const std::string written = csvInput ? (args->to == "json" ? "json" : "plist") : "csv";
            if (outputDirMissing && writeProblem != report.problems.end() && pathExtension(args->outputDir) == written)
                *writeProblem += "; use -O " + args->outputDir + " to name the output file";
            const bool failed = lineProblem != report.problems.end();
            if (!csvInput || !args->delimiter.empty() || args->excel
                || (!failed && report.status != ConversionReport::Status::Converted))
                return;
            const std::optional<Text> sample = fromStdin ? csvSample(stdinStart, args->encoding)
                                                         : csvSampleOfFile(report.sourcePath, args->encoding);
            if (std::optional<std::string> hint = sample ? delimiterHint(*sample, failed) : std::nullopt) {
                if (failed)
                    *lineProblem += "; " + *hint;
                else
                    report.notes.push_back(*hint);
            }
        };
        // -d auto: the delimiter of a CSV input, chosen from its start and said on standard error.
        auto withChosenDelimiter = [&](const std::string& source, const std::optional<Text>& sample) {
            ConversionOptions chosen = options;
            chosen.csvRead.delimiter = chosen.csvWrite.delimiter = sample ? guessDelimiter(*sample) : u',';
            context.err << source << ": separated by " << shownDelimiter(chosen.csvRead.delimiter) << " (-d auto)\n";
            return chosen;
        };
        auto finish = [&](ConversionReport report) {
            addHints(report);
            progress.end();
            // A reader that went away ends the run quietly, as a pipeline expects; the files still
            // converting were cancelled and took their temporary files with them.
            if (interrupts.signalNumber() == SIGPIPE)
                return;
            if (!report.outputPath.empty() && !args->quiet && stream != StreamTarget::Out)
                context.out << report.sourcePath << " -> " << report.outputPath << '\n';
            printReport(report, context.err, args->quiet);
            if (report.status == ConversionReport::Status::Failed || report.status == ConversionReport::Status::Partial
                || report.status == ConversionReport::Status::Cancelled)
                context.status = ExitStatus::Failed;
        };
        if (fromStdin) {
            std::string bytes;
            if (const std::error_code error = readWholeInput(context.in, bytes)) {
                ConversionReport report;
                report.sourcePath = "standard input";
                report.problems.push_back(describeUnreadable(error));
                // A read ended by an interrupt is no read error: it is reported as any stopped
                // conversion is, and the exit status tells of the signal.
                if (interrupts.signalNumber() != 0) {
                    report.status = ConversionReport::Status::Cancelled;
                    report.problems.assign(1, "stopped on request; nothing was written");
                }
                finish(report);
            } else {
                progress.begin("-");
                stdinStart = bytes.substr(0, 64 * 1024);
                try {
                    if (autoDelimiter && *options.run.inputKind == InputKind::Csv)
                        finish(FileConverter(defaults, withChosenDelimiter("-", csvSample(stdinStart, args->encoding)))
                                   .convertBytes(std::move(bytes), "-", InputKind::Csv));
                    else
                        finish(converter.convertBytes(std::move(bytes), "-", *options.run.inputKind));
                } catch (const std::bad_alloc&) {
                    finish(tooLarge("standard input"));
                }
            }
        } else {
            std::string folder = toStdout ? std::string(".") : args->outputDir;
            // The save folder is formed by appending "/"; keep "dir/" from becoming "dir//".
            while (folder.size() > 1 && folder.back() == '/')
                folder.pop_back();
            // Outputs that would replace an input already read are refused before anything is read.
            std::vector<std::optional<ConversionReport>> refused(args->files.size());
            std::vector<std::string> converted;
            std::vector<std::size_t> convertedIndex;
            for (std::size_t i = 0; i < args->files.size(); ++i) {
                const std::optional<std::string> planned = converter.plannedOutputPath(args->files[i], folder);
                if (planned && stream == StreamTarget::None)
                    refused[i] = refuseReplacingInput(args->files, i, *planned);
                if (!refused[i]) {
                    converted.push_back(args->files[i]);
                    convertedIndex.push_back(i);
                }
            }
            std::size_t reported = 0; // the refusals before this index are printed
            auto finishRefusedBefore = [&](std::size_t end) {
                for (; reported < end; ++reported)
                    if (refused[reported])
                        finish(*refused[reported]);
            };
            if (args->jobs == 1 || autoDelimiter) {
                // One file at a time, so that the progress line can name it and its report shows at once
                // (and -d auto can choose each file's delimiter).
                for (std::size_t k = 0; k < converted.size(); ++k) {
                    const std::string& file = converted[k];
                    finishRefusedBefore(convertedIndex[k] + 1);
                    progress.begin(file);
                    try {
                        if (autoDelimiter && readsCsvByName && (args->from == "csv" || pathExtension(file) == "csv"))
                            finish(FileConverter(defaults, withChosenDelimiter(file, csvSampleOfFile(file, args->encoding)))
                                       .convertDroppedFiles({file}, folder)
                                       .front());
                        else
                            finish(converter.convertDroppedFiles({file}, folder).front());
                    } catch (const std::bad_alloc&) {
                        finish(tooLarge(file));
                    }
                }
                finishRefusedBefore(refused.size());
            } else {
                // Several files at once: no progress line (it names one file). Each report is printed
                // as soon as its file and every one before it are done, so the output reads as it
                // would one file after another, only sooner.
                ConversionOptions parallel = options;
                parallel.run.progress = {};
                ParallelHooks hooks;
                hooks.finished = [&](std::size_t k, const ConversionReport& report) {
                    finishRefusedBefore(convertedIndex[k] + 1);
                    finish(report);
                    context.out.flush();
                };
                try {
                    ParallelConverter(defaults, parallel).convertFiles(converted, folder, args->jobs, hooks);
                    finishRefusedBefore(refused.size());
                } catch (const std::bad_alloc&) {
                    finish(tooLarge("convert"));
                }
            }
        }
        if (interrupts.signalNumber() != 0)
            context.status = static_cast<ExitStatus>(128 + interrupts.signalNumber());
    });
}

} // namespace plistable::cli
