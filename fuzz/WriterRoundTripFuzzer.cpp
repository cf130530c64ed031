// Rows made from the input, written with CSVString() and read back with CSVComponentsWithOptions()
// sanitizing, come back as they were, each field without its leading and trailing whitespace and
// line breaks (which sanitizing removes). A row of one empty field is written as "" so that it is not
// taken into a line break. The reader reports one more line after the last line break, holding one
// empty field (so an empty text reads as that line alone).
#include "FuzzSupport.hpp"

#include "core/csv/CHCSVAdditions.hpp"

#include <algorithm>
#include <cstdio>

using namespace plistable;
using plistable::fuzz::trimmed;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Byte 0xFF starts a new row, 0xFE a new field; every other byte is one character.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PlistValue::Array rows;
    fuzz::Rows expected;
    for (std::size_t rowStart = 0; rowStart < bytes.size();) {
        const std::size_t rowEnd = std::min(bytes.find('\xFF', rowStart), bytes.size());
        PlistValue::Array row;
        expected.emplace_back();
        for (std::size_t fieldStart = rowStart;;) {
            const std::size_t fieldEnd = std::min(bytes.find('\xFE', fieldStart), rowEnd);
            const Text field = fuzz::charactersFromBytes(bytes.substr(fieldStart, fieldEnd - fieldStart));
            row.emplace_back(field);
            expected.back().push_back(trimmed(field));
            if (fieldEnd == rowEnd)
                break;
            fieldStart = fieldEnd + 1;
        }
        rows.emplace_back(std::move(row));
        rowStart = rowEnd + 1;
    }
    expected.push_back({Text()}); // the line after the last line break (the only one of an empty text)

    const Text csv = CSVString(rows);
    const auto read = CSVComponentsWithOptions(csv, CHCSVAdditionsSanitizesFields);
    FUZZ_CHECK(read.has_value());
    if (*read != expected)
        std::fprintf(stderr, "written:\n%s\nread:\n%s", fuzz::describe(expected).c_str(), fuzz::describe(*read).c_str());
    FUZZ_CHECK(*read == expected);
    return 0;
}
