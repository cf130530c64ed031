#include "cli/Cli.hpp"

#include "cli/CommandContext.hpp"
#include "core/Log.hpp"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <new>
#include <ostream>

namespace plistable::cli {

namespace {

// The help of CLI11 with hidden positionals left out: it would show them as "[]" in the usage line,
// and the hidden group as one more blank line after the options.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        std::string usage = CLI::Formatter::make_usage(app, std::move(name));
        for (std::size_t at; (at = usage.find(" []")) != std::string::npos;)
            usage.erase(at, 3);
        return usage;
    }
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override
    {
        std::string help = CLI::Formatter::make_help(app, name, mode);
        const bool hidden = !app->get_options([](const CLI::Option* option) {
                                    return option->get_positional() && option->get_group().empty();
                                }).empty();
        const std::string footer = make_footer(app);
        const std::size_t end = help.size() - footer.size();
        if (hidden && !footer.empty() && help.ends_with(footer) && end >= 2 && help.compare(end - 2, 2, "\n\n") == 0)
            help.erase(end - 1, 1);
        return help;
    }
};

// Flushes `out`; false, after saying why on `err`, when not every byte got out.
bool flushOrSayWhy(std::ostream& out, std::ostream& err)
{
    errno = 0;
    out.flush();
    if (out)
        return true;
    const int error = errno;
    err << "plistable: cannot write standard output"
        << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
    return false;
}

} // namespace

void endOptionsAtMarker(CLI::App& command)
{
    // The parser keeps reading operands after "--" only while some positional still wants one; this
    // hidden one always does until it has been given an operand, which no command takes.
    command.add_option("OPERAND")->group("")->expected(1)->each([](const std::string& operand) {
        throw CLI::ExtrasError({operand});
    });
}

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
    // -V, -v and --version all print the version, as plistable-gui's do.
    app.set_version_flag("-V,-v,--version", std::string("plistable ") + PLISTABLE_VERSION);
    app.footer("\n"
               "Examples:\n"
               "  plistable convert data.csv                      data.csv -> ./data.plist\n"
               "  plistable convert --header -o out/ *.csv *.plist  several files into out/\n"
               "  plistable convert --encoding cp932 -d semicolon -O list.plist export.csv\n"
               "  plistable convert --excel --output-encoding cp932 table.plist   CSV for Japanese Excel\n"
               "  printf 'a,b\\n1,2\\n' | plistable convert --from csv - -o -\n"
               "  plistable config header on                      the first CSV line names the keys\n"
               "\n"
               "Exit status:\n"
               "  0  every file converted (or passed over)\n"
               "  1  a file failed or was converted only in part\n"
               "  2  usage error\n"
               "  128+N  stopped by signal N (130 for Ctrl-C)\n"
               "\n"
               "Files and environment:\n"
               "  $XDG_CONFIG_HOME/plistable/settings.json   the stored settings (config); XDG_CONFIG_HOME\n"
               "                                             defaults to ~/.config\n"
               "\n"
               "plistable COMMAND --help (or plistable help COMMAND) describes each command.");
    app.require_subcommand(1);
    app.fallthrough(false);
    app.formatter(std::make_shared<HelpFormatter>());

    addConvertCommand(app, context);
    addConfigCommand(app, context);
    addDetectEncodingCommand(app, context);
    addWriteCommand(app, context);
    addReadCommand(app, context);
    addStringsCommand(app, context);

    // "plistable help COMMAND" is "plistable COMMAND --help"; "plistable help" alone the overview.
    std::vector<std::string> words(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (!words.empty() && words.front() == "help" && words.size() <= 2) {
        words.erase(words.begin());
        words.push_back("--help");
    }
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        // Help and --version are "errors" with exit code 0, printed to `out`.
        const int code = app.exit(e, out, err);
        if (code != 0)
            return static_cast<int>(ExitStatus::Usage);
        // Help that did not reach its reader (a full disk) was not given.
        return flushOrSayWhy(out, err) ? 0 : static_cast<int>(ExitStatus::Failed);
    } catch (const std::bad_alloc&) {
        // The commands name the input that did not fit; this is for memory that ran out elsewhere.
        err << "plistable: out of memory\n";
        return static_cast<int>(ExitStatus::Failed);
    }
    // What a command printed counts only once it is out: a full disk shows at the last flush. (A closed
    // pipe ends the process quietly through SIGPIPE before this; convert instead stops and exits 141.)
    if (context.status == ExitStatus::Ok && !flushOrSayWhy(out, err))
        return static_cast<int>(ExitStatus::Failed);
    out.flush();
    // A command that failed has said why already, standard output included. A command stopped by a
    // signal (a reader of standard output that went away, too) exits as the signal says.
    if (static_cast<int>(context.status) > 128)
        return static_cast<int>(context.status);
    return static_cast<int>(!out ? ExitStatus::Failed : context.status);
}

} // namespace plistable::cli
