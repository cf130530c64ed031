#include "cli/CommandContext.hpp"
#include "cli/Input.hpp"
#include "core/io/FileContents.hpp"
#include "core/io/ReadError.hpp"
#include "core/text/EncodingDetection.hpp"

#include <CLI/CLI.hpp>
#include <new>
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
            TextEncoding encoding = 0;
            std::error_code error;
            try {
                const FileContents contents = readFileContents(path);
                if (!(error = contents.error))
                    encoding = detectEncoding(contents.bytes);
            } catch (const std::bad_alloc&) {
                error = make_error_code(ReadError::TooLarge);
            }
            if (error) {
                context.err << path << ": " << describeUnreadable(error) << '\n';
                context.status = ExitStatus::Failed;
                continue;
            }
            context.out << path << '\t' << encoding << '\t' << encodingName(encoding) << '\n';
        }
    });
}

} // namespace plistable::cli
