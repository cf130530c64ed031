// CSV text built from random rows in the grammar both readers share (fields plain or quoted, ","
// between them, "\n" or "\r\n" between lines, no blank line, no line break at the end): the
// scanner reader gives the field values, CSVComponents() the raw text between the commas, and
// sanitizing gives the values without their surrounding whitespace and line breaks.
#include "FuzzSupport.hpp"

#include "core/csv/CHCSVAdditions.hpp"
#include "core/csv/CSVParser.hpp"
#include "core/text/detail/CharacterSets.hpp"

using namespace plistable;
using plistable::fuzz::trimmed;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Byte 0xFE ends a field, 0xFF a line ending "\n", 0xFD a line ending "\r\n"; a field whose first
    // byte is '"' is quoted, any other loses the characters a plain field cannot hold. A line that
    // would be blank holds a quoted empty field instead.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.empty())
        return 0;
    Text csv;
    fuzz::Rows values(1), raw(1), sanitized(1);
    for (std::size_t i = 0, start = 0; i <= bytes.size(); ++i) {
        const auto b = i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0;
        if (i < bytes.size() && b < 0xFD)
            continue;
        const std::string_view piece = bytes.substr(start, i - start);
        bool quoted = !piece.empty() && piece[0] == '"';
        Text value = fuzz::charactersFromBytes(quoted ? piece.substr(1) : piece);
        if (!quoted)
            std::erase_if(value, [](char16_t c) { return c == u'"' || c == u',' || detail::isNewline(c); });
        quoted = quoted || (value.empty() && values.back().empty() && b != 0xFE);
        Text text = quoted ? u"\"" : u"";
        for (char16_t c : value)
            text += c == u'"' ? u"\"\"" : Text(1, c);
        text += quoted ? u"\"" : u"";
        csv += text;
        values.back().push_back(value), raw.back().push_back(text), sanitized.back().push_back(trimmed(value));
        if (i == bytes.size())
            break;
        csv += b == 0xFE ? u"," : b == 0xFF ? u"\n" : u"\r\n";
        if (b != 0xFE)
            values.emplace_back(), raw.emplace_back(), sanitized.emplace_back();
        start = i + 1;
    }

    CSVParser parser(csv, u",", false);
    const auto records = parser.arrayOfParsedRows();
    FUZZ_CHECK(records && parser.lastParseStop().complete);
    fuzz::Rows scanned;
    for (const Record& record : *records)
        scanned.push_back(std::get<Row>(record));
    FUZZ_CHECK(scanned == values);
    FUZZ_CHECK(CSVComponents(csv) == raw);
    FUZZ_CHECK(CSVComponentsWithOptions(csv, CHCSVAdditionsSanitizesFields) == sanitized);
    return 0;
}
