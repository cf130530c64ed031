#pragma once

#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <cstddef>
#include <string>

namespace plistable::detail {

/// The value at the parts of `pointer` from `from` on, starting at `value` (which stands at the
/// first `from` parts); nullptr with `why` set ("the dictionary at /Tracks has no key \"x\"")
/// when there is none.
PlistValue* findSelected(PlistValue& value, const PlistPointer& pointer, std::size_t from, std::string& why);

/// Why there is no value at `pointer`: "no value at /Tracks/x: " + `why`.
std::string noValueMessage(const PlistPointer& pointer, const std::string& why);

/// Why part `part` of `pointer` names nothing inside an array of `count` elements (at the first
/// `part` parts), for the readers that stream the array.
std::string noElement(const PlistPointer& pointer, std::size_t part, std::size_t count);

/// Hands `table` to `delegate` as a reader hands over its root: the events of <plist>, the value
/// and </plist>, and each element of an array or entry of a dictionary once its events are out;
/// any other value goes to readerDidReadSelectedValue() when `selected`. Sets the result's root
/// kind and status (RootNotArray for all but an array). No document events.
void handOverTable(PlistValue&& table, PlistReaderDelegate& delegate, PropertyListReadResult& result, bool selected);

/// The events of a dictionary entry's <key> element.
void reportKeyEvents(std::u16string_view key, PlistReaderDelegate& delegate);

} // namespace plistable::detail
