// The real program against a real Dovecot and the modem simulator: a
// resident `tessly --headless` stopped and started again pages nothing the
// first run paged; two `tessly --check` started together page each message
// once; a relative profile path names a file in the folder tessly was
// started from.

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/modemsim.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QByteArray message(int n) {
    return QStringLiteral("Message-ID: <r%1@restart.test>\nFrom: ann@restart.test\nTo: me@restart.test\n"
                          "Subject: Note %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nBody %1\n")
        .arg(n)
        .toUtf8();
}

} // namespace

class TestCheckRestart : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;
    QString home, config, profile;

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }
    void startTessly(QProcess& p, const QStringList& args, const QString& workDir = QString()) {
        p.setProcessEnvironment(environment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (!workDir.isEmpty())
            p.setWorkingDirectory(workDir);
        p.start(QStringLiteral(TESSLY_BINARY), args);
    }
    static int finish(QProcess& p, QByteArray* output = nullptr) {
        if (!p.waitForFinished(300000)) {
            p.kill();
            p.waitForFinished();
        }
        if (output)
            *output += p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QByteArray stateFile() const {
        QFile f(home + QStringLiteral("/inbox-state.json"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Subjects of the pages the terminal accepted, in order.
    QStringList pagedSubjects() {
        QStringList out;
        for (const QString& page : sim.goodBlocks())
            out << page.mid(page.indexOf(QStringLiteral("|Subject:")) + 9);
        return out;
    }
    // Runs the resident program until its first scheduled check has written
    // a state file naming `id`, then stops it as a service manager would.
    bool residentRunUntilChecked(const QByteArray& id, QByteArray* output) {
        QProcess p;
        startTessly(p, {QStringLiteral("--headless")});
        if (!p.waitForStarted(10000))
            return false;
        QElapsedTimer t;
        t.start();
        // The first minute tick comes 60 s after the start.
        while (!stateFile().contains(id) && t.elapsed() < 150000 && p.state() == QProcess::Running)
            p.waitForReadyRead(500);
        const bool checked = stateFile().contains(id);
        p.terminate();
        return finish(p, output) == 0 && checked;
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty())
            QSKIP("python3 is needed for the modem simulator");
        const QTime now = QTime::currentTime();
        if (now > QTime(23, 50) || now < QTime(0, 5))
            QSKIP("the resident run needs a schedule window that does not cross midnight");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        QVERIFY(dovecot.deliverAll(QStringLiteral("work"), {message(1), message(2)}));
        QVERIFY(sim.start());

        home = dir.path() + QStringLiteral("/home");
        config = dir.path() + QStringLiteral("/config");
        profile = home + QStringLiteral("/restart.dat");
        QVERIFY(QDir().mkpath(home));
        writeE2eProfile(home, profile, dovecot.port(), 200, [](MainProgram& p) {
            // A schedule that is due at the first minute tick, every day.
            LiveSettings& s = p.Settings();
            s.scheduleEnabled = true;
            s.checkInterval = 60;
            s.startTime = QStringLiteral("12:01 am");
            s.stopTime = QStringLiteral("11:59 pm");
            for (int day = 1; day <= 7; ++day)
                s.weekdays[day] = true;
        });
        QVERIFY(writeE2eSettings(config + QStringLiteral("/tessaly/tessaly.ini"), profile, sim.device()));
    }

    void cleanupTestCase() {
        sim.stop();
        dovecot.stop();
    }

    void residentProgramRestartedPagesOnlyNewMail() {
        QByteArray out;
        QVERIFY2(residentRunUntilChecked("<r2@restart.test>", &out), out.constData());
        QCOMPARE(pagedSubjects(), (QStringList{QStringLiteral("note 1"), QStringLiteral("note 2")}));
        // Standard output says when the schedule checks next and that it stopped.
        QVERIFY2(QRegularExpression(QStringLiteral("tessly: next mail check: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d\n"))
                     .match(QString::fromLocal8Bit(out))
                     .hasMatch(),
                 out.constData());
        QVERIFY(out.contains("tessly: stopped (exit status 0)"));

        QVERIFY(dovecot.deliver(QStringLiteral("work"), message(3)));
        out.clear();
        QVERIFY2(residentRunUntilChecked("<r3@restart.test>", &out), out.constData());
        QCOMPARE(pagedSubjects(),
                 (QStringList{QStringLiteral("note 1"), QStringLiteral("note 2"), QStringLiteral("note 3")}));
    }

    void twoChecksAtOnceDeliverEachPageOnce() {
        QVERIFY(dovecot.deliverAll(QStringLiteral("work"), {message(4), message(5)}));
        QProcess first, second;
        startTessly(first, {QStringLiteral("--check")});
        startTessly(second, {QStringLiteral("--check")});
        QByteArray out;
        QCOMPARE(finish(first, &out), 0);
        QCOMPARE(finish(second, &out), 0);
        const QStringList pages = pagedSubjects();
        QVERIFY2(pages.size() == 5, qPrintable(pages.join(QLatin1Char(',')) + QString::fromLocal8Bit(out)));
        QCOMPARE(pages.count(QStringLiteral("note 4")), 1);
        QCOMPARE(pages.count(QStringLiteral("note 5")), 1);
    }

    void relativeProfileIsFoundWhereTesslyWasStarted() {
        const QString elsewhere = dir.path() + QStringLiteral("/elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::copy(profile, elsewhere + QStringLiteral("/my.dat")));
        QProcess p;
        startTessly(p, {QStringLiteral("--check"), QStringLiteral("my.dat")}, elsewhere);
        QByteArray out;
        QCOMPARE(finish(p, &out), 0);
        QVERIFY2(!out.contains("does not exist") && out.contains("Checking email in Work"), out.constData());
        QCOMPARE(pagedSubjects().size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestCheckRestart)
#include "test_check_restart.moc"
