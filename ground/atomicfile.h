#pragma once
// Replaces a file in one step, or not at all. The new contents go to a
// temporary file beside the old one; every write, the flush to disk and
// the close are checked, and only then is the temporary file renamed over
// the old one (and the directory synced). On any failure the temporary
// file is removed and the old file stays exactly as it was.
//
// (QSaveFile is not used: with a full disk its buffered writes fail
// unseen, and its commit still renames an empty file into place.)

#include <QByteArray>
#include <QString>

namespace tessaly {

class AtomicFile {
public:
    // Who may read the new file. `Private`: only its owner (0600), for files
    // holding passwords. `Shared`: the old file's mode, or 0666 less the
    // umask for a new one. An old file's stricter mode is always kept.
    enum class Access { Private, Shared };

    explicit AtomicFile(QString path, Access access = Access::Shared);
    ~AtomicFile(); // without a commit, the temporary file is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool open();
    // Writes all of `bytes`; false (and nothing more is written) on failure.
    bool write(const QByteArray& bytes);
    // Syncs, closes and renames into place.
    bool commit();
    // What failed, with the file's name.
    QString errorString() const { return error_; }
    // True when the failure was a full disk or an exhausted quota.
    bool diskFull() const { return diskFull_; }

    // open, write and commit in one.
    static bool Write(const QString& path, const QByteArray& bytes, Access access, QString* error);

private:
    bool fail(const QString& what, int errnum);
    void discard();

    QString path_;
    QString temp_;
    Access access_;
    int fd_ = -1;
    bool failed_ = false;
    bool diskFull_ = false;
    QString error_;
};

} // namespace tessaly
