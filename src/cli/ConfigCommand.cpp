#include "cli/CommandContext.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"

#include <CLI/CLI.hpp>
#include <ostream>

namespace plistable::cli {
namespace {

// The settings the command line knows, with their registered defaults.
const std::map<std::string, bool> knownSettings = {{std::string(settings::headerKey), settings::headerDefault}};

} // namespace

void addConfigCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand("config", "Show the stored settings, or store one (config header on|off)");
    command->footer("\n"
                    "Examples:\n"
                    "  plistable config                 # header = off\n"
                    "  plistable config header on       # the first CSV line names the keys");
    auto key = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    command->add_option("key", *key, "Setting to store")->check(CLI::IsMember({std::string(settings::headerKey)}));
    command->add_option("value", *value, "on or off")->check(CLI::IsMember({"on", "off", "true", "false"}));
    endOptionsAtMarker(*command);
    command->callback([&context, key, value] {
        UserDefaults defaults(context.settingsPath);
        defaults.registerDefaults(knownSettings);
        if (key->empty()) {
            for (const auto& [name, fallback] : knownSettings)
                context.out << name << " = " << (defaults.boolForKey(name) ? "on" : "off") << '\n';
            return;
        }
        if (value->empty()) {
            context.out << *key << " = " << (defaults.boolForKey(*key) ? "on" : "off") << '\n';
            return;
        }
        defaults.setBool(*key, *value == "on" || *value == "true");
        if (!defaults.synchronize()) {
            context.err << "plistable: the setting could not be stored in " << context.settingsPath << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        context.out << *key << " = " << (defaults.boolForKey(*key) ? "on" : "off") << '\n';
    });
}

} // namespace plistable::cli
