// CSVParser on a seeded ~16 MB CSV text: 10 columns of numbers, words, dates and some Japanese,
// about 10% quoted fields holding commas, doubled quotes and line breaks. Bytes/second count the
// text's UTF-8 size. Target: >= 300 MB/s in receiver mode.
#include "core/csv/CSVParser.hpp"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

struct Input {
    std::string utf8;
    plistable::Text text;
};

const Input& input()
{
    static const Input made = [] {
        std::mt19937 random(20240611);
        const char* words[] = {"apple", "pear", "river", "stone", "cloud", "orange juice", "north-west", "x"};
        const char* japanese[] = {"東京都", "りんご", "カタカナ表記", "日本語のテキスト"};
        const char* quoted[] = {"\"Smith, John\"", "\"He said \"\"hi\"\"\"", "\"line one\nline two\"",
                                "\"a, b, \"\"c\"\"\r\nd\""};
        const std::size_t size = 16u << 20;
        std::string text = "id,name,city,date,amount,count,note,code,flag,comment\n";
        text.reserve(size + 256);
        for (unsigned row = 0; text.size() < size; ++row) {
            for (int column = 0; column < 10; ++column) {
                const unsigned pick = random() % 100;
                if (column == 0)
                    text += std::to_string(row);
                else if (pick < 10)
                    text += quoted[random() % 4];
                else if (pick < 16)
                    text += japanese[random() % 4];
                else if (column == 3)
                    text += "2024-" + std::to_string(1 + random() % 12) + "-" + std::to_string(1 + random() % 28);
                else if (column == 4 || column == 5)
                    text += std::to_string(random() % 100000) + (column == 4 ? ".25" : "");
                else
                    text += words[random() % 8];
                text += column == 9 ? '\n' : ',';
            }
        }
        return Input{text, plistable::fromUtf8Lossy(text)};
    }();
    return made;
}

void setBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input().utf8.size()));
}

void BM_ArrayOfParsedRows(benchmark::State& state)
{
    const bool header = state.range(0) != 0;
    for (auto _ : state) {
        plistable::CSVParser parser(input().text, u",", header);
        benchmark::DoNotOptimize(parser.arrayOfParsedRows());
    }
    setBytes(state);
}
BENCHMARK(BM_ArrayOfParsedRows)->Arg(0)->Arg(1)->ArgName("header")->Unit(benchmark::kMillisecond);

void BM_ReceiverMode(benchmark::State& state)
{
    const bool header = state.range(0) != 0;
    std::size_t records = 0;
    const plistable::RecordReceiver receiver = [&](plistable::Record&& record) {
        benchmark::DoNotOptimize(record);
        ++records;
    };
    for (auto _ : state) {
        plistable::CSVParser parser(input().text, u",", header);
        parser.parseRowsForReceiver(receiver);
    }
    benchmark::DoNotOptimize(records);
    setBytes(state);
}
BENCHMARK(BM_ReceiverMode)->Arg(0)->Arg(1)->ArgName("header")->Unit(benchmark::kMillisecond);

void BM_FirstParsedRow(benchmark::State& state)
{
    for (auto _ : state) {
        plistable::CSVParser parser(input().text, u",", false);
        benchmark::DoNotOptimize(parser.firstParsedRow());
    }
}
BENCHMARK(BM_FirstParsedRow)->Unit(benchmark::kMicrosecond);

} // namespace
