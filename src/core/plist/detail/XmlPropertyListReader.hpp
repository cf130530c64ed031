#pragma once

#include "core/plist/PlistPointer.hpp"
#include "core/plist/PlistReaderDelegate.hpp"
#include "core/plist/PropertyListReadResult.hpp"
#include "core/plist/detail/DictionaryKeys.hpp"
#include "core/plist/detail/ExpatParser.hpp"
#include "core/plist/detail/KeyHashSet.hpp"
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
    /// Makes the value at `pointer` (which must outlive the reader) stand in for the root: only
    /// its events are reported (inside <plist>), only it is built, its elements or entries are
    /// handed over; a path that leads nowhere stops reading with Status::NoSelectedValue as soon
    /// as the container that lacks the next part ends. Call before the first piece.
    void select(const PlistPointer& pointer) { _selection = &pointer; _reporting = false; }
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
        // With a selection: the value lies on the pointer's path, `level` parts down from the root
        // (the selected value at the last part), and a child on the path was found.
        bool onPath = false;
        bool selected = false;
        bool found = false;
        std::uint32_t level = 0;
    };

    // The value under construction of an open array or dictionary.
    struct Container {
        PlistValue value;
        Text key; // dictionary: the key waiting for its value
        std::size_t count = 0; // values completed in it so far
        DictionaryKeys keys;   // dictionary: the keys of `value`, to find a repeated one
        std::optional<std::size_t> repeatOf; // the waiting key repeats the entry at this position
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
    void reportStart(std::u16string_view name)
    {
        if (_reporting)
            _delegate.parserDidStartElement(name);
    }
    void reportEnd(std::u16string_view name)
    {
        if (_reporting)
            _delegate.parserDidEndElement(name);
    }
    // With a selection: where a value that starts now stands on the pointer's path.
    void placeOnPath(Frame& frame, bool container);
    void noteKey();
    // After the selected value's end tag: </plist>, and a value that is no array or dictionary.
    void endSelected(const PlistValue* scalar);
    [[gnu::cold, gnu::noinline]] void failNotFound(const Frame& frame);
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
    const PlistPointer* _selection = nullptr;
    bool _reporting = true;      // events go to the delegate (always, without a selection)
    bool _selectedFound = false;
    KeyHashSet _rootKeys; // of a root (or selected) dictionary, to find a repeated one
};

} // namespace plistable::detail
