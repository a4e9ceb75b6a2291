// End to end: a remote command message in a real Dovecot mailbox switches
// paging off, sets the check interval and saves; after `tessly --check` the
// profile on disk differs from before in exactly those two values.

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/modemsim.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

class TestRemoteE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void remoteMessageChangesAndSavesTheProfile() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty())
            QSKIP("python3 is needed for the modem simulator");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        QVERIFY(dovecot.deliver(QStringLiteral("work"),
                                "Message-ID: <remote1@e2e.test>\nFrom: owner@e2e.test\nTo: tester@e2e.test\n"
                                "Subject:  Tessaly Remote \nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\n"
                                "password:Tulip9\nstop: paging\nchange: frequency, 10\nsave\n"));
        QVERIFY(sim.start());
        const QString home = dir.path() + QStringLiteral("/home");
        const QString config = dir.path() + QStringLiteral("/config");
        const QString profile = home + QStringLiteral("/remote.dat");
        const QString expected = dir.path() + QStringLiteral("/expected.dat");
        QVERIFY(QDir().mkpath(home));

        // The profile as it is, and as it should be afterwards, both written
        // by the program's own profile writer.
        auto remoteProfile = [](bool paging, int interval) {
            return [=](MainProgram& p) {
                LiveSettings& s = p.Settings();
                s.pagingEnabled = paging;
                s.checkInterval = static_cast<std::int16_t>(interval);
                s.remoteControlEnabled = true;
                s.remotePassword = QStringLiteral("Tulip9");
            };
        };
        writeE2eProfile(home, profile, dovecot.port(), 200, remoteProfile(true, 45));
        writeE2eProfile(home, expected, dovecot.port(), 200, remoteProfile(false, 10));
        QVERIFY(read(profile) != read(expected));
        QVERIFY(writeE2eSettings(config + QStringLiteral("/tessaly/tessaly.ini"), profile, sim.device()));

        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--check")});
        QVERIFY(run.waitForFinished(180000));
        const QByteArray out = run.readAll();
        QVERIFY2(run.exitCode() == 0, out.constData());

        QCOMPARE(read(profile), read(expected));
        const QString log = QString::fromLatin1(read(home + QStringLiteral("/activity.txt")));
        for (const char* line : {"Password Accepted", "Paging Disabled", "Frequency Changed to 10", "File Saved"})
            QVERIFY2(log.contains(QStringLiteral("Remote Command: ") + QLatin1String(line)), qPrintable(log));
        // The password shows nowhere the program writes.
        QVERIFY(!log.contains(QStringLiteral("Tulip9")));
        QVERIFY(!out.contains("Tulip9"));
        // The page for the message went out without it too.
        QCOMPARE(sim.goodBlocks().size(), 1);
        QVERIFY(!sim.goodBlocks().first().contains(QStringLiteral("Tulip9")));
        sim.stop();
        dovecot.stop();
    }
};

QTEST_GUILESS_MAIN(TestRemoteE2E)
#include "test_remote_e2e.moc"
