#pragma once

#include "core/PlistReaderDelegate.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plistable {

/// How reading a property list ended, and where.
struct PropertyListReadResult {
    enum class Status {
        Ok,              ///< the whole list was read and its root is an array
        NotPropertyList, ///< malformed XML, no property-list structure, a bad value or a damaged binary list
        RootNotArray,    ///< a well-formed property list whose root value is no array
        TooDeep,         ///< arrays and dictionaries nested deeper than PropertyListReader::maxDepth
        Unreadable,      ///< the file could not be opened or read
    };

    Status status = Status::Ok;
    std::string message;         ///< why reading stopped (UTF-8), empty when Ok
    std::uint64_t line = 0;      ///< XML: 1-based line of the stop; 0 for binary lists and I/O errors
    std::uint64_t column = 0;    ///< XML: 1-based column of the stop; 0 for binary lists and I/O errors
    std::uint64_t byteOffset = 0; ///< offset of the stop in bytes from the start of the file
    bool binary = false;         ///< the input is a binary property list ("bplist" magic)

    bool ok() const { return status == Status::Ok; }
};

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
    static constexpr std::size_t maxDepth = 512;

    /// Reads the file at `path` in chunks (an XML list is never held in memory whole).
    /// Unreadable when it cannot be opened or a read fails (events already reported stay).
    static PropertyListReadResult readFile(const std::string& path, PlistReaderDelegate& delegate);

    /// Reads a property list held in memory.
    static PropertyListReadResult readBytes(std::string_view bytes, PlistReaderDelegate& delegate);
};

} // namespace plistable
