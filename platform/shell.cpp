#include "platform/shell.h"

#include "ground/tessalyerror.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

namespace tessaly {

namespace {
QUrl targetUrl(const QString& target) {
    if (target.contains(QLatin1String("://")))
        return QUrl(target, QUrl::StrictMode);
    return QUrl::fromLocalFile(target);
}
} // namespace

bool DesktopShell::Open(const QString& target) {
    const QUrl url = targetUrl(target.trimmed());
    if (!url.isValid() || url.isEmpty())
        return false;
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile()))
        return false;
    // The desktop services need a GUI application; a run without a display
    // hands the address to xdg-open, percent-encoded as it came: decoding
    // would give the opener spaces, quotes and "$(...)" back.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromLatin1(url.toEncoded())});
}

void DesktopShell::StartProgram(const QString& path) {
    const QFileInfo info(path);
    if (path.trimmed().isEmpty() || !info.exists() || info.isDir())
        throw TessalyError(err::FileNotFound, QStringLiteral("File not found"));
    QProcess process;
    process.setProgram(info.absoluteFilePath());
    process.setWorkingDirectory(info.absolutePath());
    if (!process.startDetached()) {
        const QString reason = process.errorString();
        throw TessalyError(Shell::kCannotStart, QStringLiteral("Cannot start %1: %2")
                                                    .arg(info.absoluteFilePath(),
                                                         reason.isEmpty() ? QStringLiteral("unknown error") : reason));
    }
}

} // namespace tessaly
