// End to end, `tessly --check` against real Dovecot mailboxes: a remote
// command message from the allowed sender, read over TLS, switches paging
// off, sets the check interval and saves; and the messages an outsider
// could send (a stranger, no password, guessing, a copy, an old date, "run"
// outside the run folder or of a URL, a mailbox read in clear) run nothing.
// "run" goes to a stand-in xdg-open on the PATH that notes what it was given.

#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "state/mailsecurity.h"
#include "state/remotesafety.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/modemsim.h"
#include "tests/integration/testcerts.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

const QString kOwner = QStringLiteral("owner@e2e.test");
const QString kPassword = QStringLiteral("Tulip9");

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A command message dated `age` seconds before now.
QByteArray commandMail(const QString& id, const QString& from, qint64 age, const QString& body) {
    const QString date = QDateTime::currentDateTimeUtc().addSecs(-age).toString(Qt::RFC2822Date);
    return QStringLiteral("Message-ID: <%1@e2e.test>\nFrom: %2\nTo: tester@e2e.test\nSubject: Tessaly Remote\n"
                          "Date: %3\n\n%4")
        .arg(id, from, date, body)
        .toUtf8();
}

} // namespace

class TestRemoteE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    TestCertificates certs;
    DovecotServer secure; // STLS on its plain port
    DovecotServer plain;  // no TLS at all
    QStringList users;

    struct Run {
        QString home, profile, log, marker, runFolder;
        QByteArray output;
        int exitCode = -1;
    };

    // A program directory with a profile reading `user` (remote control on,
    // paging off unless `paging`), the settings file naming the allowed
    // sender, the run folder and the account's security, and a stand-in
    // xdg-open. Runs one check.
    Run check(const QString& name, const QString& user, bool tls, const QString& security, const QString& password,
              const std::function<void(MainProgram&)>& adjust = {}, const QString& device = {}) {
        Run r;
        const QString base = dir.path() + QLatin1Char('/') + name;
        r.home = base + QStringLiteral("/home");
        r.profile = r.home + QStringLiteral("/remote.dat");
        r.log = r.home + QStringLiteral("/activity.txt");
        r.marker = base + QStringLiteral("/opened.txt");
        r.runFolder = base + QStringLiteral("/run");
        const QString bin = base + QStringLiteral("/bin");
        const QString config = base + QStringLiteral("/config");
        for (const QString& d : {r.home, r.runFolder, bin})
            QDir().mkpath(d);
        writeFile(r.runFolder + QStringLiteral("/in side.sh"), "#!/bin/sh\n");
        writeFile(base + QStringLiteral("/outside.sh"), "#!/bin/sh\n");
        QFile::link(base + QStringLiteral("/outside.sh"), r.runFolder + QStringLiteral("/link.sh"));
        writeFile(bin + QStringLiteral("/xdg-open"),
                  QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '%1'\n").arg(r.marker).toUtf8());
        QFile::setPermissions(bin + QStringLiteral("/xdg-open"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        writeE2eProfile(r.home, r.profile, tls ? secure.port() : plain.port(), 200, [&](MainProgram& p) {
            LiveSettings& s = p.Settings();
            s.pagingEnabled = !device.isEmpty();
            s.checkInterval = 45;
            s.remoteControlEnabled = true;
            s.remotePassword = password;
            s.messageSizeLimit = 200; // kilobytes: the long guessing message is read whole
            CPOPAccount& account = p.POPAccounts().Item(1);
            account.SetUsername(user);
            // The certificate names "localhost".
            account.SetServer(tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"));
            if (adjust)
                adjust(p);
        });
        const QString ini = config + QStringLiteral("/tessaly/tessaly.ini");
        if (!writeE2eSettings(ini, r.profile, device.isEmpty() ? QStringLiteral("/dev/null") : device))
            return r;
        {
            IniSettingsStore store(ini);
            WritePopSecurity(store, QStringLiteral("Work"), SecurityFromText(security));
            MailSecurity mail = LoadMailSecurity(store);
            mail.caFile = certs.ca();
            SaveMailSecurity(store, mail);
            SaveRemoteSafety(store, RemoteSafety{{kOwner}, r.runFolder});
        }
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), r.home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--check")});
        if (!run.waitForFinished(180000))
            return r;
        r.output = run.readAll();
        r.exitCode = run.exitCode();
        return r;
    }

    // The lines the stand-in opener was given, once it has had a moment to
    // start (it is started detached).
    QStringList opened(const Run& r, int expected) {
        pump.waitUntil([&] { return read(r.marker).count('\n') >= qMax(expected, 1); }, expected ? 10 : 1, nullptr);
        return QString::fromUtf8(read(r.marker)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        QVERIFY(certs.make());
        QHash<QString, QString> accounts;
        for (int i = 1; i <= 16; ++i)
            accounts.insert(QStringLiteral("u%1").arg(i), QStringLiteral("w0rk"));
        accounts.insert(QStringLiteral("work"), QStringLiteral("w0rk"));
        QVERIFY(secure.start(pump, accounts, certs.serverCert(), certs.serverKey()));
        QVERIFY(plain.start(pump, accounts));
    }
    void cleanupTestCase() {
        secure.stop();
        plain.stop();
    }

    void remoteMessageChangesAndSavesTheProfile() {
        if (ModemSimulator::python().isEmpty())
            QSKIP("python3 is needed for the modem simulator");
        ModemSimulator sim;
        QVERIFY(sim.start());
        QVERIFY(secure.deliver(QStringLiteral("work"),
                               commandMail(QStringLiteral("remote1"), QStringLiteral("Owner <owner@e2e.test>"), 60,
                                           QStringLiteral("password:Tulip9\nstop: paging\nchange: frequency, 10\nsave\n"))));
        // The profile as it should be afterwards, written by the program's own
        // writer (in a directory of its own: a start turns the log over).
        const QString expectedHome = dir.path() + QStringLiteral("/expected");
        const QString expected = expectedHome + QStringLiteral("/expected.dat");
        QVERIFY(QDir().mkpath(expectedHome));
        writeE2eProfile(expectedHome, expected, secure.port(), 200, [](MainProgram& p) {
            LiveSettings& s = p.Settings();
            s.pagingEnabled = false;
            s.checkInterval = 10;
            s.remoteControlEnabled = true;
            s.remotePassword = kPassword;
            s.messageSizeLimit = 200;
            p.POPAccounts().Item(1).SetServer(QStringLiteral("localhost"));
        });
        const Run r = check(QStringLiteral("saves"), QStringLiteral("work"), true, QStringLiteral("STARTTLS required"),
                            kPassword, {}, sim.device());
        QVERIFY2(r.exitCode == 0, r.output.constData());
        QCOMPARE(read(r.profile), read(expected));
        const QString log = QString::fromLatin1(read(r.log));
        for (const char* line : {"Password Accepted", "Paging Disabled", "Frequency Changed to 10", "File Saved"})
            QVERIFY2(log.contains(QStringLiteral("Remote Command: ") + QLatin1String(line)),
                     qPrintable(log + QString::fromLocal8Bit(r.output)));
        // The password shows nowhere the program writes.
        QVERIFY(!log.contains(kPassword));
        QVERIFY(!r.output.contains(kPassword.toLatin1()));
        // The page for the message went out without it too.
        QCOMPARE(sim.goodBlocks().size(), 1);
        QVERIFY(!sim.goodBlocks().first().contains(kPassword));
        sim.stop();
    }

    // Each row: the messages in the mailbox ("From|age in seconds|body"; a
    // "*" repeats the one before under a new Message-ID), the mailbox
    // (TLS or not, the account's security), the stored password, the lines
    // the log must hold (RUN: the run folder), and how many times "run"
    // reached the opener. Every command body ends in "change" and "save",
    // which must not have happened unless `obeyed`.
    void outsidersRunNothing_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("security");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("opens");
        QTest::addColumn<bool>("obeyed");
        const QString pre = QStringLiteral("Remote Command: ");
        const QString ignored = pre + QStringLiteral("Ignored a command message from owner@e2e.test: ");
        const QString tail = QStringLiteral("\nrun: in side.sh\nchange: frequency, 17\nsave");
        const QString good = QStringLiteral("Owner <owner@e2e.test>|60|password:Tulip9") + tail;
        const QString tls = QStringLiteral("STARTTLS required");
        QString guesses;
        for (int i = 0; i < 1500; ++i)
            guesses += QStringLiteral("password:guess%1\n").arg(i);

        QTest::newRow("allowed, over TLS") << "u1" << QStringList{good} << true << tls << kPassword
                                           << QStringList{pre + "Password Accepted", pre + "Running File  in side.sh",
                                                          pre + "File Saved"}
                                           << 1 << true;
        QTest::newRow("stranger") << "u2"
                                  << QStringList{QStringLiteral("Mallory <mallory@e2e.test>|60|password:Tulip9") + tail}
                                  << true << tls << kPassword
                                  << QStringList{pre + "Ignored a command message from mallory@e2e.test: not an "
                                                       "allowed sender"}
                                  << 0 << false;
        QTest::newRow("empty password") << "u3" << QStringList{QStringLiteral("owner@e2e.test|60|password") + tail}
                                        << true << tls << QString()
                                        << QStringList{pre + "Remote control stays off: the remote command password is "
                                                             "empty; set one under Options, Remote Control",
                                                       ignored + "remote control stays off while the remote command "
                                                                 "password is empty"}
                                        << 0 << false;
        QTest::newRow("brute force in one message")
            << "u4" << QStringList{QStringLiteral("owner@e2e.test|60|") + guesses + QStringLiteral("password:Tulip9") + tail}
            << true << tls << kPassword
            << QStringList{pre + "Invalid Password", pre + "3 wrong passwords; the rest of the message is ignored"} << 0
            << false;
        QStringList across;
        for (int i = 0; i < 5; ++i)
            across << QStringLiteral("owner@e2e.test|60|password:guess%1").arg(i) + tail;
        across << good;
        QTest::newRow("brute force across messages")
            << "u5" << across << true << tls << kPassword
            << QStringList{pre + "5 command messages with wrong passwords within an hour; remote commands are "
                                 "refused until",
                           ignored + "remote commands are refused until"}
            << 0 << false;
        QTest::newRow("replay under a new Message-ID")
            << "u6" << QStringList{good, QStringLiteral("*")} << true << tls << kPassword
            << QStringList{pre + "File Saved", ignored + "the same commands were examined before"} << 1 << true;
        QTest::newRow("old date") << "u7"
                                  << QStringList{QStringLiteral("owner@e2e.test|90000|password:Tulip9") + tail} << true
                                  << tls << kPassword << QStringList{ignored + "it is dated more than 24 hours ago"}
                                  << 0 << false;
        QTest::newRow("run outside the folder")
            << "u8" << QStringList{QStringLiteral("owner@e2e.test|60|password:Tulip9\nrun: ../outside.sh\nrun:link.sh")}
            << true << tls << kPassword
            << QStringList{pre + "Failed to run file  ../outside.sh",
                           pre + "the file is not inside the run folder RUN", pre + "Failed to run file link.sh"}
            << 0 << false;
        QTest::newRow("run of a URL")
            << "u9" << QStringList{QStringLiteral("owner@e2e.test|60|password:Tulip9\nrun:http://127.0.0.1:9/%24(id)")}
            << true << tls << kPassword
            << QStringList{pre + "Failed to run file http://127.0.0.1:9/%24(id)",
                           pre + "run opens files only, no web addresses or other URLs"}
            << 0 << false;
        QTest::newRow("clear-text mailbox") << "u10" << QStringList{good} << false << "automatic" << kPassword
                                            << QStringList{ignored + "its mailbox was read without TLS"} << 0 << false;
        QTest::newRow("clear text chosen") << "u11" << QStringList{good} << false << "none" << kPassword
                                           << QStringList{pre + "The command message from owner@e2e.test was read "
                                                                "without TLS, as the account's security \"none\" "
                                                                "allows",
                                                          pre + "File Saved"}
                                           << 1 << true;
    }
    void outsidersRunNothing() {
        QFETCH(QString, user);
        QFETCH(QStringList, messages);
        QFETCH(bool, tls);
        QFETCH(QString, security);
        QFETCH(QString, password);
        QFETCH(QStringList, lines);
        QFETCH(int, opens);
        QFETCH(bool, obeyed);
        DovecotServer& server = tls ? secure : plain;
        QList<QByteArray> mails;
        for (int i = 0; i < messages.size(); ++i) {
            const QString id = QStringLiteral("%1-%2").arg(user).arg(i);
            if (messages[i] == QLatin1String("*")) {
                QByteArray copy = mails.last();
                copy.replace(QStringLiteral("%1-%2@").arg(user).arg(i - 1).toUtf8(), (id + QLatin1Char('@')).toUtf8());
                mails << copy;
                continue;
            }
            const QString& m = messages[i];
            mails << commandMail(id, m.section(QLatin1Char('|'), 0, 0), m.section(QLatin1Char('|'), 1, 1).toLongLong(),
                                 m.section(QLatin1Char('|'), 2) + QLatin1Char('\n'));
        }
        QVERIFY(server.deliverAll(user, mails));
        const Run r = check(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')),
                            user, tls, security, password);
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QString log = QString::fromLatin1(read(r.log));
        const QString runFolder = QFileInfo(r.runFolder).canonicalFilePath();
        for (QString line : lines)
            QVERIFY2(log.contains(line.replace(QStringLiteral("RUN"), runFolder)), qPrintable(line + "\n" + log));
        // What ran: the opener only for the file inside the run folder, the
        // change and the save only for a message that was to be obeyed.
        const QStringList opens_ = opened(r, opens);
        QCOMPARE(opens_.size(), opens);
        // The opener gets the file's resolved path as an encoded file URL.
        for (const QString& o : opens_)
            QCOMPARE(o, QStringLiteral("file://") + runFolder + QStringLiteral("/in%20side.sh"));
        QCOMPARE(log.count(QStringLiteral("Remote Command: File Saved")), obeyed ? 1 : 0);
        QCOMPARE(log.contains(QStringLiteral("Frequency Changed to 17")), obeyed);
        QVERIFY(!log.contains(kPassword));
        // The brute force lines are each logged, up to the third.
        if (QByteArray(QTest::currentDataTag()) == "brute force in one message")
            QCOMPARE(log.count(QStringLiteral("Remote Command: Invalid Password")), 3);
        if (QByteArray(QTest::currentDataTag()) == "brute force across messages")
            QCOMPARE(log.count(QStringLiteral("Remote Command: Invalid Password")), 5);
    }
};

QTEST_GUILESS_MAIN(TestRemoteE2E)
#include "test_remote_e2e.moc"
