#pragma once

#include <functional>
#include <string_view>

namespace plistable {

/// Receives one log message (without a line end).
using LogSink = std::function<void(std::string_view message)>;

/// Hands one message to the current sink; without one (the default) the message is dropped.
void log(std::string_view message);

/// A sink for programs: writes the message and a line end to standard error in one write.
void logToStandardError(std::string_view message);

/// Replaces the sink and returns the previous one; an empty function makes logging silent again.
/// Meant for tests and for front ends that show messages themselves; not thread-safe against log().
LogSink setLogSink(LogSink sink);

} // namespace plistable
