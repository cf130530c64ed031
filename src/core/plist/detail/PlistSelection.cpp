#include "core/plist/detail/PlistSelection.hpp"

#include "core/plist/detail/PlistXmlEvents.hpp"

namespace plistable::detail {
namespace {

std::string utf8(std::u16string_view text)
{
    return toUtf8Lossy(text);
}

} // namespace

std::string noElement(const PlistPointer& pointer, std::size_t part, std::size_t count)
{
    const Text& name = pointer.parts()[part];
    std::string why = "the array at " + pointer.place(part) + " has no element ";
    if (PlistPointer::index(name))
        return why + utf8(name) + " (it has " + std::to_string(count) + ")";
    return why + '"' + utf8(name) + '"';
}

PlistValue* findSelected(PlistValue& value, const PlistPointer& pointer, std::size_t from, std::string& why)
{
    PlistValue* at = &value;
    for (std::size_t part = from; part < pointer.parts().size(); ++part) {
        const Text& name = pointer.parts()[part];
        if (at->isDictionary()) {
            PlistValue* found = nullptr;
            for (auto& [key, entry] : at->dictionary())
                if (key == name)
                    found = &entry; // the later of repeated keys, as objectForKey() finds
            if (!found) {
                why = "the dictionary at " + pointer.place(part) + " has no key \"" + utf8(name) + '"';
                return nullptr;
            }
            at = found;
        } else if (at->isArray()) {
            const auto index = PlistPointer::index(name);
            if (!index || *index >= at->array().size()) {
                why = noElement(pointer, part, at->array().size());
                return nullptr;
            }
            at = &at->array()[*index];
        } else {
            why = "the value at " + pointer.place(part) + " is " + describeKind(at->kind()) +
                  ", not an array or dictionary";
            return nullptr;
        }
    }
    return at;
}

std::string noValueMessage(const PlistPointer& pointer, const std::string& why)
{
    return "no value at " + pointer.text() + ": " + why;
}

void reportKeyEvents(std::u16string_view key, PlistReaderDelegate& delegate)
{
    delegate.parserDidStartElement(u"key");
    if (!key.empty())
        delegate.parserFoundCharacters(key);
    delegate.parserDidEndElement(u"key");
}

void handOverTable(PlistValue&& table, PlistReaderDelegate& delegate, PropertyListReadResult& result, bool selected)
{
    result.rootKind = table.kind();
    const bool array = table.isArray();
    delegate.parserDidStartElement(u"plist");
    if (table.isArray()) {
        delegate.parserDidStartElement(u"array");
        for (PlistValue& element : table.array()) {
            reportXmlEvents(element, delegate);
            delegate.readerDidReadRootArrayElement(std::move(element));
        }
        delegate.parserDidEndElement(u"array");
    } else if (table.isDictionary()) {
        result.rootIsDictionary = true;
        delegate.parserDidStartElement(u"dict");
        for (auto& [key, value] : table.dictionary()) {
            reportKeyEvents(key, delegate);
            reportXmlEvents(value, delegate);
            delegate.readerDidReadRootDictionaryEntry(std::move(key), std::move(value));
        }
        delegate.parserDidEndElement(u"dict");
    } else {
        reportXmlEvents(table, delegate);
        if (selected)
            delegate.readerDidReadSelectedValue(std::move(table));
    }
    delegate.parserDidEndElement(u"plist");
    if (!array) {
        result.status = PropertyListReadResult::Status::RootNotArray;
        result.message = "the root value is not an array";
    }
}

} // namespace plistable::detail
