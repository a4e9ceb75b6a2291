#include "platform/desktopshell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tessaly {

bool SystemDesktopShell::OpenDocument(const QString& path) {
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists())
        return false;
    const QString absolute = file.absoluteFilePath();
    // QDesktopServices needs the GUI's platform services.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !opener.isEmpty() && QProcess::startDetached(opener, {absolute});
}

} // namespace tessaly
