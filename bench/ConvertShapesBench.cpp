// Speed of a CSV table becoming each output form: the plain XML document, typed XML, a binary
// property list and JSON, from the same seeded bytes, through the library's conversion.
#include "core/UserDefaults.hpp"
#include "core/convert/FileConverter.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

using namespace plistable;

// About `bytes` of CSV under a header: ids, words, integers, reals and booleans.
std::string makeTable(std::size_t bytes)
{
    static const char* const words[] = {"apple", "river", "stone", "東京", "café", "pending", "shipped", "blue"};
    std::mt19937_64 random(7);
    std::string csv = "id,name,count,price,ok,note\n";
    for (std::size_t row = 0; csv.size() < bytes; ++row) {
        csv += std::to_string(row) + "," + words[random() % 8] + "," + std::to_string(random() % 100000) + ","
               + std::to_string(random() % 10000) + "." + std::to_string(random() % 100) + ","
               + (random() % 2 ? "true" : "false") + "," + words[random() % 8] + " " + std::to_string(random() % 500)
               + "\n";
    }
    return csv;
}

void convertTo(benchmark::State& state, OutputFormat format, bool types)
{
    static const std::string table = makeTable(8 << 20);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "plistable-shapes-bench";
    std::filesystem::create_directories(folder);
    UserDefaults defaults((folder / "settings.json").string());
    ConversionOptions options;
    options.shape.header = true;
    options.shape.types = types;
    options.output.format = format;
    options.output.path = (folder / "out").string();
    FileConverter converter(defaults, options);
    for (auto _ : state) {
        const ConversionReport report = converter.convertBytes(table, "table.csv", InputKind::Csv);
        if (!report.succeeded())
            state.SkipWithError("conversion failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
    std::filesystem::remove_all(folder);
}

void BM_CsvToPlainXml(benchmark::State& state) { convertTo(state, OutputFormat::Xml, false); }
void BM_CsvToTypedXml(benchmark::State& state) { convertTo(state, OutputFormat::Xml, true); }
void BM_CsvToBinary(benchmark::State& state) { convertTo(state, OutputFormat::Binary, true); }
void BM_CsvToJson(benchmark::State& state) { convertTo(state, OutputFormat::Json, true); }

BENCHMARK(BM_CsvToPlainXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvToTypedXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvToBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvToJson)->Unit(benchmark::kMillisecond);

} // namespace
