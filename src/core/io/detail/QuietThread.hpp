#pragma once

#include <functional>
#include <optional>
#include <thread>

namespace plistable::detail {

/// Starts `body` on a new thread with every signal blocked, so that a signal meant to interrupt the
/// caller's work (a handler that sets a stop flag) reaches the caller's thread, not this one.
/// Nothing, with `body` not run, when the system gives no thread (std::thread's std::system_error,
/// as with too many threads or too little address space, or std::bad_alloc): the caller does the
/// work itself or fails it, and never ends the process over it.
std::optional<std::thread> startQuietThread(std::function<void()> body);

/// For tests: while `refuse` is true, startQuietThread() gives nothing, as when the system has no
/// thread to give. Affects every thread of the process.
void refuseThreadStartsForTesting(bool refuse);

} // namespace plistable::detail
