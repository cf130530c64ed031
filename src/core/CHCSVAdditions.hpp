#pragma once

#include "core/PlistValue.hpp"
#include "core/TextEncoding.hpp"

namespace plistable {

/// The CSV text of `rows`, written as UTF-8 with a comma delimiter: one line per element that is a
/// collection (an array gives its elements, a dictionary its keys; other values by their
/// description()), each ending with a line feed. Elements that are no collection are skipped.
/// A field holding text that is not valid Unicode (a lone surrogate) comes out empty.
Text CSVString(const PlistValue::Array& rows);

} // namespace plistable
