#pragma once

#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plistable {

/// Reads a property list, XML or binary, in one pass: reports the XML events of the document to a
/// delegate and hands over each element of the root array as soon as it is complete, so memory
/// stays bounded by the largest element (for XML; a binary list is held in memory whole).
/// Never throws on bad data: the result tells why and where reading stopped.
///
/// XML: <plist> holding one value (a document whose root element is a value is accepted too);
/// <array>, <dict> (<key> then value), <string>, <integer> (decimal or 0x hex, optional sign,
/// up to the unsigned 64-bit range), <real>, <true/>, <false/>, <date> (ISO 8601 UTC), <data>
/// (base64). No DTD or external entity is ever fetched; a document that declares an entity is
/// refused; a reference to an undeclared entity is an error.
class PropertyListReader {
public:
    /// Deepest nesting of arrays and dictionaries accepted (the root array counts as 1).
    static constexpr std::size_t maxDepth = maxPropertyListDepth;

    /// Reads the file at `path` in chunks (an XML list is never held in memory whole).
    /// Unreadable when it cannot be opened or a read fails (events already reported stay).
    static PropertyListReadResult readFile(const std::string& path, PlistReaderDelegate& delegate);

    /// Reads a property list held in memory.
    static PropertyListReadResult readBytes(std::string_view bytes, PlistReaderDelegate& delegate);
};

} // namespace plistable
