// Reads the CSV file named on the command line (its encoding detected) and prints its rows,
// one line per row with the fields separated by " | ".
#include <plistable/core/convert/CsvFile.hpp>

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: app FILE.csv\n";
        return 2;
    }
    const plistable::CsvFileResult result = plistable::readCsvFile(argv[1]);
    for (const std::vector<std::string>& row : result.rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            std::cout << (i ? " | " : "") << row[i];
        std::cout << '\n';
    }
    if (!result) {
        std::cerr << argv[1] << ':' << result.error->line << ": " << result.error->reason << '\n';
        return 1;
    }
    std::cerr << "(read as " << result.encoding << ")\n";
    return 0;
}
