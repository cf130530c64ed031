#include "core/plist/PropertyListReadResult.hpp"

namespace plistable {

const char* describeKind(PlistValue::Kind kind)
{
    switch (kind) {
    case PlistValue::Kind::String: return "a string";
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Unsigned: return "an integer";
    case PlistValue::Kind::Real: return "a real";
    case PlistValue::Kind::Boolean: return "a boolean";
    case PlistValue::Kind::Date: return "a date";
    case PlistValue::Kind::Data: return "data";
    case PlistValue::Kind::Array: return "an array";
    case PlistValue::Kind::Dictionary: return "a dictionary";
    }
    return "a value";
}

std::string PropertyListReadResult::description() const
{
    if (ok())
        return "read completely";
    if (status == Status::RootNotArray || status == Status::NoSelectedValue)
        return message;
    if (openStep && line > 0)
        return "line " + std::to_string(line) + ": " + message;
    if (line > 0)
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
    return "byte " + std::to_string(byteOffset) + ": " + message;
}

} // namespace plistable
