#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace plistable {

/// Deepest nesting of arrays and dictionaries a property list may have (the root array counts as 1).
inline constexpr std::size_t maxPropertyListDepth = 512;

/// A value of `kind` for messages: "a string", "an integer", "data", "an array", "a dictionary".
const char* describeKind(PlistValue::Kind kind);

/// How reading a property list ended, and where.
struct PropertyListReadResult {
    enum class Status {
        Ok,              ///< the whole list was read and its root is an array
        NotPropertyList, ///< malformed XML, no property-list structure, a bad value or a damaged binary list
        RootNotArray,    ///< a well-formed property list whose root value is no array
        TooDeep,         ///< arrays and dictionaries nested deeper than maxPropertyListDepth
        Unreadable,      ///< the file could not be opened or read
        Stopped,         ///< the caller's monitor asked reading to stop (see PropertyListReadMonitor)
        NoSelectedValue, ///< the selected place (a pointer given to the reader) holds no value; the message says why
    };

    Status status = Status::Ok;
    std::string message;         ///< why reading stopped (UTF-8), empty when Ok
    std::uint64_t line = 0;      ///< XML: 1-based line of the stop; 0 for binary lists and I/O errors
    std::uint64_t column = 0;    ///< XML: 1-based column of the stop, counting characters; 0 for binary lists and I/O errors
    std::uint64_t byteOffset = 0; ///< offset of the stop in bytes (not characters) from the start of the file
    bool binary = false;         ///< the input is a binary property list ("bplist" magic)
    /// NotPropertyList: the list is well formed up to one value whose text does not read as its
    /// type (`<integer>x</integer>`); message says which.
    bool invalidValue = false;
    /// The root value is a dictionary (status RootNotArray, once read whole), its entries handed
    /// to the delegate one by one.
    bool rootIsDictionary = false;
    /// The kind of the root value (of the selected value, when a pointer was given), once it began.
    PlistValue::Kind rootKind = PlistValue::Kind::Array;
    /// The input is an old-style text property list (line holds the line of a stop, column 0).
    bool openStep = false;

    bool ok() const { return status == Status::Ok; }

    /// The outcome in English (UTF-8) with its position: "line 3, column 7: <message>" for XML,
    /// "byte 40: <message>" for binary lists and read errors, "line 3: <message>" for old-style
    /// text; the message alone for a root that is no array (found at the end, at no particular
    /// place) and for a selected place that holds no value; "read completely" when ok().
    std::string description() const;
};

} // namespace plistable
