#include "core/plist/detail/XmlPropertyListReader.hpp"

#include "core/plist/detail/PlistScalarText.hpp"
#include "core/plist/detail/PlistSelection.hpp"
#include "core/text/detail/Utf8.hpp"

#include <cstring>

#include "core/text/detail/Simd.hpp"


// How this works
//
// expat drives three handlers. Character data is gathered as UTF-8 and converted to UTF-16 and
// reported at the next tag, so one run of text between two tags reaches the delegate as one
// piece whatever the sizes of the pieces read from the file, and it is checked before it is
// reported. Each open element has a small Frame on `_frames`; each open array or dictionary also
// has a Container holding its value under construction. Scalar elements collect their text in
// `_scalarText` / `_scalarUtf8` (scalars cannot nest, so one of each is enough). When an element
// ends, its value goes to the parent container, or, when the parent is the root array, to the
// delegate at once, so nothing of the root array is kept. A root value that is no array is
// checked but not kept (Frame::keep is false all the way down).
//
// Every check happens before the event it concerns is reported: a failure stops the parser and
// the offending tag or text is never reported. If you add an element, extend elementFor(),
// the names table and finishScalar() together.

namespace plistable::detail {
namespace {

using Status = PropertyListReadResult::Status;

constexpr std::u16string_view elementNames[] = {u"plist", u"array", u"dict", u"key",  u"string", u"integer",
                                                u"real",  u"date",  u"data", u"true", u"false"};

// Looks a name up by its first letter, then compares it whole: called for every tag.
bool elementFor(const char* name, std::uint8_t& index)
{
    auto is = [&](std::uint8_t i) {
        const std::u16string_view expected = elementNames[i];
        for (std::size_t k = 0; k < expected.size(); ++k)
            if (name[k] != static_cast<char>(expected[k]))
                return false;
        if (name[expected.size()] != '\0')
            return false;
        index = i;
        return true;
    };
    switch (name[0]) {
    case 'p': return is(0);
    case 'a': return is(1);
    case 'd': return is(2) || is(7) || is(8);
    case 'k': return is(3);
    case 's': return is(4);
    case 'i': return is(5);
    case 'r': return is(6);
    case 't': return is(9);
    case 'f': return is(10);
    default: return false;
    }
}

bool onlyXmlSpace(std::u16string_view text)
{
    for (char16_t c : text)
        if (!(c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'))
            return false;
    return true;
}

std::string utf8(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text) // for messages only: other characters as '?'
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string nameOf(std::u16string_view name)
{
    return std::string(name.begin(), name.end());
}

// Widens the ASCII start of `utf8` into `units` (room for utf8.size() units) and returns its
// length. Eight bytes at a time where SSE2 is there: indentation and most table text are ASCII.
std::size_t widenAscii(std::string_view utf8, char16_t* units)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
#if PLISTABLE_SSE2
    const __m128i zero = _mm_setzero_si128();
    while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0)
            break;
        const __m128i wide = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(word)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), wide);
        i += 8;
    }
#endif
    while (i < n && bytes[i] < 0x80) {
        units[i] = bytes[i];
        ++i;
    }
    return i;
}

// Containers wider than this do not make the next one at their level reserve room ahead.
constexpr std::size_t maxSizeHint = 1024;

std::string quoted(std::string_view text)
{
    constexpr std::size_t shown = 40;
    std::string out = "\"";
    out.append(text.substr(0, shown));
    if (text.size() > shown)
        out += "...";
    out += "\"";
    return out;
}

PlistValue::Kind kindOf(std::uint8_t element)
{
    constexpr PlistValue::Kind kinds[] = {PlistValue::Kind::String,  PlistValue::Kind::Array,  PlistValue::Kind::Dictionary,
                                          PlistValue::Kind::String,  PlistValue::Kind::String, PlistValue::Kind::Integer,
                                          PlistValue::Kind::Real,    PlistValue::Kind::Date,   PlistValue::Kind::Data,
                                          PlistValue::Kind::Boolean, PlistValue::Kind::Boolean};
    return kinds[element];
}

} // namespace

XmlPropertyListReader::XmlPropertyListReader(PlistReaderDelegate& delegate)
    : _delegate(delegate), _parser(*this), _tokenizer(*this, _pendingUtf8)
{
    // Character data is only gathered until the next tag (see xmlCharacters()): expat appends
    // it itself, without a call per piece.
    _parser.gatherCharactersInto(&_pendingUtf8);
}

void XmlPropertyListReader::begin()
{
    _delegate.parserDidStartDocument();
}

bool XmlPropertyListReader::feedBuffer(std::size_t length, bool isFinal)
{
    if (_stopped || _finished)
        return false;
    if (_tokenizing) {
        _tokenizer.feedBuffer(length, isFinal);
        return afterTokenizer();
    }
    return afterParse(_parser.parseBuffer(length, isFinal), isFinal);
}

bool XmlPropertyListReader::feed(std::string_view bytes, bool isFinal)
{
    if (_stopped || _finished)
        return false;
    if (_tokenizing) {
        _tokenizer.feed(bytes, isFinal);
        return afterTokenizer();
    }
    return afterParse(_parser.parse(bytes, isFinal), isFinal);
}

bool XmlPropertyListReader::afterTokenizer()
{
    switch (_tokenizer.status()) {
    case PlistXmlTokenizer::Status::Reading: return true;
    case PlistXmlTokenizer::Status::Finished: return afterParse(true, true);
    case PlistXmlTokenizer::Status::Stopped:
    case PlistXmlTokenizer::Status::Unsupported: break;
    }
    return false;
}

void XmlPropertyListReader::restart()
{
    // expat reports every event again: the first _muted element events, and the text before the
    // last of them, were reported already. Text after it was only gathered, so it is gathered anew.
    _muted = _tokenizer.elementEvents();
    _tokenizing = false;
    _pendingUtf8.clear();
}

bool XmlPropertyListReader::muted()
{
    if (_muted == 0)
        return false;
    --_muted;
    _pendingUtf8.clear();
    return true;
}

bool XmlPropertyListReader::afterParse(bool parsed, bool isFinal)
{
    if (!parsed) {
        if (!_stopped) {
            _stopped = true;
            _result.status = Status::NotPropertyList;
            _result.message = _parser.errorMessage();
            const XmlPosition at = _parser.errorPosition();
            _result.line = at.line;
            _result.column = at.column;
            _result.byteOffset = at.byteOffset;
        }
        return false;
    }
    if (isFinal) {
        if (_selection && !_selectedFound) {
            _stopped = true;
            _result.status = Status::NoSelectedValue;
            _result.message = noValueMessage(*_selection, "the list holds no value");
            return false;
        }
        _finished = true;
        if (_rootNotArray) {
            _result.status = Status::RootNotArray;
            _result.message = "the root value is not an array";
        }
        _delegate.parserDidEndDocument();
    }
    return true;
}

PropertyListReadResult XmlPropertyListReader::result() const
{
    if (!_stopped && !_finished) {
        PropertyListReadResult unfinished;
        unfinished.status = Status::NotPropertyList;
        unfinished.message = "the document ended early";
        return unfinished;
    }
    return _result;
}

void XmlPropertyListReader::fail(Status status, std::string message)
{
    if (_stopped)
        return;
    _stopped = true;
    _result.status = status;
    _result.message = std::move(message);
    const XmlPosition at = position();
    _result.line = at.line;
    _result.column = at.column;
    _result.byteOffset = at.byteOffset;
    if (_tokenizing)
        _tokenizer.stop();
    else
        _parser.stop();
}

void XmlPropertyListReader::xmlCharacters(std::string_view utf8Text)
{
    // Kept as UTF-8 until the next tag: expat reports a line break and the indentation after it
    // (or the text on both sides of an entity reference) as separate pieces, and one conversion
    // of the whole run costs less than one per piece.
    _pendingUtf8.append(utf8Text);
}

bool XmlPropertyListReader::flushCharacters()
{
    if (_pendingUtf8.empty())
        return true;
    const Element current = _frames.back().element;
    const std::size_t n = _pendingUtf8.size();
    std::u16string_view text;
    if (current == Element::Key || current == Element::String) {
        // Converted straight into the value's own text.
        const std::size_t at = _scalarText.size();
        _scalarText.resize(at + n);
        const std::size_t ascii = widenAscii(_pendingUtf8, _scalarText.data() + at);
        if (ascii < n) {
            _scalarText.resize(at + ascii);
            if (!appendUtf8AsUtf16(std::string_view(_pendingUtf8).substr(ascii), _scalarText)) {
                failMalformedText();
                return false;
            }
        }
        text = std::u16string_view(_scalarText).substr(at);
    } else {
        // Into a buffer that only ever grows (its size is no length).
        if (_pendingText.size() < n)
            _pendingText.resize(n);
        const std::size_t ascii = widenAscii(_pendingUtf8, _pendingText.data());
        text = std::u16string_view(_pendingText.data(), n);
        if (ascii < n) {
            _pendingText.resize(ascii);
            if (!appendUtf8AsUtf16(std::string_view(_pendingUtf8).substr(ascii), _pendingText)) {
                failMalformedText();
                return false;
            }
            text = _pendingText;
        }
    }
    switch (current) {
    case Element::Plist:
    case Element::Array:
    case Element::Dict:
    case Element::True:
    case Element::False:
        if (!onlyXmlSpace(text)) {
            failUnexpectedText(text, current);
            return false;
        }
        break;
    case Element::Integer:
    case Element::Real:
    case Element::Date:
    case Element::Data: _scalarUtf8.append(_pendingUtf8); break;
    default: break;
    }
    if (_reporting)
        _delegate.parserFoundCharacters(text);
    _pendingUtf8.clear();
    return true;
}

// The failures are out of line, so that building their messages does not weigh on the event
// handlers, which run for every tag and every run of text.
void XmlPropertyListReader::fail(Status status, const char* message)
{
    fail(status, std::string(message));
}

void XmlPropertyListReader::failUnknownElement(const char* name)
{
    fail(Status::NotPropertyList, std::string("unknown element <") + name + ">");
}

void XmlPropertyListReader::failNestedElement(const char* name, Element parent)
{
    fail(Status::NotPropertyList,
         std::string("element <") + name + "> inside <" + nameOf(elementNames[static_cast<int>(parent)]) + ">");
}

void XmlPropertyListReader::failTooDeep()
{
    fail(Status::TooDeep,
         "arrays and dictionaries nested deeper than " + std::to_string(maxPropertyListDepth) + " levels");
}

void XmlPropertyListReader::failInvalidValue(Element element)
{
    const bool first = !_stopped;
    fail(Status::NotPropertyList,
         "invalid <" + nameOf(elementNames[static_cast<int>(element)]) + "> value " + quoted(_scalarUtf8));
    _result.invalidValue = first;
}

void XmlPropertyListReader::failUnexpectedText(std::u16string_view text, Element current)
{
    fail(Status::NotPropertyList, "unexpected text " + quoted(utf8(text)) + " in <"
                                      + nameOf(elementNames[static_cast<int>(current)]) + ">");
}

void XmlPropertyListReader::failMalformedText()
{
    fail(Status::NotPropertyList, "character data is not well-formed UTF-8");
}

void XmlPropertyListReader::xmlStartElement(const char* name)
{
    if (muted())
        return;
    if (!flushCharacters())
        return;
    std::uint8_t index = 0;
    if (!elementFor(name, index)) {
        failUnknownElement(name);
        return;
    }
    const auto element = static_cast<Element>(index);
    if (_frames.empty()) {
        if (element == Element::Plist) {
            reportStart(elementNames[index]);
            _frames.push_back(Frame{Element::Plist});
        } else if (element == Element::Key) {
            fail(Status::NotPropertyList, "<key> outside a dictionary");
        } else {
            startValue(element);
        }
        return;
    }
    Frame& parent = _frames.back();
    switch (parent.element) {
    case Element::Plist:
    case Element::Array:
        if (element == Element::Plist)
            fail(Status::NotPropertyList, "<plist> inside a property list");
        else if (element == Element::Key)
            fail(Status::NotPropertyList, "<key> outside a dictionary");
        else if (parent.element == Element::Plist && parent.hasKey)
            fail(Status::NotPropertyList, "<plist> holds more than one value");
        else
            startValue(element);
        return;
    case Element::Dict:
        if (element == Element::Key) {
            if (parent.hasKey) {
                fail(Status::NotPropertyList, "dictionary key without a value");
                return;
            }
            reportStart(elementNames[index]);
            _scalarText.clear();
            _frames.push_back(Frame{Element::Key});
        } else if (element == Element::Plist) {
            fail(Status::NotPropertyList, "<plist> inside a property list");
        } else if (!parent.hasKey) {
            fail(Status::NotPropertyList, "dictionary value without a key");
        } else {
            startValue(element);
        }
        return;
    default:
        failNestedElement(name, parent.element);
        return;
    }
}

void XmlPropertyListReader::placeOnPath(Frame& frame, bool container)
{
    const std::size_t parts = _selection->parts().size();
    const bool atTop = _frames.empty() || _frames.back().element == Element::Plist;
    if (atTop) {
        frame.onPath = true;
        frame.level = 0;
    } else {
        Frame& parent = _frames.back();
        if (!parent.onPath || parent.level >= parts) {
            frame.keep = parent.isRootArray || parent.isRootDict || parent.keep;
            return;
        }
        const Container& open = _containers.back();
        const Text& part = _selection->parts()[parent.level];
        const bool match = parent.element == Element::Dict ? open.key == part
                                                           : PlistPointer::index(part) == open.count;
        if (!match || parent.found)
            return; // the first of repeated keys on the path is the one selected
        parent.found = true;
        frame.onPath = true;
        frame.level = parent.level + 1;
    }
    if (frame.level < parts && !container) {
        fail(Status::NoSelectedValue,
             noValueMessage(*_selection, "the value at " + _selection->place(frame.level) + " is " +
                                             describeKind(kindOf(static_cast<std::uint8_t>(frame.element))) +
                                             ", not an array or dictionary"));
        return;
    }
    if (frame.level == parts) {
        frame.selected = true;
        frame.isRootArray = frame.element == Element::Array;
        frame.isRootDict = frame.element == Element::Dict;
        _rootNotArray = !frame.isRootArray;
        _result.rootIsDictionary = frame.isRootDict;
        _result.rootKind = kindOf(static_cast<std::uint8_t>(frame.element));
        _selectedFound = true;
        _reporting = true;
        _delegate.parserDidStartElement(elementNames[0]);
    }
}

void XmlPropertyListReader::failNotFound(const Frame& frame)
{
    const std::size_t count = _containers.back().count;
    std::string why = frame.element == Element::Dict
                          ? "the dictionary at " + _selection->place(frame.level) + " has no key \"" +
                                [](std::u16string_view t) { std::string o; appendUtf16AsUtf8(t, o); return o; }(
                                    _selection->parts()[frame.level]) + '"'
                          : noElement(*_selection, frame.level, count);
    fail(Status::NoSelectedValue, noValueMessage(*_selection, why));
}

// At the end of a <key>: whether it repeats a key of its dictionary (one being built, or the root's).
void XmlPropertyListReader::noteKey()
{
    Container& dict = _containers.back();
    const Frame& frame = _frames.back();
    dict.repeatOf.reset();
    bool repeated = false;
    if (frame.keep) {
        dict.repeatOf = dict.keys.find(dict.value.dictionary(), dict.key);
        repeated = dict.repeatOf.has_value();
    } else if (frame.isRootDict) {
        repeated = !_rootKeys.insert(dict.key);
    }
    if (repeated)
        _delegate.readerDidFindRepeatedKey(dict.key, position().line, 0);
}

void XmlPropertyListReader::startValue(Element element)
{
    const bool container = element == Element::Array || element == Element::Dict;
    if (container && _containers.size() >= maxPropertyListDepth) {
        failTooDeep();
        return;
    }
    Frame frame{element};
    if (_selection) {
        placeOnPath(frame, container);
        if (_stopped)
            return;
    } else if (_frames.empty() || _frames.back().element == Element::Plist) {
        frame.isRootArray = element == Element::Array;
        frame.isRootDict = element == Element::Dict;
        _rootNotArray = !frame.isRootArray;
        _result.rootIsDictionary = frame.isRootDict;
        _result.rootKind = kindOf(static_cast<std::uint8_t>(element));
    } else {
        const Frame& parent = _frames.back();
        frame.keep = parent.isRootArray || parent.isRootDict || parent.keep;
    }
    reportStart(elementNames[static_cast<int>(element)]);
    if (container) {
        const std::size_t level = _containers.size();
        Container& open = _containers.emplace_back();
        if (frame.keep) {
            // Rows of a table tend to have one shape: room for as many values as the last
            // container completed at this level saves growing the vector step by step.
            const std::size_t hint = level < _sizeHints.size() ? _sizeHints[level] : 0;
            if (element == Element::Array) {
                open.value = PlistValue(PlistValue::Array());
                open.value.array().reserve(hint);
            } else {
                open.value = PlistValue(PlistValue::Dictionary());
                open.value.dictionary().reserve(hint);
            }
        }
    } else {
        _scalarText.clear();
        _scalarUtf8.clear();
    }
    _frames.push_back(frame);
}

bool XmlPropertyListReader::finishScalar(Element element, PlistValue& value)
{
    std::optional<PlistValue> parsed;
    switch (element) {
    case Element::String:
        value = PlistValue(std::move(_scalarText));
        _scalarText = Text();
        return true;
    case Element::True:
    case Element::False:
        value = PlistValue::boolean(element == Element::True);
        return true;
    case Element::Integer: parsed = parseIntegerText(_scalarUtf8); break;
    case Element::Real: parsed = parseRealText(_scalarUtf8); break;
    case Element::Date: parsed = parseDateText(_scalarUtf8); break;
    case Element::Data:
        if (auto bytes = decodeBase64Text(_scalarUtf8))
            parsed = PlistValue::data(std::move(*bytes));
        break;
    default: break;
    }
    if (!parsed) {
        failInvalidValue(element);
        return false;
    }
    value = std::move(*parsed);
    return true;
}

void XmlPropertyListReader::xmlEndElement(const char* /*name*/)
{
    if (muted())
        return;
    if (!flushCharacters())
        return;
    const Frame frame = _frames.back();
    if (frame.element == Element::String) {
        // The most common element, without the temporaries of the general path below.
        PlistValue string(std::move(_scalarText));
        _scalarText = Text();
        reportEnd(elementNames[static_cast<int>(Element::String)]);
        _frames.pop_back();
        if (frame.selected)
            endSelected(&string);
        attach(std::move(string));
        return;
    }
    PlistValue value;
    switch (frame.element) {
    case Element::Plist:
        if (!frame.hasKey) {
            fail(Status::NotPropertyList, "<plist> holds no value");
            return;
        }
        reportEnd(elementNames[static_cast<int>(frame.element)]);
        _frames.pop_back();
        return;
    case Element::Key:
        reportEnd(elementNames[static_cast<int>(frame.element)]);
        _frames.pop_back();
        _containers.back().key = std::move(_scalarText);
        _scalarText = Text();
        _frames.back().hasKey = true;
        noteKey();
        return;
    case Element::Dict:
        if (frame.hasKey) {
            fail(Status::NotPropertyList, "dictionary key without a value");
            return;
        }
        [[fallthrough]];
    case Element::Array: {
        if (frame.onPath && !frame.selected && !frame.found) {
            failNotFound(frame);
            return;
        }
        value = std::move(_containers.back().value);
        _containers.pop_back();
        if (frame.keep) {
            const std::size_t level = _containers.size();
            if (_sizeHints.size() <= level)
                _sizeHints.resize(level + 1, 0);
            const std::size_t size = value.isArray() ? value.array().size() : value.dictionary().size();
            _sizeHints[level] = std::min(size, maxSizeHint);
        }
        break;
    }
    default:
        if (!finishScalar(frame.element, value))
            return;
    }
    reportEnd(elementNames[static_cast<int>(frame.element)]);
    _frames.pop_back();
    if (frame.selected)
        endSelected(frame.element == Element::Array || frame.element == Element::Dict ? nullptr : &value);
    attach(std::move(value));
}

void XmlPropertyListReader::endSelected(const PlistValue* scalar)
{
    _delegate.parserDidEndElement(elementNames[0]);
    _reporting = false;
    if (scalar)
        _delegate.readerDidReadSelectedValue(PlistValue(*scalar));
}

void XmlPropertyListReader::attach(PlistValue&& value)
{
    if (_frames.empty())
        return; // the root value of a document without <plist>; its elements went out already
    Frame& parent = _frames.back();
    switch (parent.element) {
    case Element::Plist:
        parent.hasKey = true;
        break;
    case Element::Array:
        ++_containers.back().count;
        if (parent.isRootArray)
            _delegate.readerDidReadRootArrayElement(std::move(value));
        else if (parent.keep)
            _containers.back().value.array().push_back(std::move(value));
        break;
    case Element::Dict: {
        Container& dict = _containers.back();
        if (parent.keep && dict.repeatOf)
            dict.value.dictionary()[*dict.repeatOf].second = std::move(value); // the later value is kept
        else if (parent.keep)
            dict.value.dictionary().emplace_back(std::move(dict.key), std::move(value));
        else if (parent.isRootDict)
            _delegate.readerDidReadRootDictionaryEntry(std::move(dict.key), std::move(value));
        dict.key = Text();
        parent.hasKey = false;
        break;
    }
    default: break;
    }
}

} // namespace plistable::detail
