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

/// Reads a whole file (a regular file, a pipe or a device) into memory. Once `stop` reads true
/// (checked between reads, and when a blocked read is interrupted by a signal) reading ends with
/// the error operation_canceled and no bytes.
FileContents readFileContents(const std::string& path, const std::atomic<bool>* stop = nullptr);

} // namespace plistable
