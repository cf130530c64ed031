#pragma once

#include <string>
#include <system_error>
#include <type_traits>

namespace plistable {

/// Reasons an input cannot be read that the system has no error number for.
enum class ReadError {
    NotAFileOrPipe = 1, ///< a device, socket or other special file: it may never end, so it is not read
    TooLarge,           ///< reading it whole needs more memory than there is
    NotARegularFile,    ///< a device, fifo or socket where only a regular file will do (a store, an output to replace)
};

/// The category of ReadError codes; its messages are "not a regular file or a pipe", "too large
/// to read into memory" and "not a regular file".
const std::error_category& readErrorCategory() noexcept;

/// A ReadError as an error_code, so that it travels where errno values do.
std::error_code make_error_code(ReadError error) noexcept;

} // namespace plistable

template <>
struct std::is_error_code_enum<plistable::ReadError> : std::true_type {};
