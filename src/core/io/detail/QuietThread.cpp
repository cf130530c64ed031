#include "core/io/detail/QuietThread.hpp"

#include <atomic>
#include <csignal>
#include <new>
#include <pthread.h>
#include <system_error>

namespace plistable::detail {
namespace {

std::atomic<bool> refuseStarts{false};

} // namespace

std::optional<std::thread> startQuietThread(std::function<void()> body)
{
    if (refuseStarts.load())
        return std::nullopt;
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::optional<std::thread> thread;
    try {
        thread.emplace(std::move(body));
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

void refuseThreadStartsForTesting(bool refuse)
{
    refuseStarts.store(refuse);
}

} // namespace plistable::detail
