// The reader of UTF-8 bytes against the windowed reader of the same text's UTF-16 form: random
// text (without the line breaks beyond ASCII, which the byte reader leaves to the other), an ASCII
// separator it takes, header setting, window and piece sizes, and a record to stop after; fields,
// first row, header names and the stop (line, offset in UTF-16 units, counts) must be the same, at
// the SIMD level the input picks (the baseline or the widest there is).
#include "FuzzSupport.hpp"

#include "core/csv/WindowedCSVParser.hpp"
#include "core/csv/detail/Utf8CSVReader.hpp"
#include "core/text/detail/Simd.hpp"

#include <algorithm>

using namespace plistable;

namespace {

std::vector<std::string> toUtf8(const std::optional<std::vector<Text>>& row)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; row && i < row->size(); ++i)
        out.push_back(toUtf8Lossy((*row)[i]));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const std::size_t window = 1 + in.take() % 64;
    const std::size_t piece = 1 + in.take() % 32;
    const std::size_t stopAfter = in.take();
    char16_t separator = in.take() & 0x7F;
    if (!detail::Utf8CSVReader::acceptsSeparator(std::u16string_view(&separator, 1)))
        separator = u',';
    const bool header = flags & 1;
    detail::setSimdLevel(flags & 4 ? detail::SimdLevel::Avx2 : detail::SimdLevel::Sse2);
    Text text = (flags & 2) ? fuzz::charactersFromBytes(in.rest()) : fuzz::textFromBytes(in.rest(), false);
    std::replace_if(text.begin(), text.end(), [](char16_t c) { return c == 0x85 || c == 0x2028 || c == 0x2029; },
                    u'\u00E9');
    const std::string bytes = toUtf8Lossy(text);

    WindowedCSVParser units(fuzz::inPieces(text, piece), Text(1, separator), header, window);
    const std::optional<Row> firstRow = units.firstParsedRow();
    std::vector<std::vector<std::string>> expected;
    units.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
        auto& record = expected.emplace_back();
        for (const std::u16string_view field : fields)
            record.push_back(toUtf8Lossy(field));
        if (expected.size() == stopAfter)
            units.stopParsing();
    });

    detail::Utf8CSVReader reader(fuzz::inPieces(bytes, piece), static_cast<char>(separator), header, window);
    const std::optional<std::vector<std::string>> firstBytes = reader.firstParsedRow();
    FUZZ_CHECK(firstBytes.has_value() == firstRow.has_value());
    FUZZ_CHECK(!firstRow || *firstBytes == toUtf8(firstRow));
    std::vector<std::vector<std::string>> got;
    reader.parseFieldsForReceiver([&](std::span<const std::string_view> fields) {
        got.emplace_back(fields.begin(), fields.end());
        if (got.size() == stopAfter)
            reader.stopParsing();
    });
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(reader.fieldNames().has_value() == units.fieldNames().has_value());
    FUZZ_CHECK(!header || *reader.fieldNames() == toUtf8(units.fieldNames()));
    FUZZ_CHECK(fuzz::sameStop(reader.lastParseStop(), units.lastParseStop()));
    return 0;
}
