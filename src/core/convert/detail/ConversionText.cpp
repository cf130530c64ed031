#include "core/convert/detail/ConversionText.hpp"

namespace plistable::detail {

const char* const cancelledReason = "stopped on request; nothing was written";

std::string plural(std::size_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string describeStop(const CSVParseStop& stop)
{
    return stop.description() + "; " + plural(stop.records, "record", "records") + " converted, the rest was not read";
}

std::string describeReadFailure(const PropertyListReadResult& result)
{
    using Status = PropertyListReadResult::Status;
    switch (result.status) {
    case Status::Unreadable: return "cannot read: " + result.message;
    case Status::Stopped: return cancelledReason;
    case Status::RootNotArray: return "not a property list with an array at its root";
    case Status::TooDeep: return "not converted: " + result.description();
    case Status::NotPropertyList:
    case Status::Ok: break;
    }
    return "not a property list with an array at its root: " + result.description();
}

} // namespace plistable::detail
