#include "core/io/detail/BackgroundReader.hpp"

#include "core/io/detail/FileDescriptor.hpp"
#include "core/io/detail/QuietThread.hpp"

#include <cerrno>
#include <optional>

namespace plistable::detail {

BackgroundReader::BackgroundReader(int fd, std::size_t pieceSize, std::size_t maxQueued)
    : _fd(fd), _pieceSize(pieceSize == 0 ? 1 : pieceSize), _maxQueued(maxQueued == 0 ? 1 : maxQueued)
{
    if (std::optional<std::thread> started = startQuietThread([this] { run(); }))
        _thread = std::move(*started);
    else
        _alone = true;
}

BackgroundReader::~BackgroundReader()
{
    {
        std::lock_guard lock(_mutex);
        _stopping = true;
    }
    _changed.notify_all();
    if (_thread.joinable())
        _thread.join();
}

BackgroundReader::Piece BackgroundReader::readPiece(std::string buffer, const std::atomic<bool>* stop) const
{
    Piece piece{std::move(buffer)};
    piece.bytes.resize(_pieceSize);
    piece.size = readSome(_fd, piece.bytes.data(), _pieceSize, stop);
    piece.error = piece.size < 0 ? errno : 0;
    return piece;
}

ssize_t BackgroundReader::next(std::string& piece, const std::atomic<bool>* stop)
{
    if (_alone) {
        Piece read = readPiece(std::move(piece), stop);
        piece = std::move(read.bytes);
        errno = read.error;
        return read.size;
    }
    std::unique_lock lock(_mutex);
    _changed.wait(lock, [this] { return !_queue.empty(); });
    Piece& front = _queue.front();
    const ssize_t size = front.size;
    const int error = front.error;
    if (size <= 0) {
        // The end or an error stays at the front, for every later call.
        lock.unlock();
        errno = error;
        return size;
    }
    if (!piece.empty() || piece.capacity() > 0)
        _spares.push_back(std::move(piece));
    piece = std::move(front.bytes);
    _queue.pop_front();
    lock.unlock();
    _changed.notify_all();
    errno = 0;
    return size;
}

void BackgroundReader::run()
{
    std::unique_lock lock(_mutex);
    while (!_ended) {
        _changed.wait(lock, [this] { return _queue.size() < _maxQueued || _stopping; });
        if (_stopping)
            return;
        std::string buffer;
        if (!_spares.empty()) {
            buffer = std::move(_spares.back());
            _spares.pop_back();
        }
        lock.unlock();
        Piece piece = readPiece(std::move(buffer), nullptr);
        lock.lock();
        _ended = piece.size <= 0;
        _queue.push_back(std::move(piece));
        _changed.notify_all();
    }
}

} // namespace plistable::detail
