#include "core/convert/detail/ConversionText.hpp"

namespace plistable::detail {

const char* const cancelledReason = "stopped on request; nothing was written";

std::string plural(std::size_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string ordinal(std::size_t n)
{
    static constexpr std::string_view words[] = {"first", "second", "third", "fourth", "fifth",
                                                 "sixth", "seventh", "eighth", "ninth", "tenth"};
    if (n >= 1 && n <= 10)
        return std::string(words[n - 1]);
    const std::size_t lastTwo = n % 100;
    const std::size_t last = n % 10;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13)
        suffix = last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

std::string describeStop(const CSVParseStop& stop)
{
    if (stop.records == 0)
        return stop.description() + "; 0 records converted, the rest was not read";
    const std::size_t whole = stop.records - 1;
    const std::string cut = ordinal(stop.records);
    if (whole == 0)
        return stop.description() + "; the first record cut short at the fault; the rest was not read";
    return stop.description() + "; " + plural(whole, "record", "records") + " converted and the " + cut
           + " cut short at the fault; the rest was not read";
}

std::string describeReadFailure(const PropertyListReadResult& result)
{
    using Status = PropertyListReadResult::Status;
    switch (result.status) {
    case Status::Unreadable: return "cannot read: " + result.message;
    case Status::Stopped: return cancelledReason;
    case Status::RootNotArray: return std::string("a property list whose root is ") + describeKind(result.rootKind);
    case Status::TooDeep: return "not converted: " + result.description();
    case Status::NoSelectedValue: return result.message;
    case Status::NotPropertyList:
    case Status::Ok: break;
    }
    return "not a property list: " + result.description();
}


} // namespace plistable::detail
