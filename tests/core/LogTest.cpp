#include "core/Log.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace plistable;

namespace {

TEST(LogTest, CaptureTakesTheMessagesOfItsOwnThreadOnly)
{
    std::vector<std::string> sunk;
    const LogSink previous = setLogSink([&](std::string_view message) { sunk.emplace_back(message); });
    std::vector<std::string> captured, capturedElsewhere;
    EXPECT_EQ(captureLogOnThisThread(&captured), nullptr);
    log("one");
    std::thread([&] {
        log("from another thread"); // not captured there: goes to the sink
        std::vector<std::string>* none = captureLogOnThisThread(&capturedElsewhere);
        EXPECT_EQ(none, nullptr);
        log("elsewhere");
        captureLogOnThisThread(none);
    }).join();
    log("two");
    EXPECT_EQ(captureLogOnThisThread(nullptr), &captured);
    log("three");
    setLogSink(previous);
    EXPECT_EQ(captured, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(capturedElsewhere, (std::vector<std::string>{"elsewhere"}));
    EXPECT_EQ(sunk, (std::vector<std::string>{"from another thread", "three"}));
}

} // namespace
