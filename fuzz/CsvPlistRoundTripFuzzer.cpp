// A UTF-8 CSV file converted to a property list and back (no header) keeps its rows: the CSV read
// back gives the rows of the original, except lines of one empty field, which the writer makes
// blank lines. The scanner reader skips blank lines between records but reads nothing from a text
// that begins with one, so those are cut off before reading. Texts holding characters XML cannot
// carry are skipped.
#include "FuzzSupport.hpp"

#include "core/csv/CSVParser.hpp"
#include "core/convert/FileConverter.hpp"
#include "core/UserDefaults.hpp"

#include <algorithm>
#include <filesystem>

using namespace plistable;

namespace {

fuzz::Rows rowsOf(const Text& text)
{
    CSVParser parser(text, u",", false);
    fuzz::Rows rows;
    for (const Record& record : parser.arrayOfParsedRows().value_or(std::vector<Record>{}))
        if (const Row& row = std::get<Row>(record); row != Row{Text()})
            rows.push_back(row);
    return rows;
}

bool xmlCanHold(char16_t c)
{
    return (c >= 0x20 && c < 0xFFFE) || c == u'\t' || c == u'\n' || c == u'\r';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto text = decodeText(bytes, NSUTF8StringEncoding);
    if (!text || !std::all_of(text->begin(), text->end(), xmlCanHold) || text->starts_with(u'\xFEFF'))
        return 0;
    const std::string csv = fuzz::scratch::write("rt.csv", bytes);
    std::filesystem::create_directories(fuzz::scratch::path("plist"));
    std::filesystem::create_directories(fuzz::scratch::path("csv"));

    UserDefaults defaults(fuzz::scratch::path("settings.json"));
    FileConverter converter(defaults, ConversionOptions{.csvRead = {.encodingName = "UTF-8"}, .shape = {.header = false}});
    const auto there = converter.convertDroppedFiles({csv}, fuzz::scratch::path("plist"));
    FUZZ_CHECK(there.at(0).status != ConversionReport::Status::Failed);
    const auto back = converter.convertDroppedFiles({there.at(0).outputPath}, fuzz::scratch::path("csv"));
    FUZZ_CHECK(back.at(0).status == ConversionReport::Status::Converted);
    auto result = decodeText(fuzz::scratch::read("csv/rt.csv").value(), NSUTF8StringEncoding);
    FUZZ_CHECK(result.has_value());
    result->erase(0, result->find_first_not_of(u'\n'));
    if (rowsOf(*text) != rowsOf(*result))
        std::fprintf(stderr, "before:\n%s\nafter:\n%s", fuzz::describe(rowsOf(*text)).c_str(),
                     fuzz::describe(rowsOf(*result)).c_str());
    FUZZ_CHECK(rowsOf(*text) == rowsOf(*result));
    return 0;
}
