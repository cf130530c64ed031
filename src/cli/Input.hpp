#pragma once

#include <iosfwd>
#include <string>
#include <system_error>

namespace plistable::cli {

/// Reads all of `in` into `bytes`. Returns {} when the whole input was read; the read error of the
/// process's standard input (a folder, EIO) when `in` is std::cin; EIO when the stream went bad;
/// ReadError::TooLarge when it does not fit in memory (an endless pipe). `bytes` is empty on failure.
std::error_code readWholeInput(std::istream& in, std::string& bytes);

/// The read error `in` has met, or {}: for a caller that reads `in` piecewise and has just read less
/// than it asked for. Call it before anything else can change errno.
std::error_code inputError(std::istream& in);

/// "cannot read: REASON", or "too large to read into memory" when that is the reason.
std::string describeUnreadable(std::error_code error);

} // namespace plistable::cli
