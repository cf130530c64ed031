#pragma once

#include <functional>
#include <string_view>

namespace plistable {

/// Receives one log message (without a line end).
using LogSink = std::function<void(std::string_view message)>;

/// Writes one message as one line to the current sink (standard error unless replaced).
void log(std::string_view message);

/// Replaces the sink and returns the previous one; an empty function restores standard error.
/// Meant for tests and for front ends that show messages themselves; not thread-safe against log().
LogSink setLogSink(LogSink sink);

} // namespace plistable
