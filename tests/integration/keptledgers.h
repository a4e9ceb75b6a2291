#pragma once
// The page ledgers an end-to-end test leaves behind, for bench/page_delays.py.
// With TESSALY_KEEP_LEDGERS=DIR in the environment, every page-ledger.jsonl
// under the test's temporary folder is copied, when the test object goes, to
// DIR/<test program>/<program home>/page-ledger.jsonl (a copy from an earlier
// run there is replaced). Without the variable nothing is kept. Declared
// right after the temporary folder, it goes after the programs the test
// started and before the folder.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtGlobal>

namespace tessaly::testing {

class KeptLedgers {
public:
    explicit KeptLedgers(const QTemporaryDir& root) : root_(root) {}
    KeptLedgers(const KeptLedgers&) = delete;
    KeptLedgers& operator=(const KeptLedgers&) = delete;
    ~KeptLedgers() { keep(); }

private:
    void keep() const {
        const QString to = qEnvironmentVariable("TESSALY_KEEP_LEDGERS");
        if (to.isEmpty() || !root_.isValid())
            return;
        const QString test = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        const QDir root(root_.path());
        QDirIterator it(root_.path(), {QStringLiteral("page-ledger.jsonl")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString ledger = it.next();
            QString home = root.relativeFilePath(QFileInfo(ledger).path());
            if (home == QLatin1String("."))
                home = QStringLiteral("home");
            const QString dir = QDir(to).filePath(test + QLatin1Char('/') + home);
            const QString copy = dir + QStringLiteral("/page-ledger.jsonl");
            QFile::remove(copy);
            if (!QDir().mkpath(dir) || !QFile::copy(ledger, copy))
                qWarning("page ledger %s not kept in %s", qPrintable(ledger), qPrintable(dir));
        }
    }

    const QTemporaryDir& root_;
};

} // namespace tessaly::testing
