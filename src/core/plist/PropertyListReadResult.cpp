#include "core/plist/PropertyListReadResult.hpp"

namespace plistable {

std::string PropertyListReadResult::description() const
{
    if (ok())
        return "read completely";
    if (status == Status::RootNotArray)
        return message;
    if (line > 0)
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
    return "byte " + std::to_string(byteOffset) + ": " + message;
}

} // namespace plistable
