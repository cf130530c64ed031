#include "core/io/FileContents.hpp"
#include "core/UserDefaults.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/Log.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plistable {
namespace {

bool isTextKey(const std::string& key)
{
    for (std::string_view textKey : UserDefaults::textKeys)
        if (key == textKey)
            return true;
    return false;
}

// The file that `path` names once symbolic links are followed (a link's relative target counts from
// the link's folder); `path` itself when it is no link. A loop of links stops after 40 steps.
std::string followLinks(std::string path)
{
    for (int step = 0; step < 40; ++step) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
            break;
        std::string next(target, static_cast<std::size_t>(length));
        const std::size_t slash = path.rfind('/');
        if (next.front() != '/' && slash != std::string::npos)
            next = path.substr(0, slash + 1) + next;
        path = std::move(next);
    }
    return path;
}

// Creates every missing folder of `folder`, like mkdir -p; errors show up when the file is written.
void makeFolders(const std::string& folder)
{
    for (std::size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        ::mkdir(prefix.c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
}

} // namespace

UserDefaults::UserDefaults(std::string path)
    : _path(std::move(path)), _stored(load(_path).value_or(std::map<std::string, bool>{})),
      _strings(loadStrings(_path).value_or(std::map<std::string, std::string>{}))
{
}

std::string UserDefaults::standardStorePath()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/plistable/settings.json";
}

// The stored values; nothing (after a warning) when the store exists but cannot be read or parsed.
std::optional<std::map<std::string, bool>> UserDefaults::load(const std::string& path)
{
    // A store of a few settings is a few bytes; one over this size is damaged, and neither
    // reading nor parsing it is worth the time and memory.
    constexpr off_t largestStore = 1 << 20;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > largestStore) {
        log("plistable: settings " + path + " are damaged; using defaults");
        return std::nullopt;
    }
    FileContents contents = readFileContents(path);
    if (contents.error) {
        if (contents.error == std::errc::no_such_file_or_directory)
            return std::map<std::string, bool>{};
        log("plistable: cannot read settings " + path + ": " + contents.error.message() + "; using defaults");
        return std::nullopt;
    }
    const nlohmann::json document = nlohmann::json::parse(contents.bytes, nullptr, false);
    if (!document.is_object()) {
        log("plistable: settings " + path + " are damaged; using defaults");
        return std::nullopt;
    }
    std::map<std::string, bool> values;
    for (const auto& [key, value] : document.items()) {
        if (value.is_boolean())
            values[key] = value.get<bool>();
        else if (!(value.is_string() && isTextKey(key))) // text values are read by loadStrings
            log("plistable: settings " + path + ": ignoring \"" + key + "\", which is not true or false");
    }
    return values;
}

// The text values of the store, read without warnings (load gives those).
std::optional<std::map<std::string, std::string>> UserDefaults::loadStrings(const std::string& path)
{
    FileContents contents = readFileContents(path);
    if (contents.error)
        return contents.error == std::errc::no_such_file_or_directory
                   ? std::optional(std::map<std::string, std::string>{})
                   : std::nullopt;
    const nlohmann::json document = nlohmann::json::parse(contents.bytes, nullptr, false);
    if (!document.is_object())
        return std::nullopt;
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : document.items())
        if (value.is_string() && isTextKey(key))
            values[key] = value.get<std::string>();
    return values;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    if (auto stored = _strings.find(key); stored != _strings.end())
        return stored->second;
    return std::nullopt;
}

void UserDefaults::setString(const std::string& key, std::string value)
{
    _strings[key] = std::move(value);
    _changedStrings.insert(key);
}

void UserDefaults::registerDefaults(const std::map<std::string, bool>& defaults)
{
    for (const auto& [key, value] : defaults)
        _registered[key] = value;
}

std::optional<bool> UserDefaults::objectForKey(const std::string& key) const
{
    if (auto stored = _stored.find(key); stored != _stored.end())
        return stored->second;
    if (auto registered = _registered.find(key); registered != _registered.end())
        return registered->second;
    return std::nullopt;
}

void UserDefaults::setBool(const std::string& key, bool value)
{
    _stored[key] = value;
    _changed.insert(key);
}

bool UserDefaults::synchronize()
{
    // A store that is a symbolic link (settings kept in a dotfiles folder) stays one: its target is
    // what gets replaced, atomically, in the target's own folder.
    const std::string storePath = followLinks(_path);
    const std::string folder =
        storePath.rfind('/') == std::string::npos ? "." : storePath.substr(0, storePath.rfind('/'));
    makeFolders(folder);
    // Another process may store values between our reading the store and replacing it, and ours
    // would then undo its change: writers take turns, holding a lock on the store's folder (which
    // is released when the descriptor closes, also when a writer dies). Without the lock (a folder
    // we cannot open) the write goes ahead as before.
    const int lock = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock >= 0)
        while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
        }
    struct Unlock {
        int fd;
        ~Unlock()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } unlock{lock};

    // Start from the store as it is now; a damaged one gives way to the values we know.
    std::map<std::string, bool> merged = load(_path).value_or(_stored);
    for (const std::string& key : _changed)
        merged[key] = _stored[key];

    std::map<std::string, std::string> mergedStrings = loadStrings(_path).value_or(_strings);
    for (const std::string& key : _changedStrings)
        mergedStrings[key] = _strings[key];

    nlohmann::json document = nlohmann::json::object();
    for (const auto& [key, value] : mergedStrings)
        document[key] = value;
    for (const auto& [key, value] : merged)
        document[key] = value;

    AtomicFile file(storePath);
    file.write(document.dump(2) + "\n");
    if (std::error_code error = file.commit()) {
        log("plistable: cannot write settings " + _path + ": " + error.message());
        return false;
    }
    _stored = std::move(merged);
    _changed.clear();
    _strings = std::move(mergedStrings);
    _changedStrings.clear();
    return true;
}

} // namespace plistable
