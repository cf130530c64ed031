#pragma once

#include "core/plist/PlistReaderDelegate.hpp"

namespace plistable::detail {

/// Reports to `delegate` the element and character events of `value` written as XML without
/// whitespace between elements: <array>, <dict> with <key> before each value, <string>,
/// <integer>, <real>, <true/>, <false/>, <date> and <data> holding the value's text form
/// (PlistValue::description()); an empty text gives no character event. Iterative.
void reportXmlEvents(const PlistValue& value, PlistReaderDelegate& delegate);

} // namespace plistable::detail
