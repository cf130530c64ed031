#include "core/io/FileContents.hpp"

#include "core/io/ReadError.hpp"
#include "core/io/detail/FileDescriptor.hpp"

#include <cerrno>
#include <new>
#include <stdexcept>
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
    return readDescriptorContents(file.get(), stop);
}

FileContents readDescriptorContents(int fd, const std::atomic<bool>* stop)
{
    FileContents result;
    if ((result.error = detail::checkReadableKind(fd)))
        return result;
    // An endless pipe, or a file larger than memory, ends in an allocation failure: a value here.
    try {
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
            result.bytes.reserve(static_cast<std::size_t>(info.st_size));
        char chunk[1 << 16];
        for (;;) {
            if (stop && stop->load()) {
                result.error = std::make_error_code(std::errc::operation_canceled);
                result.bytes.clear();
                break;
            }
            const ssize_t n = detail::readSome(fd, chunk, sizeof chunk, stop);
            if (n < 0) {
                result.error = std::error_code(errno, std::generic_category());
                result.bytes.clear();
                break;
            }
            if (n == 0)
                break;
            result.bytes.append(chunk, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        result.bytes = std::string();
        result.error = make_error_code(ReadError::TooLarge);
    } catch (const std::length_error&) {
        result.bytes = std::string();
        result.error = make_error_code(ReadError::TooLarge);
    }
    return result;
}

} // namespace plistable
