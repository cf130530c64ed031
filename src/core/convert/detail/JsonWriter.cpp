#include "core/convert/detail/JsonWriter.hpp"

#include "core/convert/detail/FieldTypes.hpp"
#include "core/io/AtomicFile.hpp"

namespace plistable::detail {
namespace {

constexpr std::size_t flushThreshold = 1 << 16;

void appendUnicodeEscape(std::string& out, char16_t unit)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(unit >> shift) & 0xF];
}

} // namespace

JsonWriter::JsonWriter(AtomicFile& file) : _file(file)
{
    _buffer.reserve(flushThreshold * 2);
}

void JsonWriter::flushIfFull()
{
    if (_buffer.size() >= flushThreshold) {
        _file.write(_buffer);
        _buffer.clear();
    }
}

void JsonWriter::beginValues(bool dictionaryRoot)
{
    _dictionaryRoot = dictionaryRoot;
    _buffer += dictionaryRoot ? '{' : '[';
}

void JsonWriter::separate()
{
    _buffer += _empty ? "\n" : ",\n";
    _empty = false;
}

void JsonWriter::appendString(std::u16string_view text)
{
    _buffer += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'"' || c == u'\\') {
            _buffer += '\\';
            _buffer += static_cast<char>(c);
        } else if (c == u'\n') {
            _buffer += "\\n";
        } else if (c == u'\t') {
            _buffer += "\\t";
        } else if (c == u'\r') {
            _buffer += "\\r";
        } else if (c < 0x20) {
            appendUnicodeEscape(_buffer, c);
        } else if (c < 0x80) {
            _buffer += static_cast<char>(c);
        } else if (c < 0x800) {
            _buffer += static_cast<char>(0xC0 | (c >> 6));
            _buffer += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00
                   && text[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[++i] - 0xDC00);
            _buffer += static_cast<char>(0xF0 | (cp >> 18));
            _buffer += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            _buffer += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            _buffer += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            // A lone surrogate is no character: JSON readers refuse or replace its escape, so it is
            // replaced here, as the XML form replaces it, and counted.
            _buffer += "\xEF\xBF\xBD";
            ++_replaced;
        } else {
            _buffer += static_cast<char>(0xE0 | (c >> 12));
            _buffer += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            _buffer += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    _buffer += '"';
}

void JsonWriter::appendValue(const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::Integer: _buffer += std::to_string(value.integerValue()); return;
    case PlistValue::Kind::Unsigned: _buffer += std::to_string(value.unsignedValue()); return;
    case PlistValue::Kind::Real: {
        // Only finite reals come from fields; "1" would read back as an integer.
        std::string text = shortestRealText(value.realValue());
        if (text.find_first_of(".e") == std::string::npos)
            text += ".0";
        _buffer += text;
        return;
    }
    case PlistValue::Kind::Boolean: _buffer += value.booleanValue() ? "true" : "false"; return;
    case PlistValue::Kind::Array: {
        _buffer += '[';
        bool first = true;
        for (const PlistValue& element : value.array()) {
            if (!first)
                _buffer += ',';
            first = false;
            appendValue(element);
        }
        _buffer += ']';
        return;
    }
    case PlistValue::Kind::Dictionary: {
        _buffer += '{';
        bool first = true;
        for (const auto& [key, element] : value.dictionary()) {
            if (!first)
                _buffer += ',';
            first = false;
            appendString(key);
            _buffer += ':';
            appendValue(element);
        }
        _buffer += '}';
        return;
    }
    case PlistValue::Kind::String: appendString(value.string()); return;
    case PlistValue::Kind::Date:
    case PlistValue::Kind::Data: break;
    }
    appendString(value.description());
}

void JsonWriter::writeValue(const PlistValue& value)
{
    separate();
    appendValue(value);
    flushIfFull();
}

void JsonWriter::writeEntry(const Text& key, const PlistValue& value)
{
    separate();
    appendString(key);
    _buffer += ':';
    appendValue(value);
    flushIfFull();
}

void JsonWriter::endValues()
{
    if (!_empty)
        _buffer += '\n';
    _buffer += _dictionaryRoot ? "}\n" : "]\n";
    _file.write(_buffer);
    _buffer.clear();
}

} // namespace plistable::detail
