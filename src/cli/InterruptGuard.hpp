#pragma once

#include <atomic>
#include <csignal>

namespace plistable::cli {

/// While one lives, SIGINT, SIGTERM, SIGHUP and SIGPIPE no longer end the process: the first of them
/// sets flag() (which a conversion reads as its cancel option) and is remembered, and a blocked read
/// returns (the handlers are installed without SA_RESTART). A second SIGINT, SIGTERM or SIGHUP ends
/// the process at once, as the signal would have; SIGPIPE never does (writes then fail with EPIPE). One guard at a time; the handlers before it come back when it goes.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    /// Reads true once a signal came.
    const std::atomic<bool>* flag() const;

    /// The signal that came first, or 0.
    int signalNumber() const;

private:
    struct sigaction _previous[4];
};

} // namespace plistable::cli
