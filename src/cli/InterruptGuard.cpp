#include "cli/InterruptGuard.hpp"

#include <cstring>

namespace plistable::cli {
namespace {

// The handler may only touch lock-free atomics (async-signal-safe) and call signal()/raise().
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<bool> interrupted = false;
std::atomic<int> firstSignal = 0;

extern "C" void onSignal(int signal)
{
    int none = 0;
    const bool first = firstSignal.compare_exchange_strong(none, signal);
    if (signal == SIGPIPE) {
        // The reader went away: every later write fails with EPIPE and comes here again, which
        // must not end the process before its temporary files are removed.
        interrupted.store(true);
        return;
    }
    if (!first) {
        // Asked twice: stop now, as the signal would have without us.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    interrupted.store(true);
}

} // namespace

InterruptGuard::InterruptGuard()
{
    interrupted.store(false);
    firstSignal.store(0);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a read blocked on a pipe returns EINTR and sees the flag
    for (std::size_t i = 0; i < std::size(handled); ++i)
        ::sigaction(handled[i], &action, &_previous[i]);
}

InterruptGuard::~InterruptGuard()
{
    for (std::size_t i = 0; i < std::size(handled); ++i)
        ::sigaction(handled[i], &_previous[i], nullptr);
}

const std::atomic<bool>* InterruptGuard::flag() const
{
    return &interrupted;
}

int InterruptGuard::signalNumber() const
{
    return firstSignal.load();
}

} // namespace plistable::cli
