#include "core/plist/detail/PlistXmlEvents.hpp"

#include <string_view>
#include <vector>

namespace plistable::detail {
namespace {

std::u16string_view elementName(const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::String: return u"string";
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Unsigned: return u"integer";
    case PlistValue::Kind::Real: return u"real";
    case PlistValue::Kind::Boolean: return value.booleanValue() ? u"true" : u"false";
    case PlistValue::Kind::Date: return u"date";
    case PlistValue::Kind::Data: return u"data";
    case PlistValue::Kind::Array: return u"array";
    case PlistValue::Kind::Dictionary: return u"dict";
    }
    return u"string";
}

void reportScalar(const PlistValue& value, PlistReaderDelegate& delegate)
{
    const std::u16string_view name = elementName(value);
    delegate.parserDidStartElement(name);
    if (value.kind() == PlistValue::Kind::String) {
        if (!value.string().empty())
            delegate.parserFoundCharacters(value.string());
    } else if (value.kind() != PlistValue::Kind::Boolean) {
        const Text text = value.description();
        if (!text.empty())
            delegate.parserFoundCharacters(text);
    }
    delegate.parserDidEndElement(name);
}

} // namespace

void reportXmlEvents(const PlistValue& value, PlistReaderDelegate& delegate)
{
    if (!value.isCollection()) {
        reportScalar(value, delegate);
        return;
    }
    struct Step {
        const PlistValue* collection;
        std::size_t next;
    };
    std::vector<Step> path;
    delegate.parserDidStartElement(elementName(value));
    path.push_back(Step{&value, 0});
    while (!path.empty()) {
        Step& step = path.back();
        const PlistValue& collection = *step.collection;
        const std::size_t size = collection.isArray() ? collection.array().size() : collection.dictionary().size();
        if (step.next == size) {
            delegate.parserDidEndElement(elementName(collection));
            path.pop_back();
            continue;
        }
        const std::size_t i = step.next++;
        const PlistValue* child;
        if (collection.isArray()) {
            child = &collection.array()[i];
        } else {
            const auto& [key, entry] = collection.dictionary()[i];
            delegate.parserDidStartElement(u"key");
            if (!key.empty())
                delegate.parserFoundCharacters(key);
            delegate.parserDidEndElement(u"key");
            child = &entry;
        }
        if (child->isCollection()) {
            delegate.parserDidStartElement(elementName(*child));
            path.push_back(Step{child, 0});
        } else {
            reportScalar(*child, delegate);
        }
    }
}

} // namespace plistable::detail
