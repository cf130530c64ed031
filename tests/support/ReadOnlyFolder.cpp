#include "support/ReadOnlyFolder.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plistable::test {
namespace {

// Sets or clears the immutable attribute (as chattr +i / -i does); false when it cannot.
bool setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

} // namespace

ReadOnlyFolder::ReadOnlyFolder(std::string path) : _path(std::move(path))
{
    ::chmod(_path.c_str(), 0555);
    if (::geteuid() == 0)
        _immutable = setImmutable(_path, true);
    // Ask the file system rather than guess: can a file still be made here?
    const std::string probe = _path + "/.probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
    }
    _effective = fd < 0;
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (_immutable)
        setImmutable(_path, false);
    ::chmod(_path.c_str(), 0755);
}

} // namespace plistable::test
