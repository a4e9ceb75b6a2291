#include "ground/atomicfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tessaly {

namespace {
mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The mode for the new file: see AtomicFile::Access.
mode_t modeFor(const QByteArray& path, AtomicFile::Access access) {
    struct stat old {};
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (access == AtomicFile::Access::Private) {
        // Owner only; an old file that its owner may not even write stays so.
        const mode_t owner = exists ? (old.st_mode & 0600) : 0;
        return owner != 0 ? owner : 0600;
    }
    return exists ? (old.st_mode & 0777) : mode_t(0666 & ~currentUmask());
}

void syncDirectory(const QString& file) {
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // not all file systems sync directories; the rename is done either way
        ::close(fd);
    }
}
} // namespace

AtomicFile::AtomicFile(QString path, Access access) : path_(std::move(path)), access_(access) {}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::fail(const QString& what, int errnum) {
    failed_ = true;
    diskFull_ = errnum == ENOSPC || errnum == EDQUOT || errnum == EFBIG;
    error_ = QStringLiteral("%1 %2: %3").arg(what, path_, QString::fromLocal8Bit(std::strerror(errnum)));
    discard();
    return false;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlink(QFile::encodeName(temp_).constData());
        temp_.clear();
    }
}

bool AtomicFile::open() {
    discard();
    failed_ = false;
    diskFull_ = false;
    error_.clear();
    const QByteArray target = QFile::encodeName(path_);
    const mode_t mode = modeFor(target, access_);
    QByteArray name = target + ".XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        return fail(QStringLiteral("Cannot create a temporary file for"), errno);
    temp_ = QFile::decodeName(name);
    if (::fchmod(fd_, mode) != 0)
        return fail(QStringLiteral("Cannot set the permissions of"), errno);
    return true;
}

bool AtomicFile::write(const QByteArray& bytes) {
    if (failed_ || fd_ < 0)
        return false;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("Cannot write"), n < 0 ? errno : ENOSPC);
        p += n;
        left -= n;
    }
    return true;
}

bool AtomicFile::commit() {
    if (failed_ || fd_ < 0)
        return false;
    if (::fsync(fd_) != 0)
        return fail(QStringLiteral("Cannot flush"), errno);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        return fail(QStringLiteral("Cannot close"), errno);
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(path_).constData()) != 0)
        return fail(QStringLiteral("Cannot replace"), errno);
    temp_.clear();
    syncDirectory(path_);
    return true;
}

bool AtomicFile::Write(const QString& path, const QByteArray& bytes, Access access, QString* error) {
    AtomicFile file(path, access);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace tessaly
