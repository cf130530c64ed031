#pragma once

#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"
#include "core/plist/detail/ExpatParser.hpp"
#include "core/plist/detail/PlistXmlTokenizer.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// The XML half of PropertyListReader: one pass over an XML property list fed in pieces, which
/// reports the XML events to the delegate and builds the values with an explicit stack (no
/// recursion), handing over each root-array element when its end tag is read.
class XmlPropertyListReader final : private ExpatParser::Handler {
public:
    explicit XmlPropertyListReader(PlistReaderDelegate& delegate);

    /// Reports the start of the document; call once before the first piece.
    void begin();
    /// Reads with PlistXmlTokenizer instead of expat; call before the first piece. When the
    /// document leaves the part of XML the tokenizer reads, feeding returns false and
    /// needsRestart() is true: call restart() and feed the document again from its first byte.
    void useTokenizer() { _tokenizing = true; }
    /// The tokenizer gave up: the document must be fed again, from its first byte, to expat.
    bool needsRestart() const
    {
        return _tokenizing && !_stopped && _tokenizer.status() == PlistXmlTokenizer::Status::Unsupported;
    }
    /// Switches to expat, which will read the document again: the events already reported are
    /// not reported twice, so the delegate sees exactly what expat alone would have given it.
    void restart();
    /// A buffer for the next piece, filled by the caller and passed to feedBuffer(); nullptr when
    /// memory runs out.
    void* buffer(std::size_t size) { return _tokenizing ? _tokenizer.buffer(size) : _parser.buffer(size); }
    /// Reads the first `length` bytes of the last buffer(). False once reading has stopped.
    bool feedBuffer(std::size_t length, bool isFinal);
    /// Reads the next piece. False once reading has stopped.
    bool feed(std::string_view bytes, bool isFinal);
    /// How reading ended (call after the final piece, or after a false return).
    PropertyListReadResult result() const;

private:
    enum class Element : std::uint8_t { Plist, Array, Dict, Key, String, Integer, Real, Date, Data, True, False };

    struct Frame {
        Element element;
        bool keep = false;        // the element's value is wanted (stored in its parent when complete)
        bool isRootArray = false; // completed child values go to the delegate
        bool isRootDict = false;  // completed entries go to the delegate
        bool hasKey = false;      // dict: a key waits for its value; plist: holds its value
    };

    // The value under construction of an open array or dictionary.
    struct Container {
        PlistValue value;
        Text key; // dictionary: the key waiting for its value
    };

    void xmlStartElement(const char* name) override;
    void xmlEndElement(const char* name) override;
    void xmlCharacters(std::string_view utf8) override;

    bool afterParse(bool parsed, bool isFinal);
    bool afterTokenizer();
    bool muted();
    XmlPosition position() const { return _tokenizing ? _tokenizer.position() : _parser.position(); }
    bool flushCharacters();
    void startValue(Element element);
    bool finishScalar(Element element, PlistValue& value);
    void attach(PlistValue&& value);
    [[gnu::cold, gnu::noinline]] void fail(PropertyListReadResult::Status status, std::string message);
    [[gnu::cold, gnu::noinline]] void fail(PropertyListReadResult::Status status, const char* message);
    [[gnu::cold, gnu::noinline]] void failUnknownElement(const char* name);
    [[gnu::cold, gnu::noinline]] void failNestedElement(const char* name, Element parent);
    [[gnu::cold, gnu::noinline]] void failTooDeep();
    [[gnu::cold, gnu::noinline]] void failInvalidValue(Element element);
    [[gnu::cold, gnu::noinline]] void failUnexpectedText(std::u16string_view text, Element current);
    [[gnu::cold, gnu::noinline]] void failMalformedText();

    PlistReaderDelegate& _delegate;
    ExpatParser _parser;
    PlistXmlTokenizer _tokenizer;
    bool _tokenizing = false;
    std::uint64_t _muted = 0; // element events expat reports again after restart()
    std::vector<Frame> _frames;                // one per open element
    std::vector<Container> _containers;        // one per open array or dictionary
    std::vector<std::size_t> _sizeHints;       // per nesting level: size of the last container completed there
    std::string _pendingUtf8;                  // character data not yet reported (coalesced until the next tag)
    Text _pendingText;                         // buffer for its UTF-16 form (its size is no length)
    Text _scalarText;                          // text of the open <string> or <key>
    std::string _scalarUtf8;                   // text of the open <integer>, <real>, <date> or <data>
    bool _stopped = false;
    bool _finished = false;
    bool _rootNotArray = false;
    PropertyListReadResult _result;
};

} // namespace plistable::detail
