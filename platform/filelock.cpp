#include "platform/filelock.h"

#include "platform/eventpump.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tessaly {

namespace {
// How often a waiting Lock() looks again.
constexpr double kRetrySeconds = 0.25;
} // namespace

bool FileLock::TryLock() {
    if (fd_ >= 0)
        return true;
    error_.clear();
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK)
            error_ = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool FileLock::Lock(EventPump& pump, double seconds, const bool* cancel) {
    const QDateTime deadline = pump.now().addMSecs(static_cast<qint64>(seconds * 1000));
    for (;;) {
        if (TryLock())
            return true;
        if (!error_.isEmpty() || (cancel && *cancel) || pump.now() >= deadline)
            return false;
        pump.pause(kRetrySeconds, cancel);
    }
}

void FileLock::Unlock() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace tessaly
