#include "core/plist/detail/OpenStepPropertyListReader.hpp"

#include "core/plist/OpenStepParser.hpp"
#include "core/plist/detail/OpenStepGrammar.hpp"
#include "core/plist/detail/PlistSelection.hpp"
#include "core/plist/detail/PlistXmlEvents.hpp"

#include <optional>

namespace plistable::detail {
namespace {

using Status = PropertyListReadResult::Status;

// Turns the parser's root-level callbacks into the reader's events. Without a selection each
// entry or element goes out at once; with one, the value on the pointer's path is kept (the whole
// root for the empty pointer) and handed over once the text is read.
class OpenStepEvents : public OpenStepParserDelegate {
public:
    OpenStepEvents(PlistReaderDelegate& delegate, const PlistPointer* selection, PropertyListReadResult& result)
        : _delegate(delegate), _selection(selection), _result(result)
    {
    }

    void parserDidStartRootDictionary(bool) override
    {
        _result.rootKind = PlistValue::Kind::Dictionary;
        _result.rootIsDictionary = !_selection;
        if (wholeRootKept())
            _kept = PlistValue(PlistValue::Dictionary());
        if (!_selection) {
            _delegate.parserDidStartElement(u"plist");
            _delegate.parserDidStartElement(u"dict");
        }
    }

    void parserDidReadEntry(OpenStepEntry&& entry) override
    {
        if (!_selection) {
            reportKeyEvents(entry.key, _delegate);
            reportXmlEvents(entry.value, _delegate);
            _delegate.readerDidReadRootDictionaryEntry(std::move(entry.key), std::move(entry.value));
        } else if (wholeRootKept()) {
            _kept->dictionary().emplace_back(std::move(entry.key), std::move(entry.value));
        } else if (entry.key == _selection->parts()[0]) {
            _kept = std::move(entry.value); // the later of repeated keys wins
        }
    }

    void parserDidStartRootArray() override
    {
        _result.rootKind = PlistValue::Kind::Array;
        if (wholeRootKept())
            _kept = PlistValue(PlistValue::Array());
        if (!_selection) {
            _delegate.parserDidStartElement(u"plist");
            _delegate.parserDidStartElement(u"array");
        } else if (!wholeRootKept()) {
            _wanted = PlistPointer::index(_selection->parts()[0]);
        }
    }

    void parserDidReadArrayElement(PlistValue&& element, std::uint64_t) override
    {
        if (!_selection) {
            reportXmlEvents(element, _delegate);
            _delegate.readerDidReadRootArrayElement(std::move(element));
        } else if (wholeRootKept()) {
            _kept->array().push_back(std::move(element));
        } else if (_wanted && *_wanted == _elements) {
            _kept = std::move(element);
        }
        ++_elements;
    }

    void parserDidReadRootValue(PlistValue&& value) override
    {
        _result.rootKind = value.kind();
        if (_selection) {
            _kept = std::move(value);
            _rootValue = true;
            return;
        }
        _delegate.parserDidStartElement(u"plist");
        reportXmlEvents(value, _delegate);
    }

    void parserDidRepeatKey(std::u16string_view key, std::uint64_t line) override
    {
        _delegate.readerDidFindRepeatedKey(key, line, 0);
    }

    // After a complete text without a selection: the closing events.
    void finish()
    {
        if (_result.rootKind == PlistValue::Kind::Array)
            _delegate.parserDidEndElement(u"array");
        else if (_result.rootKind == PlistValue::Kind::Dictionary)
            _delegate.parserDidEndElement(u"dict");
        _delegate.parserDidEndElement(u"plist");
        if (_result.rootKind != PlistValue::Kind::Array) {
            _result.status = Status::RootNotArray;
            _result.message = "the root value is not an array";
        }
    }

    // After a complete text with a selection: finds the selected value in what was kept.
    void finishSelected()
    {
        const PlistPointer& pointer = *_selection;
        std::string why;
        PlistValue* selected = nullptr;
        if (wholeRootKept() || _rootValue) {
            if (_kept)
                selected = findSelected(*_kept, pointer, _rootValue ? 0 : pointer.parts().size(), why);
        } else if (!_kept) {
            if (_result.rootKind == PlistValue::Kind::Array)
                why = noElement(pointer, 0, _elements);
            else
                why = "the dictionary at the root has no key \"" + toUtf8(pointer.parts()[0]) + '"';
        } else {
            selected = findSelected(*_kept, pointer, 1, why);
        }
        if (!selected) {
            _result.status = Status::NoSelectedValue;
            _result.message = noValueMessage(pointer, why);
            return;
        }
        _result.rootIsDictionary = false;
        handOverTable(std::move(*selected), _delegate, _result, true);
    }

private:
    bool wholeRootKept() const { return _selection && _selection->parts().empty(); }
    static std::string toUtf8(std::u16string_view text)
    {
        std::string out;
        for (char16_t c : text) // for the message only
            out += c < 0x80 ? static_cast<char>(c) : '?';
        return out;
    }

    PlistReaderDelegate& _delegate;
    const PlistPointer* _selection;
    PropertyListReadResult& _result;
    std::optional<PlistValue> _kept;
    std::optional<std::size_t> _wanted; // the root-array element on the pointer's path
    std::size_t _elements = 0;
    bool _rootValue = false;
};

} // namespace

std::optional<OpenStepError> parseOpenStep(OpenStepTextSource& source, OpenStepParserDelegate& delegate,
                                           bool keepComments)
{
    std::optional<OpenStepError> fault = OpenStepGrammar(source, delegate, keepComments).run();
    if (fault && !source.fault())
        source.drain();
    if (source.fault())
        return source.fault();
    return fault;
}

std::optional<PropertyListReadResult> readOpenStep(const OpenStepTextSource::Pieces& pieces,
                                                   PlistReaderDelegate& delegate, const PlistPointer* selection)
{
    PropertyListReadResult result;
    result.openStep = true;
    delegate.parserDidStartDocument();
    OpenStepTextSource source(pieces);
    OpenStepEvents events(delegate, selection, result);
    // The reader has no use for comments: none is kept, however long.
    std::optional<OpenStepError> fault = parseOpenStep(source, events, false);
    if (source.interrupted())
        return std::nullopt;
    if (!fault) {
        selection ? events.finishSelected() : events.finish();
        if (result.status != Status::NoSelectedValue)
            delegate.parserDidEndDocument();
        return result;
    }
    if (source.fault()) {
        // Bytes that are no text: what was parsed before them does not count.
        result.rootKind = PropertyListReadResult().rootKind;
        result.byteOffset = fault->offset;
    }
    result.status = Status::NotPropertyList;
    result.message = std::move(fault->message);
    result.line = fault->line;
    result.rootIsDictionary = false;
    return result;
}

} // namespace plistable::detail
