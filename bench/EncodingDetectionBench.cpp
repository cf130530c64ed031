// detectEncoding on realistic UTF-8 (mostly ASCII with some Japanese), on Shift_JIS, and on text that
// falls through to Mac OS Roman. Target: >= 1 GB/s on UTF-8.
#include "core/text/EncodingDetection.hpp"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

std::string makeText(std::size_t size, const std::string& japanese, const std::string& odd)
{
    std::mt19937 random(20261207);
    const char* words[] = {"apple", "pear", "river", "stone", "2026-12-07", "12345", "\"quoted, text\"", "cloud"};
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        for (int column = 0; column < 10; ++column) {
            text += random() % 20 == 0 ? japanese : words[random() % 8];
            text += column == 9 ? '\n' : ',';
        }
    }
    text += odd;
    return text;
}

void detect(benchmark::State& state, const std::string& text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(plistable::detectEncoding(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_DetectUtf8(benchmark::State& state)
{
    static const std::string text = makeText(16 << 20, "\xE6\x9D\xB1\xE4\xBA\xAC", "");
    detect(state, text);
}
BENCHMARK(BM_DetectUtf8)->Unit(benchmark::kMillisecond);

void BM_DetectShiftJis(benchmark::State& state)
{
    static const std::string text = makeText(16 << 20, "\x93\x8C\x8B\x9E", "");
    detect(state, text);
}
BENCHMARK(BM_DetectShiftJis)->Unit(benchmark::kMillisecond);

void BM_DetectMacOsRoman(benchmark::State& state)
{
    static const std::string text = makeText(16 << 20, "caf\xE9", "\x93");
    detect(state, text);
}
BENCHMARK(BM_DetectMacOsRoman)->Unit(benchmark::kMillisecond);

} // namespace
