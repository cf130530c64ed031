#pragma once

#include <functional>
#include <thread>

namespace plistable::detail {

/// Starts `body` on a new thread with every signal blocked, so that a signal meant to interrupt the
/// caller's work (a handler that sets a stop flag) reaches the caller's thread, not this one.
std::thread startQuietThread(std::function<void()> body);

} // namespace plistable::detail
