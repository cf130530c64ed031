#pragma once

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
    // A conversion stopped by a signal exits 128 + the signal's number, as a shell reports it.
    HangUp = 129,      ///< SIGHUP stopped the conversion; nothing was written for the file it was on
    Interrupted = 130, ///< SIGINT (Ctrl+C) stopped it
    BrokenPipe = 141,  ///< the reader of the result went away (SIGPIPE): stopped without a message
    Terminated = 143,  ///< SIGTERM stopped it
};

/// What a command needs of the process: its streams, the settings store and where its result goes.
struct CommandContext {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string settingsPath;            ///< the settings store the commands read and write
    ExitStatus status = ExitStatus::Ok;  ///< set by the command that ran
};

/// Makes "--" end the options of `command` wherever it stands, also after the operands its required
/// positionals take (the parser otherwise hands the rest back to the main command). An operand after
/// "--" that the command has no room for is a usage error.
void endOptionsAtMarker(CLI::App& command);

// Each adds one subcommand to `app`; its callback runs the command and sets context.status.

/// `convert [-o DIR] [--header | --no-header] [--encoding NAME] FILE...`: the dispatch into DIR.
void addConvertCommand(CLI::App& app, CommandContext& context);
/// `config [header [on|off]]`: shows or stores the settings.
void addConfigCommand(CLI::App& app, CommandContext& context);
/// `detect-encoding FILE...`: PATH<TAB>IDENTIFIER<TAB>NAME per file.
void addDetectEncodingCommand(CLI::App& app, CommandContext& context);
/// `write [FILE | -]`: prints the CSV text of a JSON array read from FILE or standard input.
void addWriteCommand(CLI::App& app, CommandContext& context);
/// `read [options] [FILE | -]`: the rows (or the events) of a CSV file as JSON.
void addReadCommand(CLI::App& app, CommandContext& context);
/// `strings export|import|check`: localization files to one CSV table and back, and their checks.
void addStringsCommand(CLI::App& app, CommandContext& context);

} // namespace plistable::cli
