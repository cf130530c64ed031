// The scanner CSV reader on random text and separators: the array and receiver modes must give the
// same records and stop, and firstParsedRow() the first record of a parse without a header.
#include "FuzzSupport.hpp"

#include "core/csv/CSVParser.hpp"

using namespace plistable;

namespace {

// Records in a comparable form: a dictionary through the header names it was read with.
std::vector<std::string> flatten(const std::vector<Record>& records, const std::optional<std::vector<Text>>& names)
{
    std::vector<std::string> out;
    for (const Record& record : records) {
        if (const Row* row = std::get_if<Row>(&record)) {
            out.push_back(fuzz::describe({*row}));
            continue;
        }
        const auto& dictionary = std::get<RecordDictionary>(record);
        std::string line = "count " + std::to_string(dictionary.count());
        for (std::size_t i = 0; names && i < names->size(); ++i) {
            const Text* field = dictionary.objectForHeaderIndex(i);
            FUZZ_CHECK(field == dictionary.objectForKey((*names)[i]));
            line += field ? " \"" + toUtf8Lossy(*field) + '"' : " -";
        }
        out.push_back(line);
    }
    return out;
}

bool sameStop(const CSVParseStop& a, const CSVParseStop& b)
{
    return a.complete == b.complete && a.reason == b.reason && a.line == b.line && a.offset == b.offset
           && a.records == b.records && a.recordsWithSurplusFields == b.recordsWithSurplusFields
           && a.firstSurplusLine == b.firstSurplusLine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.take();
    // One to three units, each one byte's character (half of a surrogate pair when cut).
    const std::size_t length = 1 + (flags >> 4) % 3;
    const std::optional<Text> chosen = fuzz::separatorFrom(in, length);
    if (!chosen)
        return 0; // refused by the constructor
    const Text& separator = *chosen;
    const bool header = flags & 4;
    const Text text = fuzz::textFromBytes(in.rest(), flags & 8);

    CSVParser arrayParser(text, separator, header);
    const auto records = arrayParser.arrayOfParsedRows();
    FUZZ_CHECK(!records || !records->empty());

    CSVParser receiverParser(text, separator, header);
    std::vector<Record> received;
    receiverParser.parseRowsForReceiver([&](Record&& record) { received.push_back(std::move(record)); });
    FUZZ_CHECK(sameStop(arrayParser.lastParseStop(), receiverParser.lastParseStop()));
    FUZZ_CHECK(arrayParser.fieldNames() == receiverParser.fieldNames());
    FUZZ_CHECK(flatten(records.value_or(std::vector<Record>{}), arrayParser.fieldNames())
               == flatten(received, receiverParser.fieldNames()));
    FUZZ_CHECK(arrayParser.lastParseStop().records == received.size());

    CSVParser plainParser(text, separator, false);
    const auto rows = plainParser.arrayOfParsedRows();
    const CSVParseStop stopBefore = arrayParser.lastParseStop();
    const auto first = arrayParser.firstParsedRow();
    FUZZ_CHECK(sameStop(stopBefore, arrayParser.lastParseStop()));
    FUZZ_CHECK(first == (rows ? std::optional<Row>(std::get<Row>(rows->front())) : std::nullopt));
    return 0;
}
