#pragma once
// An advisory lock on a file (flock), shared by every process that opens the
// same path: one holder at a time. The lock file itself is created when
// missing and left in place; only the lock on it comes and goes. A lock held
// by a process that ends is released by the system.

#include <QString>
#include <utility>

namespace tessaly {

class EventPump;

class FileLock {
public:
    explicit FileLock(QString path) : path_(std::move(path)) {}
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock if nobody holds it; never blocks. False when another
    // holder has it or the file cannot be opened (then Error() says why).
    bool TryLock();
    // Tries until the lock is taken, `seconds` have passed or *cancel is set,
    // sleeping in the event loop between tries.
    bool Lock(EventPump& pump, double seconds, const bool* cancel);
    void Unlock();
    bool Held() const { return fd_ >= 0; }
    QString Path() const { return path_; }
    // Why the last try failed: empty when the lock was merely taken by another.
    QString Error() const { return error_; }

private:
    QString path_;
    QString error_;
    int fd_ = -1;
};

} // namespace tessaly
