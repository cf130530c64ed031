#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace plistable {

/// The user's settings: boolean values by key, kept in a small JSON file that the command line
/// and the desktop window share. Registered defaults answer for keys with no stored value and are
/// never written. A missing store reads as empty; a damaged one (no JSON object, or over 1 MiB)
/// reads as empty with a warning in the log, and is replaced at the next synchronize() (by the
/// values last read or set here). A store that is no regular file (a fifo, a device, a folder, also
/// behind a link) is neither waited on nor read nor ever replaced. Keys and values this class does
/// not know stay in the store as they are. Writers in several processes are serialized, so none
/// loses another's values.
class UserDefaults {
public:
    /// The store at `path`, loaded at once.
    explicit UserDefaults(std::string path);

    /// The shared store: $XDG_CONFIG_HOME/plistable/settings.json, where XDG_CONFIG_HOME defaults
    /// to ~/.config.
    static std::string standardStorePath();

    /// Adds values answered for keys that have no stored value; they are not stored.
    void registerDefaults(const std::map<std::string, bool>& defaults);

    /// The stored value of `key`, else its registered default, else nothing.
    std::optional<bool> objectForKey(const std::string& key) const;

    /// objectForKey(key), an absent value reading as false.
    bool boolForKey(const std::string& key) const { return objectForKey(key).value_or(false); }

    /// Stores a value in memory; synchronize() makes it persistent.
    void setBool(const std::string& key, bool value);

    /// The keys that hold text instead of true or false: the window's last save folder, then the
    /// window's options that are no switch (see Settings.hpp). Text under any other key is a damaged value.
    static constexpr std::string_view textKeys[] = {"lastFolder", "outputEncoding", "delimiterIn", "delimiterOut",
                                                    "outputForm"};

    /// The stored text value for `key`, or nothing when none is stored (text values have no defaults).
    std::optional<std::string> stringForKey(const std::string& key) const;

    /// Stores a text value in memory; synchronize writes it.
    void setString(const std::string& key, std::string value);

    /// Writes the values set since the last synchronize() to the store at once, atomically, keeping
    /// values that another process stored meanwhile under other keys, and every key and value it does
    /// not know. False when the write failed or the store is no regular file (the old store then
    /// stays as it was). A store that is a symbolic link stays one: the file it
    /// leads to is replaced, in that file's folder.
    bool synchronize();

    /// The values stored (not the registered defaults).
    const std::map<std::string, bool>& storedValues() const { return _stored; }

    const std::string& path() const { return _path; }

private:
    std::string _path;
    std::map<std::string, bool> _stored;
    std::map<std::string, bool> _registered;
    std::set<std::string> _changed;
    std::map<std::string, std::string> _strings;
    std::set<std::string> _changedStrings;
};

} // namespace plistable
