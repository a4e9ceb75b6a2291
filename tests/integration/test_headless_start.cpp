// The real program, started without windows in a fresh program directory.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestHeadlessStart : public QObject {
    Q_OBJECT

    // Starts tessly, waits for its greeting on standard output, stops it with SIGTERM.
    QByteArray runOnce(const QString& home, const QStringList& args = {QStringLiteral("--headless")}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        if (!p.waitForStarted(10000))
            return "<did not start>";
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains("Tessaly started on") && t.elapsed() < 30000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        p.terminate();
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
        }
        out += p.readAllStandardOutput();
        exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return out;
    }
    int exitCode = -2;

private slots:
    void startsWritesLogAndRollsItOver() {
        QTemporaryDir dir;
        const QString home = dir.path() + QStringLiteral("/home"); // created by the program
        const QByteArray out = runOnce(home);
        QVERIFY2(out.contains("Tessaly started on"), out.constData());
        QCOMPARE(exitCode, 0); // SIGTERM ends it cleanly, and says so
        QVERIFY2(out.contains("tessly: stopped (exit status 0)\n"), out.constData());

        QFile log(home + QStringLiteral("/activity.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray first = log.readAll();
        log.close();
        const QRegularExpression line(QStringLiteral(
            "^Tessaly started on \\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d{2}:\\d{2} (AM|PM)\r\n$"));
        QVERIFY2(line.match(QString::fromLatin1(first)).hasMatch(), first.constData());

        runOnce(home);
        QFile old(home + QStringLiteral("/activity.old"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), first);
        QVERIFY(QFile::exists(home + QStringLiteral("/activity.txt")));
    }

    void helpNamesTheOptions() {
        QProcess p;
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("--headless"));
    }
};

QTEST_GUILESS_MAIN(TestHeadlessStart)
#include "test_headless_start.moc"
