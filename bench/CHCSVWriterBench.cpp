#include "core/csv/CHCSVWriter.hpp"
#include "core/io/MemoryOutputStream.hpp"

#include <benchmark/benchmark.h>

#include <random>

using namespace plistable;

namespace {

// Rows like those of an exported address list: names, numbers, dates, a few fields that need
// quoting (commas, quotes, line breaks) and some text beyond ASCII.
std::vector<std::vector<Text>> makeRows(std::size_t count)
{
    const Text names[] = {u"Alice", u"Bob", u"Jos\u00E9", u"\u5C71\u7530", u"Zo\u00EB", u"Mallory"};
    const Text notes[] = {u"", u"regular customer", u"says \"hello\"", u"Paris, France", u"line one\nline two",
                          u"no remarks at all, none"};
    std::mt19937 random(7);
    std::vector<std::vector<Text>> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto pick = [&](std::size_t n) { return random() % n; };
        rows.push_back({
            Text(u"ID-") + Text(std::u16string(std::to_string(100000 + i).begin(), std::to_string(100000 + i).end())),
            names[pick(6)],
            names[pick(6)] + u" " + names[pick(6)],
            u"2024-0" + Text(1, char16_t(u'1' + pick(9))) + u"-1" + Text(1, char16_t(u'0' + pick(10))),
            Text(1, char16_t(u'1' + pick(9))) + u"23.45",
            u"someone@example.org",
            notes[pick(6)],
            u"true",
        });
    }
    return rows;
}

void writeRowsIntoMemory(benchmark::State& state)
{
    const std::vector<std::vector<Text>> rows = makeRows(20000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto stream = std::make_shared<MemoryOutputStream>();
        CHCSVWriter writer(stream, NSUTF8StringEncoding, u',');
        for (const std::vector<Text>& row : rows)
            writer.writeLineOfFields(row);
        writer.closeStream();
        bytes += stream->bytes().size();
        benchmark::DoNotOptimize(stream->bytes().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(writeRowsIntoMemory)->Unit(benchmark::kMillisecond);

} // namespace
