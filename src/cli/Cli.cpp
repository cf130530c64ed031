#include "cli/Cli.hpp"

#include "cli/CommandContext.hpp"
#include "core/Log.hpp"

#include <CLI/CLI.hpp>
#include <ostream>

namespace plistable::cli {

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        const std::string& settingsPath)
{
    CommandContext context{in, out, err, settingsPath};
    // The library's log lines (an encoding guess, missing keys) go to this run's error stream.
    LogSink previous = setLogSink([&err](std::string_view message) { err << message << '\n' << std::flush; });
    struct RestoreSink {
        LogSink& previous;
        ~RestoreSink() { setLogSink(std::move(previous)); }
    } restore{previous};

    CLI::App app{"plistable: converts tables between CSV and XML property lists", "plistable"};
    app.set_version_flag("--version", std::string("plistable ") + PLISTABLE_VERSION);
    app.require_subcommand(1);
    app.fallthrough(false);

    addConvertCommand(app, context);
    addConfigCommand(app, context);
    addDetectEncodingCommand(app, context);
    addWriteCommand(app, context);

    std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        // Help and --version are "errors" with exit code 0, printed to `out`.
        const int code = app.exit(e, out, err);
        return code == 0 ? 0 : static_cast<int>(ExitStatus::Usage);
    }
    return static_cast<int>(context.status);
}

} // namespace plistable::cli
