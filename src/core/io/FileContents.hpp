#pragma once

#include <string>
#include <system_error>

namespace plistable {

/// The bytes of a file, or the reason it could not be read.
struct FileContents {
    std::string bytes;
    std::error_code error; ///< {} when `bytes` holds the whole file
};

/// Reads a whole file (a regular file, a pipe or a device) into memory.
FileContents readFileContents(const std::string& path);

} // namespace plistable
