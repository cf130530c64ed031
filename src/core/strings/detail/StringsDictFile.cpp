#include "core/strings/detail/StringsDictFile.hpp"

#include "core/plist/PropertyListReader.hpp"
#include "core/text/TextEncoding.hpp"

#include <algorithm>

namespace plistable::detail {

namespace {

class RootCollector : public PlistReaderDelegate {
public:
    void readerDidReadRootDictionaryEntry(Text&& key, PlistValue&& value) override
    {
        entries.push_back({toUtf8Lossy(key), std::move(value), 0});
    }
    std::vector<StringsDictEntry> entries;
};

std::string escaped(std::u16string_view text)
{
    std::string out;
    for (const char c : toUtf8Lossy(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

void writeValue(std::string& out, const PlistValue& value, std::size_t depth)
{
    const std::string indent(depth, '\t');
    switch (value.kind()) {
    case PlistValue::Kind::Dictionary:
        if (value.dictionary().empty()) {
            out += indent + "<dict/>\n";
            break;
        }
        out += indent + "<dict>\n";
        for (const auto& [key, child] : value.dictionary()) {
            out += indent + "\t<key>" + escaped(key) + "</key>\n";
            writeValue(out, child, depth + 1);
        }
        out += indent + "</dict>\n";
        break;
    case PlistValue::Kind::Array:
        if (value.array().empty()) {
            out += indent + "<array/>\n";
            break;
        }
        out += indent + "<array>\n";
        for (const PlistValue& child : value.array())
            writeValue(out, child, depth + 1);
        out += indent + "</array>\n";
        break;
    case PlistValue::Kind::Integer:
    case PlistValue::Kind::Unsigned:
        out += indent + "<integer>" + toUtf8Lossy(value.description()) + "</integer>\n";
        break;
    case PlistValue::Kind::Real:
        out += indent + "<real>" + toUtf8Lossy(value.description()) + "</real>\n";
        break;
    case PlistValue::Kind::Boolean:
        out += indent + (value.booleanValue() ? "<true/>\n" : "<false/>\n");
        break;
    case PlistValue::Kind::Date:
        out += indent + "<date>" + toUtf8Lossy(value.description()) + "</date>\n";
        break;
    case PlistValue::Kind::Data:
        out += indent + "<data>" + toUtf8Lossy(value.description()) + "</data>\n";
        break;
    case PlistValue::Kind::String:
        out += indent + "<string>" + escaped(value.string()) + "</string>\n";
        break;
    }
}

PlistValue* valueForKey(PlistValue::Dictionary& dictionary, std::u16string_view key)
{
    for (auto& [name, value] : dictionary)
        if (name == key)
            return &value;
    return nullptr;
}

void setString(PlistValue::Dictionary& dictionary, std::u16string_view key, const std::string& value)
{
    if (PlistValue* existing = valueForKey(dictionary, key))
        *existing = PlistValue(fromUtf8Lossy(value));
    else
        dictionary.emplace_back(Text(key), PlistValue(fromUtf8Lossy(value)));
}

} // namespace

std::optional<std::vector<StringsDictEntry>> readStringsDictFile(std::string_view bytes, std::string& error,
                                                                 std::uint64_t& errorLine)
{
    RootCollector collector;
    const PropertyListReadResult result = PropertyListReader::readBytes(bytes, collector);
    const bool dictionary = result.status == PropertyListReadResult::Status::RootNotArray && result.rootIsDictionary;
    if (!dictionary) {
        error = result.ok() ? std::string("the root is no dictionary") : result.description();
        errorLine = result.line;
        return std::nullopt;
    }
    // The reader gives no positions: each key is looked for as written, after the one before it.
    std::size_t from = 0;
    for (StringsDictEntry& entry : collector.entries) {
        const std::string tag = "<key>" + escaped(fromUtf8Lossy(entry.key)) + "</key>";
        const std::size_t at = bytes.find(tag, from);
        if (at == std::string_view::npos)
            continue;
        entry.line = 1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.begin() + at, '\n'));
        from = at + tag.size();
    }
    return std::move(collector.entries);
}

std::vector<std::pair<std::string, std::string>> stringsDictVariants(const PlistValue& entry)
{
    std::vector<std::pair<std::string, std::string>> variants;
    if (!entry.isDictionary()) {
        variants.emplace_back("", toUtf8Lossy(entry.description()));
        return variants;
    }
    for (const auto& [key, value] : entry.dictionary()) {
        const std::string name = toUtf8Lossy(key);
        if (!value.isDictionary()) {
            variants.emplace_back(key == formatKeyName ? std::string() : name, toUtf8Lossy(value.description()));
            continue;
        }
        for (const auto& [field, text] : value.dictionary()) {
            std::string suffix = toUtf8Lossy(field);
            if (field == valueTypeKeyName)
                suffix = "type";
            else if (field == specTypeKeyName) {
                if (text.isString() && text.string() == pluralRuleName)
                    continue;
                suffix = "rule";
            }
            variants.emplace_back(name + "." + suffix, toUtf8Lossy(text.description()));
        }
    }
    return variants;
}

void setStringsDictVariant(PlistValue& entry, std::string_view variant, const std::string& value)
{
    if (!entry.isDictionary())
        entry = PlistValue(PlistValue::Dictionary{});
    PlistValue::Dictionary dictionary = entry.dictionary();
    const std::size_t dot = variant.rfind('.');
    if (variant.empty() || dot == std::string_view::npos) {
        setString(dictionary, variant.empty() ? formatKeyName : std::u16string_view(fromUtf8Lossy(variant)), value);
    } else {
        const Text name = fromUtf8Lossy(variant.substr(0, dot));
        const std::string_view suffix = variant.substr(dot + 1);
        PlistValue* variable = valueForKey(dictionary, name);
        if (!variable || !variable->isDictionary()) {
            PlistValue::Dictionary fresh;
            fresh.emplace_back(Text(specTypeKeyName), PlistValue(Text(pluralRuleName)));
            if (variable)
                *variable = PlistValue(std::move(fresh));
            else
                dictionary.emplace_back(name, PlistValue(std::move(fresh)));
            variable = valueForKey(dictionary, name);
        }
        PlistValue::Dictionary fields = variable->dictionary();
        const Text field = suffix == "type"   ? Text(valueTypeKeyName)
                           : suffix == "rule" ? Text(specTypeKeyName)
                                              : fromUtf8Lossy(suffix);
        setString(fields, field, value);
        *variable = PlistValue(std::move(fields));
    }
    entry = PlistValue(std::move(dictionary));
}

std::string writeStringsDictFile(const PlistValue::Dictionary& root)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    writeValue(out, PlistValue(root), 0);
    out += "</plist>\n";
    return out;
}

} // namespace plistable::detail
