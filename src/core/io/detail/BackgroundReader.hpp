#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace plistable::detail {

/// Reads a descriptor ahead of its consumer on a thread of its own, so that the kernel copies the
/// next pieces while the consumer works on this one. At most `maxQueued` pieces of `pieceSize`
/// bytes wait, so memory stays bounded. Meant for regular files: the thread stops only between
/// reads. When the system gives no thread, next() reads each piece itself, on the caller's thread.
class BackgroundReader {
public:
    /// Starts reading `fd`, which stays the caller's and must stay open until this is destroyed.
    BackgroundReader(int fd, std::size_t pieceSize, std::size_t maxQueued = 4);
    /// Stops reading and waits for the thread.
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    /// Puts the next piece in `piece` (whose former bytes are taken back, to be filled again) and
    /// returns its size as readSome() does: bytes read, 0 at the end, -1 on an error with errno set.
    /// After the end or an error every call returns the same. `stop` is read between waits when the
    /// reading is done here, as readSome() reads it.
    ssize_t next(std::string& piece, const std::atomic<bool>* stop = nullptr);

private:
    struct Piece {
        std::string bytes;
        ssize_t size = 0;
        int error = 0;
    };
    void run();
    Piece readPiece(std::string buffer, const std::atomic<bool>* stop) const;

    const int _fd;
    const std::size_t _pieceSize;
    const std::size_t _maxQueued;
    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<Piece> _queue;
    std::vector<std::string> _spares; // pieces handed back, to be filled again
    bool _ended = false;              // the thread read the end or an error: nothing more comes
    bool _stopping = false;
    bool _alone = false; // no thread could be started: next() reads
    std::thread _thread; // started last, once everything above is ready
};

} // namespace plistable::detail
