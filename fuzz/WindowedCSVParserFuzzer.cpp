// The windowed CSV reader against the whole-text reader: random text, separator, header setting,
// window size and piece size; records (with where they begin and their lines), header names and
// the stop must all be the same.
#include "FuzzSupport.hpp"

#include "core/csv/WindowedCSVParser.hpp"

#include <span>

using namespace plistable;

namespace {

std::string flatten(const Record& record, const std::optional<std::vector<Text>>& names)
{
    if (const Row* row = std::get_if<Row>(&record))
        return fuzz::describe({*row});
    std::string line;
    for (std::size_t i = 0; names && i < names->size(); ++i) {
        const Text* field = std::get<RecordDictionary>(record).objectForHeaderIndex(i);
        line += field ? " \"" + toUtf8Lossy(*field) + '"' : " -";
    }
    return line;
}

// The fields handed over as views, as flatten() gives the record: with a header each name's value is
// the field at the last position of that name the record reaches.
std::string flattenFields(std::span<const std::u16string_view> fields, const std::optional<std::vector<Text>>& names,
                          bool header)
{
    if (!header)
        return fuzz::describe({Row(fields.begin(), fields.end())});
    std::string line;
    for (std::size_t i = 0; names && i < names->size(); ++i) {
        std::optional<std::u16string_view> value;
        for (std::size_t p = 0; p < fields.size(); ++p)
            if ((*names)[p] == (*names)[i])
                value = fields[p];
        line += value ? " \"" + toUtf8Lossy(*value) + '"' : " -";
    }
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    const std::size_t window = 1 + in.take() % 64;
    const std::size_t piece = 1 + in.take() % 32;
    const std::size_t length = 1 + (flags >> 4) % 2;
    const std::optional<Text> chosen = fuzz::separatorFrom(in, length);
    if (!chosen)
        return 0; // refused by the constructor
    const Text& separator = *chosen;
    const bool header = flags & 4;
    const Text text = fuzz::textFromBytes(in.rest(), flags & 8);

    CSVParser whole(text, separator, header);
    std::vector<std::string> expected;
    std::vector<std::size_t> expectedStarts;
    std::vector<std::size_t> expectedLines;
    whole.parseRowsForReceiver([&](Record&& record) {
        expected.push_back(flatten(record, whole.fieldNames()));
        expectedStarts.push_back(whole.recordStartOffset());
        expectedLines.push_back(whole.lineAtOffset(whole.recordStartOffset()));
    });
    const std::optional<Row> firstRow = CSVParser(text, separator, false).firstParsedRow();

    WindowedCSVParser windowed(fuzz::inPieces(text, piece), separator, header, window);
    FUZZ_CHECK(windowed.firstParsedRow() == firstRow);
    std::vector<std::string> got;
    std::vector<std::size_t> starts;
    std::vector<std::size_t> lines;
    windowed.parseRowsForReceiver([&](Record&& record) {
        got.push_back(flatten(record, windowed.fieldNames()));
        starts.push_back(windowed.recordStartOffset());
        lines.push_back(windowed.recordStartLine());
    });
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(starts == expectedStarts);
    FUZZ_CHECK(lines == expectedLines);
    FUZZ_CHECK(windowed.fieldNames() == whole.fieldNames());
    FUZZ_CHECK(fuzz::sameStop(windowed.lastParseStop(), whole.lastParseStop()));

    // The same text again, its records taken as fields.
    WindowedCSVParser viewed(fuzz::inPieces(text, piece), separator, header, window);
    std::vector<std::string> gotFields;
    std::vector<std::size_t> fieldStarts;
    viewed.parseFieldsForReceiver([&](std::span<const std::u16string_view> fields) {
        gotFields.push_back(flattenFields(fields, viewed.fieldNames(), header));
        fieldStarts.push_back(viewed.recordStartOffset());
    });
    FUZZ_CHECK(gotFields == expected);
    FUZZ_CHECK(fieldStarts == expectedStarts);
    FUZZ_CHECK(fuzz::sameStop(viewed.lastParseStop(), whole.lastParseStop()));
    return 0;
}
