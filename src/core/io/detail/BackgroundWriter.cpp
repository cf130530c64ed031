#include "core/io/detail/BackgroundWriter.hpp"

#include "core/io/detail/QuietThread.hpp"

namespace plistable::detail {

BackgroundWriter::BackgroundWriter(Sink sink, std::size_t maxQueued)
    : _sink(std::move(sink)), _maxQueued(maxQueued == 0 ? 1 : maxQueued)
{
    // Without a thread every chunk is written by push() itself: slower, never lost.
    if (std::optional<std::thread> started = startQuietThread([this] { run(); }))
        _thread = std::move(*started);
    else
        _alone = true;
}

BackgroundWriter::~BackgroundWriter()
{
    finish();
}

std::string BackgroundWriter::push(std::string&& chunk)
{
    if (_alone) {
        if (!_failed && !_sink(chunk))
            _failed = true;
        return std::move(chunk);
    }
    std::unique_lock lock(_mutex);
    _changed.wait(lock, [this] { return _queue.size() < _maxQueued || _failed; });
    if (!_failed)
        _queue.push_back(std::move(chunk));
    std::string next;
    if (!_spares.empty()) {
        next = std::move(_spares.back());
        _spares.pop_back();
    }
    lock.unlock();
    _changed.notify_all();
    return next;
}

void BackgroundWriter::finish()
{
    {
        std::lock_guard lock(_mutex);
        if (_finishing && !_thread.joinable())
            return;
        _finishing = true;
    }
    _changed.notify_all();
    if (_thread.joinable())
        _thread.join();
}

bool BackgroundWriter::failed() const
{
    return _failed.load(std::memory_order_relaxed);
}

void BackgroundWriter::run()
{
    std::unique_lock lock(_mutex);
    for (;;) {
        _changed.wait(lock, [this] { return !_queue.empty() || _finishing; });
        if (_queue.empty())
            return; // finishing, and everything is written
        std::string chunk = std::move(_queue.front());
        _queue.pop_front();
        const bool drop = _failed;
        lock.unlock();
        const bool ok = drop || _sink(chunk);
        lock.lock();
        if (!ok)
            _failed = true;
        // The producer fills it again instead of allocating: memory the process has not touched
        // yet costs a page fault per page.
        if (_spares.size() <= _maxQueued)
            _spares.push_back(std::move(chunk));
        _changed.notify_all();
    }
}

} // namespace plistable::detail
