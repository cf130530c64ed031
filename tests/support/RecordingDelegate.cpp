#include "support/RecordingDelegate.hpp"

#include <cstdio>

namespace plistable::test {

std::string RecordingDelegate::quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += toUtf8Lossy(text.substr(i, 2));
            ++i;
        } else if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += toUtf8Lossy(text.substr(i, 1));
        }
    }
    return out + "\"";
}

void RecordingDelegate::record(CHCSVParser& parser, std::string line)
{
    _lines.push_back(std::move(line));
    if (onEvent)
        onEvent(parser, _lines.back());
}

void RecordingDelegate::parserDidBeginDocument(CHCSVParser& parser)
{
    record(parser, "beginDocument");
}

void RecordingDelegate::parserDidBeginLine(CHCSVParser& parser, std::uint64_t recordNumber)
{
    record(parser, "beginLine " + std::to_string(recordNumber));
}

void RecordingDelegate::parserDidReadField(CHCSVParser& parser, std::u16string_view field, std::int64_t fieldIndex)
{
    record(parser, "field " + std::to_string(fieldIndex) + " " + quoted(field));
}

void RecordingDelegate::parserDidEndLine(CHCSVParser& parser, std::uint64_t recordNumber)
{
    record(parser, "endLine " + std::to_string(recordNumber));
}

void RecordingDelegate::parserDidReadComment(CHCSVParser& parser, const Text& comment)
{
    record(parser, "comment " + quoted(comment));
}

void RecordingDelegate::parserDidFailWithError(CHCSVParser& parser, const CHCSVError& error)
{
    record(parser, "error " + std::to_string(error.code) + " " + quoted(fromUtf8Lossy(error.description)));
}

void RecordingDelegate::parserDidEndDocument(CHCSVParser& parser)
{
    record(parser, "endDocument");
}

std::string RecordingDelegate::log() const
{
    std::string out;
    for (const std::string& line : _lines)
        out += line + "\n";
    return out;
}

} // namespace plistable::test
