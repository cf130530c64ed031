#include "cli/CommandContext.hpp"
#include "cli/CsvDialectNames.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"
#include "core/text/TextEncoding.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>

namespace plistable::cli {
namespace {

// The settings the command line knows, with their registered defaults.
const std::map<std::string, bool> knownSettings = {{std::string(settings::headerKey), settings::headerDefault}};

// The desktop window's options (see Settings.hpp): on/off ones, then text ones. They are listed
// once stored, so that a store holding none lists exactly the settings above.
const std::string_view windowSwitches[] = {settings::excelKey, settings::typesKey, settings::allKeysKey,
                                           settings::includeSubfoldersKey};
const std::string_view windowTexts[] = {settings::outputEncodingKey, settings::delimiterInKey,
                                        settings::delimiterOutKey, settings::outputFormKey};

bool isWindowText(const std::string& key)
{
    return std::find(std::begin(windowTexts), std::end(windowTexts), key) != std::end(windowTexts);
}

bool isDelimiterKey(const std::string& key)
{
    return key == settings::delimiterInKey || key == settings::delimiterOutKey;
}

// A stored text as it is shown: a delimiter by its name, no encoding as utf-8, no form as xml.
std::string shownText(const std::string& key, const std::optional<std::string>& stored)
{
    if (isDelimiterKey(key)) {
        const std::string delimiter = stored.value_or(",");
        for (const char* name : {"comma", "semicolon", "tab", "pipe"})
            if (delimiterNamed(name) == fromUtf8Lossy(delimiter).front())
                return name;
        return delimiter;
    }
    if (!stored || stored->empty())
        return key == settings::outputFormKey ? "xml" : "utf-8";
    return *stored;
}

// The text to store for `value` under `key`, or nothing when the key does not take it.
std::optional<std::string> storedText(const std::string& key, const std::string& value)
{
    if (isDelimiterKey(key)) {
        const std::optional<char16_t> delimiter = delimiterNamed(value);
        if (!delimiter)
            return std::nullopt;
        return toUtf8Lossy(std::u16string(1, *delimiter));
    }
    if (key == settings::outputFormKey)
        return value == "xml" || value == "binary" || value == "json" || value == "openstep" || value == "strings" ? std::optional(value) : std::nullopt;
    if (!canonicalEncodingName(value))
        return std::nullopt;
    return value;
}

} // namespace

void addConfigCommand(CLI::App& app, CommandContext& context)
{
    auto* command = app.add_subcommand("config", "Show the stored settings, or store one (config header on|off)");
    command->footer("\n"
                    "The window's options, listed once stored; they apply to the window only (the command\n"
                    "line takes them as flags): excel, types, allKeys, includeSubfolders (on|off); outputEncoding (an encoding\n"
                    "name, e.g. utf-8, cp932); delimiterIn, delimiterOut (comma, semicolon, tab, pipe or one\n"
                    "character); outputForm (xml, binary, json, openstep, strings).\n"
                    "\n"
                    "Examples:\n"
                    "  plistable config                 # header = off\n"
                    "  plistable config header on       # the first CSV line names the keys\n"
                    "  plistable config outputEncoding cp932   # the window writes CSV for Japanese Excel");
    auto key = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    std::vector<std::string> keys{std::string(settings::headerKey)};
    keys.insert(keys.end(), std::begin(windowSwitches), std::end(windowSwitches));
    keys.insert(keys.end(), std::begin(windowTexts), std::end(windowTexts));
    command->add_option("key", *key, "Setting to store")->check(CLI::IsMember(keys));
    command->add_option("value", *value, "on or off (or the value of a text setting)");
    endOptionsAtMarker(*command);
    command->callback([&context, key, value] {
        UserDefaults defaults(context.settingsPath);
        defaults.registerDefaults(knownSettings);
        const auto show = [&context, &defaults](const std::string& name) {
            if (isWindowText(name))
                context.out << name << " = " << shownText(name, defaults.stringForKey(name)) << '\n';
            else
                context.out << name << " = " << (defaults.boolForKey(name) ? "on" : "off") << '\n';
        };
        if (key->empty()) {
            for (const auto& [name, fallback] : knownSettings)
                show(name);
            for (const std::string_view name : windowSwitches)
                if (defaults.storedValues().count(std::string(name)) != 0)
                    show(std::string(name));
            for (const std::string_view name : windowTexts)
                if (defaults.stringForKey(std::string(name)))
                    show(std::string(name));
            return;
        }
        if (value->empty()) {
            show(*key);
            return;
        }
        if (isWindowText(*key)) {
            const std::optional<std::string> text = storedText(*key, *value);
            if (!text)
                throw CLI::ValidationError("value", "not a value of " + *key + ": " + *value);
            defaults.setString(*key, *text);
        } else {
            if (*value != "on" && *value != "off" && *value != "true" && *value != "false")
                throw CLI::ValidationError("value", *value + " not in {on,off,true,false}");
            defaults.setBool(*key, *value == "on" || *value == "true");
        }
        if (!defaults.synchronize()) {
            context.err << "plistable: the setting could not be stored in " << context.settingsPath << '\n';
            context.status = ExitStatus::Failed;
            return;
        }
        show(*key);
    });
}

} // namespace plistable::cli
