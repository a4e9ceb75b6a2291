#include "platform/programdir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace tessaly {

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
    QDirIterator it(QStringLiteral(":/shipped"), QDir::Files);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = directory + QLatin1Char('/') + it.fileName();
        if (QFile::exists(target))
            continue;
        if (!QFile::copy(source, target))
            return QStringLiteral("Cannot copy %1 into %2").arg(it.fileName(), directory);
        // Resource files are read-only; the user's copy must be writable.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    }
    return {};
}

} // namespace tessaly
