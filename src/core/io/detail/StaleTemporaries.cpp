#include "core/io/detail/StaleTemporaries.hpp"

#include "core/io/detail/FileDescriptor.hpp"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plistable::detail {
namespace {

constexpr std::string_view marker = ".plistable-";
constexpr std::size_t randomLength = 6; // the XXXXXX mkstemp fills in

std::mutex scansMutex;
// Real folder path -> the temporary names that looked stale when it was read; guarded by scansMutex.
std::map<std::string, std::vector<std::string>> scans;
std::size_t scanCount = 0;

// Opens `path` and locks it when it is a regular file unchanged for `age` seconds that no writer
// holds locked: the descriptor holding the lock, or none. The age spares a file that a writer has
// created but not yet locked.
FileDescriptor lockIfStale(const std::string& path, std::time_t age)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || ::time(nullptr) - info.st_mtime < age || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return FileDescriptor();
    return file;
}

std::vector<std::string> scan(const std::string& folder, std::time_t age)
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), ::closedir);
    if (!directory)
        return names;
    while (const dirent* entry = ::readdir(directory.get()))
        if (isTemporaryName(entry->d_name) && lockIfStale(folder + entry->d_name, age).valid())
            names.emplace_back(entry->d_name);
    return names;
}

} // namespace

bool isTemporaryName(std::string_view name)
{
    // "." + at least one byte of the target's name + marker + the random part.
    if (name.size() < 2 + marker.size() + randomLength || name.front() != '.')
        return false;
    return name.substr(name.size() - randomLength - marker.size(), marker.size()) == marker;
}

std::size_t removeStaleTemporaries(const std::string& folder, std::string_view prefix, std::time_t age)
{
    char resolved[PATH_MAX];
    const std::string key = ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
    const std::lock_guard<std::mutex> lock(scansMutex);
    auto found = scans.find(key);
    if (found == scans.end()) {
        found = scans.emplace(key, scan(folder, age)).first;
        ++scanCount;
    }
    std::vector<std::string>& names = found->second;
    std::size_t removed = 0;
    for (auto name = names.begin(); name != names.end();) {
        if (name->size() != prefix.size() + randomLength || !name->starts_with(prefix)) {
            ++name;
            continue;
        }
        // Checked again: a writer may have taken the name since the scan. The lock is held while
        // the file goes, so no writer can take it meanwhile.
        const std::string path = folder + *name;
        if (lockIfStale(path, age).valid() && ::unlink(path.c_str()) == 0)
            ++removed;
        name = names.erase(name);
    }
    return removed;
}

std::size_t temporaryFolderScans()
{
    const std::lock_guard<std::mutex> lock(scansMutex);
    return scanCount;
}

} // namespace plistable::detail
