#pragma once

#include "core/csv/CSVParser.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace plistable::detail {

/// The reason a Cancelled report gives.
extern const char* const cancelledReason;

/// "1 record" / "2 records".
std::string plural(std::size_t count, std::string_view one, std::string_view many);

/// "first" ... "tenth", then "11th", "21st", "112th".
std::string ordinal(std::size_t n);

/// Why a CSV parse stopped early and how much was converted, as reports give it. The record being
/// read at the fault is handed over up to it, so when `stop.records` (the records written) is not 0
/// the last of them was cut short: "line 3: unexpected double quote; 2 records converted and the
/// third cut short at the fault; the rest was not read". With none (a fault in the header line, a
/// leading line break): "line 1: ...; 0 records converted, the rest was not read".
std::string describeStop(const CSVParseStop& stop);

/// Why a property list could not be converted, with its line and column (XML) or byte offset.
std::string describeReadFailure(const PropertyListReadResult& result);

} // namespace plistable::detail
