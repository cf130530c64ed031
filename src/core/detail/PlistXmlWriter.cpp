#include "core/detail/PlistXmlWriter.hpp"

#include "core/AtomicFile.hpp"

namespace plistable::detail {
namespace {

constexpr std::size_t flushThreshold = 1 << 16;

constexpr std::string_view prologText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">";

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// Appends `text` as escaped UTF-8 and returns how many characters had to be replaced.
// ASCII that needs no escaping is the common case and is copied in runs.
std::size_t appendEscaped(std::string& out, std::u16string_view text)
{
    std::size_t replaced = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            if (c >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r') {
                switch (c) {
                case u'&': out += "&amp;"; break;
                case u'<': out += "&lt;"; break;
                case u'>': out += "&gt;"; break;
                default: out.push_back(static_cast<char>(c));
                }
            } else {
                out += replacement;
                ++replaced;
            }
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
            out += replacement;
            ++replaced;
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return replaced;
}

} // namespace

PlistXmlWriter::PlistXmlWriter(AtomicFile& file) : _file(file)
{
    _buffer.reserve(flushThreshold + 4096);
}

std::string_view PlistXmlWriter::prolog()
{
    return prologText;
}

void PlistXmlWriter::beginDocument()
{
    _buffer += prologText;
    _buffer += "\n<array>";
}

void PlistXmlWriter::appendElement(std::string_view open, std::u16string_view text, std::string_view close)
{
    _buffer += open;
    _replaced += appendEscaped(_buffer, text);
    _buffer += close;
}

void PlistXmlWriter::writeRow(const Row& row)
{
    _buffer += "\n\t<array>";
    for (const Text& field : row)
        appendElement("\n\t\t<string>", field, "</string>");
    _buffer += "\n\t</array>";
    flushIfLarge();
}

void PlistXmlWriter::writeDictionary(const RecordDictionary& record, const std::vector<Text>& names,
                                     bool namesAreRecordHeader)
{
    _buffer += "\n\t<dict>";
    for (std::size_t i = 0; i < names.size(); ++i) {
        appendElement("\n\t\t<key>", names[i], "</key>");
        const Text* value = namesAreRecordHeader ? record.objectForHeaderIndex(i) : record.objectForKey(names[i]);
        appendElement("\n\t\t<string>", value ? std::u16string_view(*value) : std::u16string_view(), "</string>");
    }
    _buffer += "\n\t</dict>";
    flushIfLarge();
}

void PlistXmlWriter::endDocument()
{
    _buffer += "\n</array>\n</plist>";
    _file.write(_buffer);
    _buffer.clear();
}

void PlistXmlWriter::flushIfLarge()
{
    if (_buffer.size() >= flushThreshold) {
        _file.write(_buffer);
        _buffer.clear();
    }
}

} // namespace plistable::detail
