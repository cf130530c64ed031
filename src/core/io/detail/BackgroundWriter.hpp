#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace plistable::detail {

/// Hands byte chunks to a sink on a thread of its own, in order, so that the thread producing
/// them goes on while the kernel copies the last ones. At most `maxQueued` chunks wait; push()
/// blocks beyond that, so memory stays bounded. Once the sink reports a failure, later chunks are
/// dropped. When the system gives no thread, push() writes each chunk itself, on the caller's thread.
class BackgroundWriter {
public:
    /// Writes one chunk; returns false on a failure (the sink remembers why).
    using Sink = std::function<bool(std::string_view chunk)>;

    explicit BackgroundWriter(Sink sink, std::size_t maxQueued = 4);
    /// finish(), if not done yet.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    /// Queues `chunk` and returns a buffer to fill next: a written chunk, its bytes and size as they
    /// were, when there is one, else an empty string.
    std::string push(std::string&& chunk);

    /// Waits until every queued chunk has reached the sink, then ends the thread.
    void finish();

    /// The sink has failed: the rest is dropped.
    bool failed() const;

private:
    void run();

    Sink _sink;
    const std::size_t _maxQueued;
    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<std::string> _queue;
    std::vector<std::string> _spares; // written chunks, to be filled again
    bool _finishing = false;
    std::atomic<bool> _failed = false; // read by the producer on every write, without the lock
    bool _alone = false;                // no thread could be started: push() writes
    std::thread _thread; // started last, once everything above is ready
};

} // namespace plistable::detail
