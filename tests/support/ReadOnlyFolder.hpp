#pragma once

#include <string>

namespace plistable::test {

/// Makes a folder refuse new files while it lives: its write permission is taken away and, since
/// the superuser ignores permissions, it is also marked immutable where the file system and the
/// process's privileges allow. Everything is undone at the end, so the folder can be removed.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    /// True when creating a file in the folder really fails; tests skip themselves otherwise.
    bool effective() const { return _effective; }

private:
    std::string _path;
    bool _immutable = false;
    bool _effective = false;
};

} // namespace plistable::test
