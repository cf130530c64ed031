#include "cli/ProgressLine.hpp"

#include <gtest/gtest.h>

#include <sstream>

using plistable::cli::ProgressLine;
using namespace std::chrono_literals;

namespace {

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    ProgressLine::Clock function()
    {
        return [this] { return now; };
    }
};

TEST(ProgressLineTest, DrawsAtMostTenTimesASecondAndErasesTheLineWhenDone)
{
    std::ostringstream terminal;
    FakeClock clock;
    ProgressLine line(terminal, true, 1000, clock.function());
    line.begin("big.csv");
    clock.now += 1s;
    line.update(500, 2000);  // drawn: 500 bytes in a second
    clock.now += 50ms;
    line.update(600, 2000);  // too soon
    clock.now += 50ms;
    line.update(1000, 2000); // 100 ms after the last drawing
    line.end();
    line.end();              // nothing left to erase
    EXPECT_EQ(terminal.str(), "\rbig.csv:  25% 0.0 MB/s\x1b[K"
                              "\rbig.csv:  50% 0.0 MB/s\x1b[K"
                              "\r\x1b[K");
}

TEST(ProgressLineTest, DrawsNothingForSmallOrUnknownSizesOrWhenDisabled)
{
    struct Case {
        const char* name;
        bool enabled;
        std::uint64_t total;
    };
    const Case cases[] = {
        {"at the threshold", true, 1000},
        {"size unknown", true, 0},
        {"disabled", false, 1'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream terminal;
        FakeClock clock;
        {
            ProgressLine line(terminal, c.enabled, 1000, clock.function());
            line.begin("f");
            clock.now += 1s;
            line.update(10, c.total);
            line.end();
        }
        EXPECT_EQ(terminal.str(), "");
    }
}

TEST(ProgressLineTest, ALineLeftShownIsErasedWhenTheNextFileBeginsOrTheLineGoes)
{
    std::ostringstream terminal;
    FakeClock clock;
    {
        ProgressLine line(terminal, true, 0, clock.function());
        line.begin("a");
        clock.now += 2s;
        line.update(4'000'000, 8'000'000);
        line.begin("b");
        clock.now += 1s;
        line.update(3'000'000, 3'000'000);
    }
    EXPECT_EQ(terminal.str(), "\ra:  50% 2.0 MB/s\x1b[K\r\x1b[K\rb: 100% 3.0 MB/s\x1b[K\r\x1b[K");
}

} // namespace
