#pragma once

#include <atomic>
#include <string>
#include <system_error>

namespace plistable {

/// The bytes of a file, or the reason it could not be read.
struct FileContents {
    std::string bytes;
    std::error_code error; ///< {} when `bytes` holds the whole file
};

/// Reads a whole file (a regular file or a pipe) into memory. A folder gives is_a_directory, any
/// other special file (a device, a socket) ReadError::NotAFileOrPipe before anything is read, and
/// input that does not fit in memory ReadError::TooLarge; `bytes` is then empty. Once `stop` reads
/// true (checked between reads, and when a blocked read is interrupted by a signal) reading ends
/// with the error operation_canceled and no bytes.
FileContents readFileContents(const std::string& path, const std::atomic<bool>* stop = nullptr);

/// As readFileContents(), from the descriptor `fd` already open for reading (which stays open): a pipe
/// opened once must be read through that opening, as a writer may pair with it alone.
FileContents readDescriptorContents(int fd, const std::atomic<bool>* stop = nullptr);

} // namespace plistable
