// CSV with a header line -> rows -> a new column numbering them -> XML property list, numbers typed.
#include <plistable/core/convert/CsvFile.hpp>
#include <plistable/core/convert/PlistFile.hpp>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 3)
        return std::cerr << "usage: app IN.csv OUT.plist\n", 2;
    plistable::CsvFileResult table = plistable::readCsvFile(argv[1], {.header = true});
    if (!table)
        return std::cerr << argv[1] << ':' << table.error->line << ": " << table.error->reason << '\n', 1;
    table.header.push_back("row");
    for (std::size_t i = 0; i < table.rows.size(); ++i)
        table.rows[i].push_back(std::to_string(i + 1));
    if (const auto error = plistable::writePlistFile(table.rows, argv[2], {.header = table.header, .types = true}))
        return std::cerr << argv[2] << ": " << error->reason << '\n', 1;
}
