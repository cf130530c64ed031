// The AVX2 kernels against plain loops on blocks with a special byte (or pair) at every position,
// and the scanners that use them giving the same results at every SIMD level there is.
#include "core/csv/detail/Utf8CSVReader.hpp"
#include "core/plist/detail/XmlTextScan.hpp"
#include "core/text/detail/Avx2Scans.hpp"
#include "core/text/detail/Simd.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace plistable;
using namespace plistable::detail;

namespace {

// Bytes the scanners stop at, or must not: CSV and XML specials, controls, high bytes, CR LF.
const std::vector<std::string> specials = {"\"", ",", ";", "\n", "\r", "\r\n", "\x0b", "\x0c", "\t", "\x09\x0a",
                                           std::string(1, '\0'), "\x1f", "\x7f", " ", "<", "&", ">", "]", "\x80",
                                           "\xbf", "\xc3\xa9", "\xef\xbf\xbe", "\xf0\x9f\x98\x80", "\xff"};

constexpr std::size_t blockBytes = 96;

// A run of letters with `special` at `position` (cut at the end).
std::string blockWith(const std::string& special, std::size_t position)
{
    std::string block(blockBytes, 'a');
    block.replace(position, std::min(special.size(), blockBytes - position), special.substr(0, blockBytes - position));
    return block;
}

const std::vector<SimdLevel> levels = {SimdLevel::Plain, SimdLevel::Sse2, SimdLevel::Avx2};

struct LevelGuard {
    ~LevelGuard() { chooseSimdLevel(); }
};

} // namespace

#if PLISTABLE_AVX2
TEST(SimdLevelsTest, Avx2KernelsMatchPlainLoops)
{
    if (setSimdLevel(SimdLevel::Avx2) != SimdLevel::Avx2)
        GTEST_SKIP() << "no AVX2 here";
    chooseSimdLevel();
    for (const std::string& special : specials) {
        for (std::size_t position = 0; position < blockBytes; ++position) {
            SCOPED_TRACE(testing::Message() << "special " << testing::PrintToString(special) << " at " << position);
            const std::string block = blockWith(special, position);
            const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
            std::uint64_t mask = 0;
            CsvByteCounts counts;
            for (std::size_t i = 0; i < 64; ++i) {
                const unsigned char c = bytes[i];
                if (c == '"' || c == ',' || (c >= 0x0A && c <= 0x0D))
                    mask |= std::uint64_t(1) << i;
                counts.lines += c >= 0x0A && c <= 0x0D && !(c == '\n' && i > 0 && bytes[i - 1] == '\r');
                counts.continuations += (c & 0xC0) == 0x80;
                counts.longLeads += c >= 0xF0;
            }
            EXPECT_EQ(csvEndTextMaskAvx2(block.data(), ','), mask);
            EXPECT_EQ(countByteAvx2(block.data(), 2, '"'), std::size_t(std::count(bytes, bytes + 64, '"')));
            const CsvByteCounts got = countCsvBytesAvx2(block.data(), 2);
            EXPECT_EQ(got.lines, counts.lines);
            EXPECT_EQ(got.continuations, counts.continuations);
            EXPECT_EQ(got.longLeads, counts.longLeads);
            for (const std::size_t end : {blockBytes, blockBytes - 6}) {
                const unsigned char* plainEnd = std::find_if(bytes, bytes + end, [](unsigned char c) {
                    return !plainXmlText[c];
                });
                EXPECT_EQ(skipPlainXmlTextAvx2(bytes, bytes + end), std::min(plainEnd, bytes + end / 32 * 32));
                const unsigned char* csvEnd = std::find_if(bytes, bytes + end, [](unsigned char c) {
                    return c >= 0x80 || (c >= 0x0A && c <= 0x0D) || c == '"' || c == ';';
                });
                EXPECT_EQ(skipPlainCsvAsciiAvx2(bytes, bytes + end, ';'), std::min(csvEnd, bytes + end / 32 * 32));
                const unsigned char* xmlEnd = std::find_if(bytes, bytes + end, [](unsigned char c) {
                    return c < 0x20 || c == '&' || c == '<' || c == '>' || c == 0xEF;
                });
                EXPECT_EQ(skipUnescapedXmlAvx2(bytes, bytes + end), std::min(xmlEnd, bytes + end / 32 * 32));
            }
        }
    }
}
#endif

TEST(SimdLevelsTest, LevelAskedForIsTheNearestThisBuildHas)
{
    // 128-bit blocks (SSE2, or NEON on aarch64) whenever they are compiled in, even when plain loops are asked
    // for; AVX2 only on x86-64 and only where the processor has it.
    LevelGuard restore;
    const SimdLevel blocks = PLISTABLE_SSE2 ? SimdLevel::Sse2 : SimdLevel::Plain;
    for (const SimdLevel wanted : levels) {
        SCOPED_TRACE(static_cast<int>(wanted));
        const SimdLevel got = setSimdLevel(wanted);
        if (wanted == SimdLevel::Avx2 && PLISTABLE_AVX2)
            EXPECT_TRUE(got == SimdLevel::Avx2 || got == SimdLevel::Sse2);
        else
            EXPECT_EQ(got, blocks);
        EXPECT_EQ(simdLevel(), got);
        EXPECT_EQ(useAvx2(), got == SimdLevel::Avx2);
    }
}

TEST(SimdLevelsTest, XmlTextScanStopsAtTheSameByteAtEveryLevel)
{
    LevelGuard restore;
    for (const SimdLevel level : levels) {
        SCOPED_TRACE(static_cast<int>(setSimdLevel(level)));
        for (const std::string& special : specials) {
            for (std::size_t position = 0; position < blockBytes; ++position) {
                const std::string block = blockWith(special, position);
                const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
                for (const std::size_t start : {std::size_t(0), std::size_t(1), std::size_t(17), std::size_t(33)}) {
                    for (const std::size_t end : {blockBytes, blockBytes - 1, std::size_t(70), std::size_t(50)}) {
                        const unsigned char* expected = std::find_if(bytes + start, bytes + end, [](unsigned char c) {
                            return !plainXmlText[c];
                        });
                        ASSERT_EQ(skipPlainXmlText(bytes + start, bytes + end), expected)
                            << testing::PrintToString(special) << " at " << position << ", from " << start << " to "
                            << end;
                        // The scan that also stops where a CSV field is quoted, for delimiters plain
                        // character data holds, and those it never holds.
                        for (const char delimiter : {',', ';', '\t', '"', ']', '\r', '\x80'}) {
                            const unsigned char* csvExpected =
                                std::find_if(bytes + start, bytes + end, [&](unsigned char c) {
                                    return !plainXmlText[c] || c == '\n' || c == '"' || c == static_cast<unsigned char>(delimiter);
                                });
                            ASSERT_EQ(skipPlainXmlCsvText(bytes + start, bytes + end, delimiter), csvExpected)
                                << testing::PrintToString(special) << " at " << position << ", delimiter "
                                << int(delimiter);
                        }
                    }
                }
            }
        }
    }
}

TEST(SimdLevelsTest, Utf8CsvReaderReadsTheSameAtEveryLevel)
{
    // Records of long plain and quoted fields (separators, CR LF, doubled quotes, multi-byte
    // characters) over many 64-byte blocks and windows, each text once whole and once with a fault.
    LevelGuard restore;
    const std::vector<std::string> pieces = {"abcdefghijklmnopqrstuvwxyz", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80",
                                             "\"q,\r\n\"\"x\"", ",", "\r\n", "\n", "\"\"", "0123456789"};
    const std::vector<std::string> faults = {"", "ab\"c", "\"open", "x\r\n\r\n\"\"\"y"};
    unsigned seed = 7;
    for (int text = 0; text < 12; ++text) {
        std::string csv;
        while (csv.size() < 3000) {
            seed = seed * 1103515245 + 12345;
            const std::string& piece = pieces[(seed >> 16) % pieces.size()];
            // Line breaks and separators only between fields, quoted pieces only whole fields.
            const bool fieldStart = csv.empty() || csv.back() == ',' || csv.back() == '\n';
            if (piece[0] == '"' && !fieldStart)
                csv += ',';
            csv += piece;
            if (piece[0] == '"')
                csv += (seed >> 8) & 1 ? "," : "\r\n";
        }
        csv += faults[text % faults.size()];
        SCOPED_TRACE(text);
        std::vector<std::vector<std::string>> first;
        CSVParseStop firstStop;
        for (const SimdLevel level : levels) {
            setSimdLevel(level);
            Utf8CSVReader reader([](std::string&) { return false; }, ',', text % 2 == 1, 700, csv);
            std::vector<std::vector<std::string>> records;
            reader.parseFieldsForReceiver([&](std::span<const std::string_view> fields) {
                records.emplace_back(fields.begin(), fields.end());
            });
            const CSVParseStop& stop = reader.lastParseStop();
            if (level == SimdLevel::Plain) {
                first = records;
                firstStop = stop;
                continue;
            }
            EXPECT_EQ(records, first);
            EXPECT_EQ(stop.complete, firstStop.complete);
            EXPECT_EQ(stop.line, firstStop.line);
            EXPECT_EQ(stop.offset, firstStop.offset);
            EXPECT_EQ(stop.records, firstStop.records);
            EXPECT_EQ(stop.firstSurplusLine, firstStop.firstSurplusLine);
        }
    }
}
