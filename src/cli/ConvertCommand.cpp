#include "cli/CommandContext.hpp"

#include <CLI/CLI.hpp>

namespace plistable::cli {

void addConvertCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand("convert", "Convert .csv files to property lists and .plist files to CSV");
    auto files = std::make_shared<std::vector<std::string>>();
    command->add_option("FILE", *files, "Files to convert")->required();
    command->callback([&context] { context.status = ExitStatus::Failed; });
}

} // namespace plistable::cli
