#pragma once

#include "core/plist/detail/ExpatParser.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plistable::detail {

/// A fast reader for the part of XML that property lists use, giving the same events and event
/// positions as ExpatParser: UTF-8 (optionally with a byte-order mark), the XML declaration
/// (version 1.0, encoding UTF-8, standalone), a document type declaration without an internal
/// subset, comments, processing instructions, CDATA sections, the five predefined entities and
/// character references, and elements without attributes except `version` on <plist>. It checks
/// what it reads as XML 1.0 requires. It never reports an error of its own: at the first byte it
/// does not accept, whether malformed or merely outside that part, it stops with
/// Status::Unsupported, and every event it reported is one expat reports at the same position, in
/// the same order. The caller then reads the document again, from its first byte, with expat.
/// Memory stays bounded: a construct longer than maxPending bytes is left to expat as well.
class PlistXmlTokenizer {
public:
    enum class Status : std::uint8_t {
        Reading,    ///< more input is welcome
        Finished,   ///< the final piece was read and the document is complete
        Stopped,    ///< a handler called stop()
        Unsupported ///< the input left the accepted part of XML; read it again with expat
    };

    /// Longest markup or pending piece of text kept between two feeds.
    static constexpr std::size_t maxPending = std::size_t{1} << 20;

    /// Element events go to `handler`; character data is appended to `characters` (as with
    /// ExpatParser::gatherCharactersInto()), line ends normalised and references resolved.
    PlistXmlTokenizer(ExpatParser::Handler& handler, std::string& characters);

    /// Room for `size` more bytes, to be filled and passed to feedBuffer().
    char* buffer(std::size_t size);
    /// Reads the first `length` bytes of the last buffer(); `isFinal` on the last piece.
    /// False once the status is not Reading (also after a final piece read in full).
    bool feedBuffer(std::size_t length, bool isFinal);
    /// Reads `bytes` (used in place when nothing is pending). False as for feedBuffer().
    bool feed(std::string_view bytes, bool isFinal);

    /// Stops reading from inside a handler: no more events come.
    void stop() { _status = Status::Stopped; }
    Status status() const { return _status; }

    /// The position of the event being handled, as ExpatParser::position() gives it.
    XmlPosition position() const;

    /// Start and end events reported so far (an empty-element tag gives two).
    std::uint64_t elementEvents() const { return _elementEvents; }

private:
    enum class Phase : std::uint8_t { Start, Prolog, Content, Epilog };
    enum class Scan : std::uint8_t { Done, Wait, Bad };

    std::size_t run(const char* data, std::size_t size, bool isFinal);
    Scan scanMarkup(const char*& p, const char* end, bool isFinal);
    Scan scanText(const char*& p, const char* end, bool isFinal);
    Scan scanSpace(const char*& p, const char* end);
    Scan scanReference(const char*& p, const char* end);
    Scan scanStartTag(const char*& p, const char* end, const char* close);
    Scan scanEndTag(const char*& p, const char* end, const char* close);
    Scan scanComment(const char*& p, const char* end);
    Scan scanProcessingInstruction(const char*& p, const char* end);
    Scan scanCdata(const char*& p, const char* end);
    Scan scanDeclaration(const char*& p, const char* end, const char* close);
    Scan scanDoctype(const char*& p, const char* end, const char* close);
    bool startElement(const char* at, std::string_view name);
    bool endElement(const char* at);
    void countTo(std::uint64_t offset) const;

    ExpatParser::Handler& _handler;
    std::string& _characters;
    std::string _pending;              // bytes kept from the last feed (an incomplete construct)
    std::size_t _pendingSize = 0;      // how many of _pending hold bytes
    std::string _openNames;            // names of the open elements, each followed by '\0'
    std::string _name;                 // the name of the element being reported, '\0'-ended
    Phase _phase = Phase::Start;
    Status _status = Status::Reading;
    bool _seenDoctype = false;
    std::uint64_t _elementEvents = 0;
    std::uint64_t _base = 0;           // offset in the document of the first byte of _data
    const char* _data = nullptr;       // the bytes being read (valid during run())
    std::uint64_t _event = 0;          // offset of the tag being reported

    // Line and column, counted lazily up to _counted (see countTo()).
    mutable std::uint64_t _counted = 0;
    mutable std::uint64_t _line = 1;
    mutable std::uint64_t _column = 0;
    mutable bool _afterCr = false;
};

} // namespace plistable::detail
