#include "core/io/detail/QuietThread.hpp"

#include <csignal>
#include <pthread.h>

namespace plistable::detail {

std::thread startQuietThread(std::function<void()> body)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

} // namespace plistable::detail
