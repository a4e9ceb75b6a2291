#include "platform/programdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace tessaly {

namespace {
bool sameContent(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    return fa.readAll() == fb.readAll();
}
} // namespace

QString shippedFilesRoot() {
    if (QCoreApplication::instance()) {
        const QString installed =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String("/" TESSALY_SHARE_FROM_BIN));
        if (QFileInfo::exists(installed + QLatin1String("/DEFAULT.dat")))
            return installed;
    }
    return QStringLiteral(":/shipped");
}

QString programDirectory() {
    QString home = qEnvironmentVariable("TESSALY_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(QDir(home).absolutePath());
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QLatin1String("/.local/share");
    return QDir::cleanPath(data + QLatin1String("/tessaly"));
}

QString prepareProgramDirectory(const QString& directory) {
    if (!QDir().mkpath(directory))
        return QStringLiteral("Cannot create the program directory %1").arg(directory);
    const QString root = shippedFilesRoot();
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString relative = QDir(root).relativeFilePath(source);
        const QString target = directory + QLatin1Char('/') + relative;
        const bool programOwned = relative.startsWith(QLatin1String("manual/"));
        if (QFile::exists(target)) {
            if (!programOwned || sameContent(source, target))
                continue;
            QFile::remove(target);
        }
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(source, target))
            return QStringLiteral("Cannot copy %1 into %2").arg(relative, directory);
        // Resource files are read-only; the user's copy must be writable.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    return {};
}

} // namespace tessaly
