#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// Receives one log message (without a line end).
using LogSink = std::function<void(std::string_view message)>;

/// Hands one message to the current sink; without one (the default) the message is dropped.
void log(std::string_view message);

/// A sink for programs: writes the message and a line end to standard error in one write.
void logToStandardError(std::string_view message);

/// Makes log() on the calling thread append its messages to `*into` instead of handing them to the
/// sink (nullptr: to the sink again); returns the previous target. Lets work done on other threads
/// be logged later, in the order a single thread would have logged it.
std::vector<std::string>* captureLogOnThisThread(std::vector<std::string>* into);

/// Replaces the sink and returns the previous one; an empty function makes logging silent again.
/// Meant for tests and for front ends that show messages themselves; not thread-safe against log().
LogSink setLogSink(LogSink sink);

} // namespace plistable
