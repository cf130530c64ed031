#include "cli/CommandContext.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/text/TextEncoding.hpp"
#include "core/UserDefaults.hpp"

#include <CLI/CLI.hpp>
#include <ostream>

namespace plistable::cli {
namespace {

struct ConvertArguments {
    std::vector<std::string> files;
    std::string outputDir = ".";
    bool header = false;
    bool noHeader = false;
    std::string encoding;
};

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
    auto args = std::make_shared<ConvertArguments>();
    command->add_option("FILE", args->files, "Files to convert, in order (others are passed over)")->required();
    command->add_option("-o,--output-dir", args->outputDir, "Folder to write into (default: the current folder)")
        ->check([](const std::string& folder) {
            // An empty name would make the save folder "/", the root.
            return folder.empty() ? std::string("the output folder name is empty") : std::string();
        });
    auto* header = command->add_flag("--header", args->header, "The first CSV line is a header row (this run only)");
    command->add_flag("--no-header", args->noHeader, "The first CSV line is a record (this run only)")->excludes(header);
    command->add_option("--encoding", args->encoding,
                        "Read every CSV file in this encoding (e.g. cp932, windows-1252) instead of detecting it")
        ->check([](const std::string& name) {
            return canonicalEncodingName(name) ? std::string() : "unknown encoding: " + name;
        });

    command->callback([&context, args] {
        ConversionOptions options;
        if (args->header)
            options.header = true;
        else if (args->noHeader)
            options.header = false;
        if (!args->encoding.empty())
            options.encodingName = args->encoding;

        UserDefaults defaults(context.settingsPath);
        FileConverter converter(defaults, options);
        std::string folder = args->outputDir;
        // The save folder is formed by appending "/"; keep "dir/" from becoming "dir//".
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        for (const ConversionReport& report : converter.convertDroppedFiles(args->files, folder)) {
            if (!report.outputPath.empty())
                context.out << report.sourcePath << " -> " << report.outputPath << '\n';
            printReport(report, context.err);
            if (report.status == ConversionReport::Status::Failed || report.status == ConversionReport::Status::Partial)
                context.status = ExitStatus::Failed;
        }
    });
}

} // namespace plistable::cli
