#include "core/UserDefaults.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/Log.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// The store's document: an empty object when there is no store; nothing (after a warning) when it
// cannot be read, is no regular file, is larger than any real store, or holds no
// JSON object. Opened without blocking, so that a fifo in its place is refused, not waited on.
std::optional<nlohmann::json> readStore(const std::string& path)
{
    auto refuse = [&](const std::string& why) -> std::optional<nlohmann::json> {
        log("plistable: " + why + "; using defaults");
        return std::nullopt;
    };
    struct Descriptor {
        int fd;
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
        int get() const { return fd; }
    } const file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0)
        return errno == ENOENT ? std::optional(nlohmann::json::object())
                               : refuse("cannot read settings " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return refuse("settings " + path + " are not a regular file");
    // A store of a few settings is a few hundred bytes; one over this size is damaged, and neither
    // reading nor parsing it is worth the time and memory. The cap holds also for a file that grows
    // while it is read.
    constexpr std::size_t largestStore = 1 << 20;
    std::string bytes;
    char chunk[1 << 14];
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse("cannot read settings " + path + ": " + std::strerror(errno));
        if (n == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(n) > largestStore)
            return refuse("settings " + path + " are damaged");
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    nlohmann::json document = nlohmann::json::parse(bytes, nullptr, false);
    if (!document.is_object())
        return refuse("settings " + path + " are damaged");
    return document;
}

// The true-or-false values of a store's document, with a warning (when `warn`) for each other value
// that is not a text key's text. Those values stay in the store as they are.
std::map<std::string, bool> boolValues(const nlohmann::json& document, const std::string& path, bool warn)
{
    std::map<std::string, bool> values;
    for (const auto& [key, value] : document.items()) {
        if (value.is_boolean())
            values[key] = value.get<bool>();
        else if (warn && !(value.is_string() && isTextKey(key)))
            log("plistable: settings " + path + ": ignoring \"" + key + "\", which is not true or false");
    }
    return values;
}

// The text values of a store's document, under the text keys only.
std::map<std::string, std::string> textValues(const nlohmann::json& document)
{
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : document.items())
        if (value.is_string() && isTextKey(key))
            values[key] = value.get<std::string>();
    return values;
}

} // namespace

UserDefaults::UserDefaults(std::string path) : _path(std::move(path))
{
    if (const std::optional<nlohmann::json> document = readStore(_path)) {
        _stored = boolValues(*document, _path, true);
        _strings = textValues(*document);
    }
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
    // Only a regular file is ever replaced: a fifo, a device or a folder in the store's place stays.
    if (struct stat info {}; ::stat(storePath.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        log("plistable: cannot write settings " + _path + ": not a regular file");
        return false;
    }
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

    // Start from the store as it is now, every key and value in it kept as it is (also those this
    // program does not know); a damaged one gives way to the values we know.
    std::optional<nlohmann::json> current = readStore(_path);
    if (!current) {
        current = nlohmann::json::object();
        for (const auto& [key, value] : _strings)
            (*current)[key] = value;
        for (const auto& [key, value] : _stored)
            (*current)[key] = value;
    }
    nlohmann::json& document = *current;
    for (const std::string& key : _changedStrings)
        document[key] = _strings[key];
    for (const std::string& key : _changed)
        document[key] = _stored[key];

    AtomicFile file(storePath);
    file.write(document.dump(2) + "\n");
    if (std::error_code error = file.commit()) {
        log("plistable: cannot write settings " + _path + ": " + error.message());
        return false;
    }
    _stored = boolValues(document, _path, false);
    _changed.clear();
    _strings = textValues(document);
    _changedStrings.clear();
    return true;
}

} // namespace plistable
