#include "cli/CommandContext.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/AtomicFile.hpp"
#include "core/text/EncodingDetection.hpp"

#include <CLI/CLI.hpp>
#include <ostream>

namespace plistable::cli {

void addDetectEncodingCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand("detect-encoding",
                                       "Print the encoding each file would be read in: PATH<TAB>IDENTIFIER<TAB>NAME");
    command->footer("\n"
                    "Examples:\n"
                    "  plistable detect-encoding data.csv      # data.csv<TAB>8<TAB>Shift_JIS\n"
                    "  plistable detect-encoding *.csv");
    auto files = std::make_shared<std::vector<std::string>>();
    command->add_option("FILE", *files, "Files to examine")->required();
    endOptionsAtMarker(*command);
    command->callback([&context, files] {
        for (const std::string& path : *files) {
            const FileContents contents = readFileContents(path);
            if (contents.error) {
                context.err << path << ": cannot read: " << contents.error.message() << '\n';
                context.status = ExitStatus::Failed;
                continue;
            }
            const TextEncoding encoding = detectEncoding(contents.bytes);
            context.out << path << '\t' << encoding << '\t' << encodingName(encoding) << '\n';
        }
    });
}

} // namespace plistable::cli
