#pragma once

#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace plistable {

/// Lets a caller follow a long read and stop it.
struct PropertyListReadMonitor {
    /// Called after each piece read (about 64 KiB) with the bytes read so far and the input's size
    /// (0 when unknown), and every few thousand elements of a binary list (with the share of the
    /// elements done, as bytes of the list); false stops reading with Status::Stopped.
    std::function<bool(std::uint64_t bytesRead, std::uint64_t totalBytes)> pieceRead = {};
    /// When a read blocked on a pipe or terminal is interrupted by a signal and this reads true,
    /// reading stops with Status::Stopped.
    const std::atomic<bool>* stop = nullptr;
};

/// Reads a property list, XML, binary or old-style text, in one pass: reports the XML events of
/// the document to a delegate and hands over each element of the root array as soon as it is
/// complete, so memory stays bounded by the largest element (for XML and old-style text, which
/// is decoded a piece at a time; a binary list is held in memory whole). The syntax is told by content: "bplist" begins a
/// binary list; '<' after an optional byte-order mark and white space (or nothing but those)
/// begins XML; anything else is old-style text (see OpenStepParser), whose events are those of
/// the same values in XML. Never throws on bad data: the result tells why and where reading stopped.
///
/// With a `selection` (a pointer), the value there stands in for the root: the events are those
/// of a document holding only it, its elements or entries are handed over, a value of another
/// kind goes to readerDidReadSelectedValue(); what lies outside it is checked but not kept (XML
/// does not build it). A pointer that leads nowhere gives Status::NoSelectedValue.
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

    /// Reads the file at `path` in chunks (an XML or old-style list is never held in memory whole).
    /// Unreadable when it cannot be opened or a read fails (events already reported stay).
    static PropertyListReadResult readFile(const std::string& path, PlistReaderDelegate& delegate,
                                           const PropertyListReadMonitor& monitor = {},
                                           const PlistPointer* selection = nullptr);

    /// Reads a property list held in memory.
    static PropertyListReadResult readBytes(std::string_view bytes, PlistReaderDelegate& delegate,
                                            const PropertyListReadMonitor& monitor = {},
                                            const PlistPointer* selection = nullptr);
};

} // namespace plistable
