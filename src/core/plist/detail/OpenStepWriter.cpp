#include "core/plist/detail/OpenStepWriter.hpp"

#include "core/io/AtomicFile.hpp"
#include "core/plist/OpenStepParser.hpp"
#include "core/text/detail/Utf8.hpp"

namespace plistable::detail {
namespace {

constexpr std::size_t flushThreshold = 1 << 16;

} // namespace

OpenStepWriter::OpenStepWriter(AtomicFile& file, bool stringsForm, bool utf16)
    : _file(file), _stringsForm(stringsForm), _utf16(utf16)
{
    _buffer.reserve(flushThreshold * 2);
}

// The buffer always ends between two values, so it holds whole characters to re-encode.
void OpenStepWriter::flush(bool always)
{
    if (_buffer.empty() || (!always && _buffer.size() < flushThreshold))
        return;
    if (!_utf16) {
        _file.write(_buffer);
    } else {
        Text text;
        appendUtf8AsUtf16(_buffer, text);
        _wide.clear();
        for (char16_t c : text) {
            _wide += static_cast<char>(c & 0xFF);
            _wide += static_cast<char>(c >> 8);
        }
        _file.write(_wide);
    }
    _buffer.clear();
}

void OpenStepWriter::beginValues(bool dictionaryRoot)
{
    _dictionaryRoot = dictionaryRoot;
    if (_utf16)
        _file.write(std::string_view("\xFF\xFE", 2));
    if (!_stringsForm)
        _buffer += dictionaryRoot ? "{\n" : "(\n";
}

void OpenStepWriter::appendValue(const PlistValue& value)
{
    switch (value.kind()) {
    case PlistValue::Kind::String: _buffer += OpenStepParser::quoted(value.string()); return;
    case PlistValue::Kind::Data: {
        static constexpr char hex[] = "0123456789abcdef";
        _buffer += '<';
        for (unsigned char byte : value.dataValue()) {
            _buffer += hex[byte >> 4];
            _buffer += hex[byte & 0xF];
        }
        _buffer += '>';
        return;
    }
    case PlistValue::Kind::Array: {
        _buffer += '(';
        bool first = true;
        for (const PlistValue& element : value.array()) {
            _buffer += first ? "" : ", ";
            first = false;
            appendValue(element);
        }
        _buffer += ')';
        return;
    }
    case PlistValue::Kind::Dictionary:
        _buffer += '{';
        for (const auto& [key, entry] : value.dictionary()) {
            _buffer += ' ';
            _buffer += OpenStepParser::quoted(key);
            _buffer += " = ";
            appendValue(entry);
            _buffer += ';';
        }
        _buffer += value.dictionary().empty() ? "}" : " }";
        return;
    default: _buffer += OpenStepParser::quoted(value.description()); return;
    }
}

void OpenStepWriter::writeValue(const PlistValue& value)
{
    if (!_empty)
        _buffer += ",\n";
    _empty = false;
    _buffer += '\t';
    appendValue(value);
    flush(false);
}

void OpenStepWriter::writeEntry(const Text& key, const PlistValue& value)
{
    _empty = false;
    if (!_stringsForm)
        _buffer += '\t';
    _buffer += OpenStepParser::quoted(key);
    _buffer += " = ";
    appendValue(value);
    _buffer += ";\n";
    flush(false);
}

void OpenStepWriter::endValues()
{
    if (!_stringsForm) {
        if (!_dictionaryRoot && !_empty)
            _buffer += '\n';
        _buffer += _dictionaryRoot ? "}\n" : ")\n";
    }
    flush(true);
}

} // namespace plistable::detail
