#pragma once

#include "core/plist/PlistValue.hpp"

#include <string_view>

namespace plistable {

/// Receives what PropertyListReader reads, synchronously and in document order. Every operation
/// does nothing unless overridden. The views passed in are valid only during the call.
///
/// The XML events are those an XML event parser reports for the document: element names as
/// written (no namespace processing), character data with entity and character references
/// resolved and CDATA sections included; comments, processing instructions and the document
/// type declaration give no event. A binary property list gives the events of its XML form
/// written without whitespace between elements. Reading stops at the first error: the events
/// already reported stay reported, and neither the event of the offending construct nor
/// parserDidEndDocument() follows.
class PlistReaderDelegate {
public:
    virtual ~PlistReaderDelegate() = default;

    /// Reading of a document begins (before any other event).
    virtual void parserDidStartDocument() {}
    /// An element starts; `elementName` as written ("plist", "array", "dict", "key", ...).
    virtual void parserDidStartElement(std::u16string_view elementName) { (void)elementName; }
    /// An element ends (for an empty-element tag such as <true/> right after its start).
    virtual void parserDidEndElement(std::u16string_view elementName) { (void)elementName; }
    /// Character data between two tags, whitespace included. One run of text between two tags
    /// comes as one call here, but callers should accept a text in several pieces.
    virtual void parserFoundCharacters(std::u16string_view characters) { (void)characters; }
    /// The whole document was read without error (also when its root value is no array).
    virtual void parserDidEndDocument() {}
    /// One element of the root array, complete, right after the event of its end tag; elements
    /// come in order and are not kept by the reader. Never called when the root is no array.
    virtual void readerDidReadRootArrayElement(PlistValue&& element) { (void)element; }
    /// One entry of a root dictionary, complete, right after the event of its value's end tag;
    /// entries come in file order and are not kept by the reader. Never called for another root.
    virtual void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value)
    {
        (void)key;
        (void)value;
    }
    /// With a pointer given to the reader that selects neither an array nor a dictionary: the
    /// value there, once the whole list is read. Never called without a pointer.
    virtual void readerDidReadSelectedValue(PlistValue&& value) { (void)value; }
    /// A dictionary names `key` a second time; the later value is the one kept (in the earlier
    /// one's place; a root dictionary's entries are all handed over as written). `line` is the
    /// 1-based line of the repeated key in a text list (0 for a binary one), `byteOffset` the
    /// offset of its key object in a binary list (0 for a text one).
    virtual void readerDidFindRepeatedKey(std::u16string_view key, std::uint64_t line, std::uint64_t byteOffset)
    {
        (void)key;
        (void)line;
        (void)byteOffset;
    }
};

} // namespace plistable
