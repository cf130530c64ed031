#include "core/io/FileContents.hpp"

#include "core/io/detail/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plistable {

FileContents readFileContents(const std::string& path, const std::atomic<bool>* stop)
{
    FileContents result;
    const detail::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        result.error = std::error_code(errno, std::generic_category());
        return result;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
        result.error = std::make_error_code(std::errc::is_a_directory);
        return result;
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        result.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[1 << 16];
    for (;;) {
        if (stop && stop->load()) {
            result.error = std::make_error_code(std::errc::operation_canceled);
            result.bytes.clear();
            break;
        }
        const ssize_t n = detail::readSome(file.get(), chunk, sizeof chunk, stop);
        if (n < 0) {
            result.error = std::error_code(errno, std::generic_category());
            result.bytes.clear();
            break;
        }
        if (n == 0)
            break;
        result.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return result;
}

} // namespace plistable
