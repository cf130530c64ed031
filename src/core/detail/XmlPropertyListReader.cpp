#include "core/detail/XmlPropertyListReader.hpp"

#include "core/detail/PlistScalarText.hpp"
#include "core/detail/Utf8.hpp"

#include <cstring>

// How this works
//
// expat drives three handlers. Character data is only collected (as UTF-8) and reported at the
// next tag, so one run of text between two tags reaches the delegate as one piece whatever the
// sizes of the pieces read from the file, and values are checked before anything is reported.
// Each open element has a Frame on `_frames`; arrays and dictionaries build their value in their
// frame, scalar elements collect their text in `_scalarText` / `_scalarUtf8` (scalars cannot
// nest, so one of each is enough). When an element ends, its value goes to the parent frame, or,
// when the parent is the root array, to the delegate at once, so nothing of the root array is
// kept. A root value that is no array is checked but not kept.
//
// Every check happens before the event it concerns is reported: a failure stops the parser and
// the offending tag or text is never reported. If you add an element, extend elementFor(),
// the names table and finishScalar() together.

namespace plistable::detail {
namespace {

using Status = PropertyListReadResult::Status;

constexpr std::u16string_view elementNames[] = {u"plist", u"array", u"dict", u"key",  u"string", u"integer",
                                                u"real",  u"date",  u"data", u"true", u"false"};

bool elementFor(const char* name, std::uint8_t& index)
{
    static constexpr const char* names[] = {"plist", "array", "dict", "key",  "string", "integer",
                                            "real",  "date",  "data", "true", "false"};
    for (std::uint8_t i = 0; i < std::size(names); ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            index = i;
            return true;
        }
    }
    return false;
}

bool onlyXmlSpace(std::string_view text)
{
    for (char c : text)
        if (!isXmlSpace(c))
            return false;
    return true;
}

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

} // namespace

XmlPropertyListReader::XmlPropertyListReader(PlistReaderDelegate& delegate) : _delegate(delegate), _parser(*this)
{
}

void XmlPropertyListReader::begin()
{
    _delegate.parserDidStartDocument();
}

bool XmlPropertyListReader::feedBuffer(std::size_t length, bool isFinal)
{
    if (_stopped || _finished)
        return false;
    return afterParse(_parser.parseBuffer(length, isFinal), isFinal);
}

bool XmlPropertyListReader::feed(std::string_view bytes, bool isFinal)
{
    if (_stopped || _finished)
        return false;
    return afterParse(_parser.parse(bytes, isFinal), isFinal);
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
    const XmlPosition at = _parser.position();
    _result.line = at.line;
    _result.column = at.column;
    _result.byteOffset = at.byteOffset;
    _parser.stop();
}

void XmlPropertyListReader::xmlCharacters(std::string_view utf8)
{
    _pendingUtf8.append(utf8);
}

bool XmlPropertyListReader::flushCharacters()
{
    if (_pendingUtf8.empty())
        return true;
    _pendingText.clear();
    if (!appendUtf8AsUtf16(_pendingUtf8, _pendingText)) {
        fail(Status::NotPropertyList, "character data is not well-formed UTF-8");
        return false;
    }
    const Element current = _frames.back().element;
    switch (current) {
    case Element::Plist:
    case Element::Array:
    case Element::Dict:
    case Element::True:
    case Element::False:
        if (!onlyXmlSpace(_pendingUtf8)) {
            fail(Status::NotPropertyList, "unexpected text " + quoted(_pendingUtf8) + " in <"
                                              + std::string(elementNames[static_cast<int>(current)].begin(),
                                                            elementNames[static_cast<int>(current)].end())
                                              + ">");
            return false;
        }
        break;
    case Element::Integer:
    case Element::Real:
    case Element::Date:
    case Element::Data:
        _scalarUtf8.append(_pendingUtf8);
        break;
    case Element::Key:
    case Element::String:
        break;
    }
    _pendingUtf8.clear();
    _delegate.parserFoundCharacters(_pendingText);
    if (current == Element::Key || current == Element::String) {
        if (_scalarText.empty())
            _scalarText.swap(_pendingText);
        else
            _scalarText.append(_pendingText);
    }
    return true;
}

void XmlPropertyListReader::xmlStartElement(const char* name)
{
    if (!flushCharacters())
        return;
    std::uint8_t index = 0;
    if (!elementFor(name, index)) {
        fail(Status::NotPropertyList, std::string("unknown element <") + name + ">");
        return;
    }
    const auto element = static_cast<Element>(index);
    if (_frames.empty()) {
        if (element == Element::Plist) {
            _delegate.parserDidStartElement(elementNames[index]);
            _frames.emplace_back(Element::Plist);
            return;
        }
        if (element == Element::Key) {
            fail(Status::NotPropertyList, "<key> outside a dictionary");
            return;
        }
        startValue(element);
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
            _delegate.parserDidStartElement(elementNames[index]);
            _scalarText.clear();
            _frames.emplace_back(Element::Key);
        } else if (element == Element::Plist) {
            fail(Status::NotPropertyList, "<plist> inside a property list");
        } else if (!parent.hasKey) {
            fail(Status::NotPropertyList, "dictionary value without a key");
        } else {
            startValue(element);
        }
        return;
    default:
        fail(Status::NotPropertyList, std::string("element <") + name + "> inside <"
                                          + std::string(elementNames[static_cast<int>(parent.element)].begin(),
                                                        elementNames[static_cast<int>(parent.element)].end())
                                          + ">");
        return;
    }
}

bool XmlPropertyListReader::startValue(Element element)
{
    const bool container = element == Element::Array || element == Element::Dict;
    if (container && _containerDepth >= PropertyListReader::maxDepth) {
        fail(Status::TooDeep, "arrays and dictionaries nested deeper than "
                                  + std::to_string(PropertyListReader::maxDepth) + " levels");
        return false;
    }
    Frame frame(element);
    const bool isRoot = _frames.empty() || _frames.back().element == Element::Plist;
    if (isRoot) {
        frame.isRootArray = element == Element::Array;
        _rootNotArray = !frame.isRootArray;
    } else {
        const Frame& parent = _frames.back();
        frame.keep = parent.isRootArray || parent.keep;
    }
    _delegate.parserDidStartElement(elementNames[static_cast<int>(element)]);
    if (container) {
        ++_containerDepth;
        if (frame.keep)
            frame.value = element == Element::Array ? PlistValue(PlistValue::Array()) : PlistValue(PlistValue::Dictionary());
    } else {
        _scalarText.clear();
        _scalarUtf8.clear();
    }
    _frames.push_back(std::move(frame));
    return true;
}

bool XmlPropertyListReader::finishScalar(const Frame& frame, PlistValue& value)
{
    std::optional<PlistValue> parsed;
    switch (frame.element) {
    case Element::String:
        value = PlistValue(std::move(_scalarText));
        _scalarText = Text();
        return true;
    case Element::True:
    case Element::False:
        value = PlistValue::boolean(frame.element == Element::True);
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
        const std::u16string_view name = elementNames[static_cast<int>(frame.element)];
        fail(Status::NotPropertyList,
             "invalid <" + std::string(name.begin(), name.end()) + "> value " + quoted(_scalarUtf8));
        return false;
    }
    value = std::move(*parsed);
    return true;
}

void XmlPropertyListReader::xmlEndElement(const char* /*name*/)
{
    if (!flushCharacters())
        return;
    Frame& frame = _frames.back();
    PlistValue value;
    bool isValue = true;
    switch (frame.element) {
    case Element::Plist:
        if (!frame.hasKey) {
            fail(Status::NotPropertyList, "<plist> holds no value");
            return;
        }
        isValue = false;
        break;
    case Element::Dict:
        if (frame.hasKey) {
            fail(Status::NotPropertyList, "dictionary key without a value");
            return;
        }
        [[fallthrough]];
    case Element::Array:
        value = std::move(frame.value);
        --_containerDepth;
        break;
    case Element::Key:
        isValue = false;
        break;
    default:
        if (!finishScalar(frame, value))
            return;
    }
    const Element element = frame.element;
    _delegate.parserDidEndElement(elementNames[static_cast<int>(element)]);
    _frames.pop_back();
    if (element == Element::Key) {
        Frame& dict = _frames.back();
        dict.key = std::move(_scalarText);
        _scalarText = Text();
        dict.hasKey = true;
        return;
    }
    if (isValue)
        attach(std::move(value));
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
        if (parent.isRootArray)
            _delegate.readerDidReadRootArrayElement(std::move(value));
        else if (parent.keep)
            parent.value.array().push_back(std::move(value));
        break;
    case Element::Dict:
        if (parent.keep)
            parent.value.dictionary().emplace_back(std::move(parent.key), std::move(value));
        parent.key = Text();
        parent.hasKey = false;
        break;
    default: break;
    }
}

} // namespace plistable::detail
