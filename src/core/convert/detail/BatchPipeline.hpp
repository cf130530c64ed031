#pragma once

#include "core/io/detail/QuietThread.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace plistable::detail {

/// Hands batches of work from the thread that reads to a thread of its own that writes, in order,
/// so that reading and writing share the machine's cores. At most `maxQueued` batches wait; push()
/// blocks beyond that, so memory stays bounded by what the batches hold. The thread starts with
/// the first push(): a conversion that never fills one batch runs on the caller's thread alone, and
/// so does one whose thread the system would not start (each push() then consumes its batch).
/// A batch the consumer has taken comes back through push() to be filled again, keeping the storage
/// it grew; what it still holds is destroyed on the producer's thread, which is where it was made.
template <class Batch>
class BatchPipeline {
public:
    /// Takes one batch; what it leaves in it is the caller's to clear.
    using Consumer = std::function<void(Batch& batch)>;

    explicit BatchPipeline(Consumer consumer, std::size_t maxQueued = 2)
        : _consumer(std::move(consumer)), _maxQueued(maxQueued == 0 ? 1 : maxQueued)
    {
    }
    /// finish(), dropping an exception the consumer threw.
    ~BatchPipeline()
    {
        try {
            finish();
        } catch (...) {
        }
    }
    BatchPipeline(const BatchPipeline&) = delete;
    BatchPipeline& operator=(const BatchPipeline&) = delete;

    /// Queues `batch` for the consumer and returns a batch to fill next: one the consumer is done
    /// with when there is one, else a new one.
    Batch push(Batch&& batch)
    {
        if (!_thread.joinable() && !_alone) {
            if (std::optional<std::thread> started = startQuietThread([this] { run(); }))
                _thread = std::move(*started);
            else
                _alone = true;
        }
        if (_alone) {
            consume(batch);
            return std::move(batch);
        }
        std::unique_lock lock(_mutex);
        _changed.wait(lock, [this] { return _queue.size() < _maxQueued; });
        _queue.push_back(std::move(batch));
        Batch next;
        if (!_spares.empty()) {
            next = std::move(_spares.back());
            _spares.pop_back();
        }
        lock.unlock();
        _changed.notify_all();
        return next;
    }

    /// Hands `last` to the consumer after every queued batch (on this thread when none was pushed),
    /// waits until all are consumed and ends the thread. Throws what the consumer threw.
    void finish(Batch&& last = Batch())
    {
        if (!_thread.joinable()) {
            if (!_finished) {
                _finished = true;
                consume(last);
            }
            if (_failure)
                std::rethrow_exception(std::exchange(_failure, nullptr));
            return;
        }
        {
            std::lock_guard lock(_mutex);
            _queue.push_back(std::move(last));
            _finishing = true;
        }
        _changed.notify_all();
        _thread.join();
        _finished = true;
        if (_failure)
            std::rethrow_exception(std::exchange(_failure, nullptr));
    }

private:
    // On the consumer's thread, or the caller's without one.
    void consume(Batch& batch)
    {
        if (_failure)
            return;
        try {
            _consumer(batch);
        } catch (...) {
            _failure = std::current_exception(); // the rest is dropped; finish() rethrows
        }
    }

    void run()
    {
        std::unique_lock lock(_mutex);
        for (;;) {
            _changed.wait(lock, [this] { return !_queue.empty() || _finishing; });
            if (_queue.empty())
                return;
            Batch batch = std::move(_queue.front());
            _queue.pop_front();
            lock.unlock();
            consume(batch);
            lock.lock();
            _spares.push_back(std::move(batch));
            _changed.notify_all();
        }
    }

    Consumer _consumer;
    const std::size_t _maxQueued;
    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<Batch> _queue;
    std::vector<Batch> _spares; // consumed batches, to be filled again
    bool _finishing = false;
    bool _finished = false;
    bool _alone = false; // no thread could be started: the caller consumes
    std::exception_ptr _failure; // written by the consumer's thread, read after the join
    std::thread _thread;
};

} // namespace plistable::detail
