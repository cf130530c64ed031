#include "core/convert/detail/ConversionText.hpp"

namespace plistable::detail {

const char* const cancelledReason = "stopped on request; nothing was written";

std::string plural(std::size_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string describeStop(const CSVParseStop& stop)
{
    std::string reason;
    switch (stop.reason) {
    case CSVStopReason::UnexpectedQuote: reason = "unexpected double quote"; break;
    case CSVStopReason::UnexpectedCharacter: reason = "unexpected character after a closing double quote"; break;
    case CSVStopReason::UnterminatedQuote: reason = "quoted field is never closed"; break;
    case CSVStopReason::LeadingLineBreak: reason = "the text begins with a line break"; break;
    case CSVStopReason::None: reason = "the text could not be read further"; break;
    }
    const std::size_t line = stop.reason == CSVStopReason::LeadingLineBreak ? 1 : stop.line;
    return "line " + std::to_string(line) + ": " + reason + "; " + plural(stop.records, "record", "records")
           + " converted, the rest was not read";
}

std::string describeReadFailure(const PropertyListReadResult& result)
{
    using Status = PropertyListReadResult::Status;
    std::string where;
    if (result.line > 0)
        where = "line " + std::to_string(result.line) + ", column " + std::to_string(result.column) + ": ";
    else if (result.status != Status::Unreadable && result.status != Status::RootNotArray)
        where = "byte " + std::to_string(result.byteOffset) + ": ";
    switch (result.status) {
    case Status::Unreadable: return "cannot read: " + result.message;
    case Status::Stopped: return cancelledReason;
    case Status::RootNotArray: return "not a property list with an array at its root";
    case Status::TooDeep: return "not converted: " + where + result.message;
    case Status::NotPropertyList:
    case Status::Ok: break;
    }
    return "not a property list with an array at its root: " + where + result.message;
}

} // namespace plistable::detail
