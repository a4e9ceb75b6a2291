// `tessly --headless --check` with the update check on and the maker's
// server pointed at a local web server: the version notice goes to the
// activity log, once a day.

#include "state/appinfo.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "ground/textfmt.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/integration/peers.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

class TestVersionHeadless : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    RealEventPump pump_;
    PeerProcess server_;
    QString home_, config_, answers_;

    int runCheck(QByteArray* output) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home_);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config_);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--headless"), QStringLiteral("--check")});
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    }
    void setLastCheck(const QString& day) {
        IniSettingsStore ini(config_ + QStringLiteral("/tessaly/tessaly.ini"));
        ini.write(kAppTitle, kSettingsSection, QStringLiteral("Novaprobe"), day);
        QVERIFY(ini.lastWriteOk());
    }

private slots:
    void initTestCase() {
        home_ = dir_.filePath(QStringLiteral("home"));
        config_ = dir_.filePath(QStringLiteral("config"));
        answers_ = dir_.filePath(QStringLiteral("answers"));
        QVERIFY(QDir().mkpath(home_) && QDir().mkpath(answers_));
        const quint16 port = startHttpTestServer(server_, pump_, {QStringLiteral("--novaprobe"), answers_});
        QVERIFY2(port != 0, "the HTTP test server did not start");
        QFile page(answers_ + QStringLiteral("/version.txt"));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<!NEWVERSION>1.2.0000<!/NEWVERSION><!DOWNLOADURL>http://www.tessaly.net/tessaly/updates.html"
                   "<!/DOWNLOADURL><!MESSAGE>Checks over TLS.<!/MESSAGE><!BULLETIN#>0<!/BULLETIN#>");
        page.close();

        // A profile with a direct connection and one account, whose server
        // refuses: the check runs (with errors) after the version check.
        const QString profile = home_ + QStringLiteral("/version.dat");
        {
            VirtualEventPump vpump;
            ScriptedPrompter prompter;
            MemorySettingsStore store;
            store.write(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), QString());
            FakeSoundDevice sound;
            HeadlessMainView view(false);
            MainProgram p(PlatformServices{vpump, prompter, store, sound, home_, QSize(15360, 11520)}, view);
            p.Startup(QString());
            p.Settings().connectionType = ConnDirect;
            p.POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("127.0.0.1"), freePort(),
                                QStringLiteral("work"), QStringLiteral("w0rk"), true);
            p.SaveProfile(profile);
        }
        IniSettingsStore ini(config_ + QStringLiteral("/tessaly/tessaly.ini"));
        ini.write(kAppTitle, kSettingsSection, QStringLiteral("Defaultfile"), profile);
        ini.write(kAppTitle, kSettingsSection, QStringLiteral("CheckUpdates"), QStringLiteral("True"));
        ini.write(kAppTitle, kSettingsSection, QStringLiteral("UpdateServer"), QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY(ini.lastWriteOk());
    }

    void noticeOncePerDay() {
        const QString notice = QStringLiteral("Tessaly 1.1 has determined that a newer version is available for download.");
        const QString request = QStringLiteral("/cgi-bin/novaprobe.cgi?productid=") + kProductId +
                                QStringLiteral("&version=") + VersionString() + QLatin1Char('\n');
        QByteArray out;
        QCOMPARE(runCheck(&out), 1); // the account's server refused
        QString log = read(home_ + QStringLiteral("/activity.txt"));
        const QStringList expected{QStringLiteral("Internet: Connection established..."),
                                   QStringLiteral("Checking for version updates and bulletins..."),
                                   QStringLiteral("An updated version is available..."), notice,
                                   QStringLiteral("Your version: 1.1.0000, new version: 1.2.0000"),
                                   QStringLiteral("Download: http://www.tessaly.net/tessaly/updates.html"),
                                   QStringLiteral("Checks over TLS."), QStringLiteral("Checking email in Work")};
        qsizetype at = 0;
        for (const QString& line : expected) {
            at = log.indexOf(QStringLiteral("\r\n") + line + QLatin1Char(' '), at);
            QVERIFY2(at >= 0, qPrintable(line + QStringLiteral(" missing or out of order in:\n") + log));
        }
        QVERIFY(out.contains(notice.toLatin1())); // standard output too
        QCOMPARE(read(answers_ + QStringLiteral("/requests.log")), request);
        IniSettingsStore ini(config_ + QStringLiteral("/tessaly/tessaly.ini"));
        QCOMPARE(ini.read(kAppTitle, kSettingsSection, QStringLiteral("Novaprobe"), QString()),
                 formatDateMDY(QDate::currentDate()));

        // Again the same day, and with the last check yesterday: not asked.
        QCOMPARE(runCheck(&out), 1);
        setLastCheck(formatDateMDY(QDate::currentDate().addDays(-1)));
        QCOMPARE(runCheck(&out), 1);
        log = read(home_ + QStringLiteral("/activity.txt"));
        QCOMPARE(log.count(notice), 1);
        QCOMPARE(log.count(QStringLiteral("Internet: Connection established...")), 3);
        QCOMPARE(read(answers_ + QStringLiteral("/requests.log")), request);

        // The day before yesterday: due again.
        setLastCheck(formatDateMDY(QDate::currentDate().addDays(-2)));
        QCOMPARE(runCheck(&out), 1);
        QCOMPARE(read(home_ + QStringLiteral("/activity.txt")).count(notice), 2);
        QCOMPARE(read(answers_ + QStringLiteral("/requests.log")), request + request);
    }
};

QTEST_GUILESS_MAIN(TestVersionHeadless)
#include "test_version_headless.moc"
