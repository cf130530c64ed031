#include "core/io/ReadError.hpp"

namespace plistable {
namespace {

class ReadErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "plistable.read"; }
    std::string message(int value) const override
    {
        switch (static_cast<ReadError>(value)) {
        case ReadError::NotAFileOrPipe: return "not a regular file or a pipe";
        case ReadError::TooLarge: return "too large to read into memory";
        case ReadError::NotARegularFile: return "not a regular file";
        }
        return "unknown read error";
    }
};

} // namespace

const std::error_category& readErrorCategory() noexcept
{
    static const ReadErrorCategory category;
    return category;
}

std::error_code make_error_code(ReadError error) noexcept
{
    return {static_cast<int>(error), readErrorCategory()};
}

} // namespace plistable
