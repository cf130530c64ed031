#include "cli/Input.hpp"

#include "core/io/ReadError.hpp"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <new>
#include <stdexcept>

namespace plistable::cli {

std::error_code inputError(std::istream& in)
{
    const int error = errno;
    // Standard input goes through stdio, which reports a failed read() as the end of the input: only
    // its error flag tells the two apart.
    if (&in == &std::cin && std::ferror(stdin))
        return std::error_code(error != 0 ? error : EIO, std::generic_category());
    if (in.bad())
        return std::make_error_code(std::errc::io_error);
    return {};
}

std::error_code readWholeInput(std::istream& in, std::string& bytes)
{
    bytes.clear();
    try {
        char chunk[1 << 16];
        for (;;) {
            errno = 0;
            in.read(chunk, sizeof chunk);
            const auto count = static_cast<std::size_t>(in.gcount());
            bytes.append(chunk, count);
            if (count < sizeof chunk) {
                if (const std::error_code error = inputError(in)) {
                    bytes = std::string();
                    return error;
                }
                return {};
            }
        }
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    bytes = std::string();
    return make_error_code(ReadError::TooLarge);
}

std::string describeUnreadable(std::error_code error)
{
    if (error == ReadError::TooLarge)
        return error.message();
    return "cannot read: " + error.message();
}

} // namespace plistable::cli
