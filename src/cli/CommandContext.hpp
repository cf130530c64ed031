#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace plistable::cli {

/// Exit statuses of the command line.
enum class ExitStatus {
    Ok = 0,     ///< everything asked for was done completely
    Failed = 1, ///< some input failed or was only partly converted; stderr says which and why
    Usage = 2,  ///< the command line itself was wrong
};

/// What a command needs of the process: its streams, the settings store and where its result goes.
struct CommandContext {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string settingsPath;            ///< the settings store the commands read and write
    ExitStatus status = ExitStatus::Ok;  ///< set by the command that ran
};

/// Adds one subcommand to `app`; its callback runs the command and sets context.status.
using CommandInstaller = std::function<void(CLI::App& app, CommandContext& context)>;

void addConvertCommand(CLI::App& app, CommandContext& context);
void addConfigCommand(CLI::App& app, CommandContext& context);
void addDetectEncodingCommand(CLI::App& app, CommandContext& context);
/// `write [FILE | -]`: prints the CSV text of a JSON array read from FILE or standard input.
void addWriteCommand(CLI::App& app, CommandContext& context);

} // namespace plistable::cli
