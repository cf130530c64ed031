#include "core/Log.hpp"

#include <cstdio>
#include <string>
#include <utility>

namespace plistable {
namespace {

LogSink& currentSink()
{
    static LogSink sink;
    return sink;
}

thread_local std::vector<std::string>* capturedLog = nullptr;

} // namespace

void log(std::string_view message)
{
    if (capturedLog) {
        capturedLog->emplace_back(message);
        return;
    }
    // A library prints nothing of its own accord: without a sink the message is dropped.
    if (const LogSink& sink = currentSink())
        sink(message);
}

void logToStandardError(std::string_view message)
{
    // One write per line, so lines of concurrent processes sharing stderr do not interleave.
    std::string line(message);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::vector<std::string>* captureLogOnThisThread(std::vector<std::string>* into)
{
    return std::exchange(capturedLog, into);
}

LogSink setLogSink(LogSink sink)
{
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace plistable
