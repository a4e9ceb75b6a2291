// End to end: `tessly --check` reads a real Dovecot mailbox and pages new
// mail through the serial port to the modem and paging-terminal simulator.
// A second run pages nothing; a message arriving between runs is paged alone.

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "state/mailsecurity.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/keptledgers.h"
#include "tests/integration/modemsim.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QByteArray message(const char* id, const char* subject, const QByteArray& body, const char* extra = "") {
    return QByteArray("Message-ID: <") + id + "@e2e.test>\n"
           "From: Ann Lee <ann@e2e.test>\n"
           "To: tester@e2e.test\n"
           "Subject: " + subject + "\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0000\n" + extra + "\n" + body + "\n";
}

} // namespace

class TestCheckE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    KeptLedgers keptLedgers{dir};
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;
    QString home, config, profile;

    QStringList pagedTexts() { return sim.goodBlocks(); }
    int runCheck(QByteArray* output = nullptr) { return run({QStringLiteral("--check")}, output); }
    int run(const QStringList& args, QByteArray* output = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (output)
            *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString activityLog() const {
        QFile f(home + QStringLiteral("/activity.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty())
            QSKIP("python3 is needed for the modem simulator");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")},
                                     {QStringLiteral("home"), QStringLiteral("h0me")}}));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("plain", "Lunch at noon", "See you there.")));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("spam", "Lottery winner", "Send money.")));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("big", "Holiday photos", QByteArray(3000, 'p'))));
        QVERIFY(dovecot.deliver(QStringLiteral("work"),
                                message("urgent", "Server down", "Call me\nnow", "X-Priority: 1 (Highest)\n")));
        QVERIFY(dovecot.deliver(QStringLiteral("home"), message("private", "Not checked", "nothing")));

        QVERIFY(sim.start());
        const QString device = sim.device();

        home = dir.path() + QStringLiteral("/home");
        config = dir.path() + QStringLiteral("/config");
        profile = home + QStringLiteral("/e2e.dat");
        QVERIFY(QDir().mkpath(home));

        // The profile, written by the program's own profile writer.
        writeE2eProfile(home, profile, dovecot.port(), 200, [&](MainProgram& p) {
            p.Settings().pageBodyHighestPriority = true;
            p.Settings().messageSizeLimit = 1;
            p.POPAccounts().Add(QStringLiteral("Home"), QStringLiteral("127.0.0.1"), dovecot.port(),
                                QStringLiteral("home"), QStringLiteral("h0me"), false);
        });
        QFile filters(home + QStringLiteral("/filters.dat"));
        QVERIFY(filters.open(QIODevice::WriteOnly));
        filters.write("\"no lotteries\",0,0,\"lottery\",#TRUE#\r\n");
        filters.close();
        QVERIFY(writeE2eSettings(config + QStringLiteral("/tessaly/tessaly.ini"), profile, device));
    }

    void cleanupTestCase() {
        sim.stop();
        dovecot.stop();
    }

    void firstRunPagesNewMail() {
        QByteArray out;
        QCOMPARE(runCheck(&out), 0);
        const QStringList pages = pagedTexts();
        const QString head = QStringLiteral("7654321:mon, 7 dec 2026 10:00:00 +0000|From:ann lee <ann@e2e.test>|Subject:");
        QVERIFY2(pages.size() == 3, qPrintable(pages.join(QLatin1Char('\n')) + QString::fromLocal8Bit(out)));
        QVERIFY(pages.contains(head + QStringLiteral("lunch at noon")));
        QVERIFY(pages.contains(head + QStringLiteral("holiday photos")));
        QVERIFY(pages.contains(head + QStringLiteral("server down|Call me now "))); // line feeds as spaces
        const QString log = activityLog();
        QVERIFY(log.contains(QStringLiteral("Checking email in Work ")));
        QVERIFY(!log.contains(QStringLiteral("Checking email in Home")));
        QVERIFY(log.contains(QStringLiteral("Messages Waiting = 4")));
        QVERIFY(log.contains(QStringLiteral("was deleted (SPAM)")));
        QVERIFY(log.contains(QStringLiteral("was skipped due to size.")));
        QVERIFY(log.contains(QStringLiteral("Message #3 (1 of 1) sent successfully")));
        QVERIFY(QFile::exists(home + QStringLiteral("/inbox-state.json")));
        // What the files say of it, without a check.
        QByteArray status;
        QCOMPARE(run({QStringLiteral("--status")}, &status), 0);
        QVERIFY2(status.contains("(tessly --check), ran clean\n"), status.constData());
        QVERIFY2(status.contains("Pages of the last check and since: 3 delivered, 0 failed, 0 given up"),
                 status.constData());
        QVERIFY(status.contains("Pending pages: none"));
    }

    void secondRunPagesNothingThenOnlyTheNewMessage() {
        QCOMPARE(runCheck(), 0);
        QCOMPARE(pagedTexts().size(), 3);
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("later", "One more thing", "p.s.")));
        QCOMPARE(runCheck(), 0);
        const QStringList pages = pagedTexts();
        QCOMPARE(pages.size(), 4);
        QVERIFY(pages.last().endsWith(QStringLiteral("|Subject:one more thing")));
        // One-shot runs add to the activity log; nothing is rolled over.
        QCOMPARE(activityLog().count(QStringLiteral("Internet: Connection established...")), 3);
        QVERIFY(!QFile::exists(home + QStringLiteral("/activity.old")));
    }

    // The test page from the command line goes through the profile's own
    // channel and says what became of it.
    void testPageFromTheCommandLine() {
        const qsizetype paged = pagedTexts().size();
        QByteArray out;
        QCOMPARE(run({QStringLiteral("--test-page"), QStringLiteral("1")}, &out), 0);
        QVERIFY2(out.contains("tessly: test page to pager 1 (modem, 7654321) through service "), out.constData());
        QVERIFY2(out.contains("tessly: test page delivered\n"), out.constData());
        QCOMPARE(pagedTexts().size(), paged + 1);
        QCOMPARE(pagedTexts().last(), QStringLiteral("7654321:This is a test message from Tessaly..."));
        QCOMPARE(run({QStringLiteral("--test-page"), QStringLiteral("9")}, &out), 3);
        QCOMPARE(pagedTexts().size(), paged + 1);
    }

    // A dry run reads, filters and composes as a check does, prints what it
    // would do, and leaves every file and the mailbox as they were.
    void dryRunChangesNothing() {
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("dry-new", "Dry news", "fresh")));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("dry-spam", "Lottery again", "money")));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("dry-big", "Dry photos", QByteArray(3000, 'q'))));
        const QStringList files = {home + QStringLiteral("/inbox-state.json"), home + QStringLiteral("/page-ledger.jsonl"),
                                   home + QStringLiteral("/last-check.json"),  home + QStringLiteral("/activity.txt"),
                                   profile,
                                   home + QStringLiteral("/filters.dat"),      config + QStringLiteral("/tessaly/tessaly.ini")};
        auto snapshot = [&] {
            QList<QByteArray> out;
            for (const QString& f : files) {
                QFile file(f);
                out << (file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                                       : QByteArray("missing"));
            }
            return out;
        };
        const QList<QByteArray> before = snapshot();
        QVERIFY(!before.contains(QByteArray("missing")));
        const QList<QByteArray> mailbox = dovecot.contents(QStringLiteral("work"));
        const qsizetype paged = pagedTexts().size();
        QByteArray out;
        QCOMPARE(run({QStringLiteral("--check"), QStringLiteral("--dry-run")}, &out), 0);
        const QString text = QString::fromLocal8Bit(out);
        for (const QString& verdict :
             {QStringLiteral(": known\n"), QStringLiteral(": filtered by rule 1\n"), QStringLiteral(": new\n"),
              QStringLiteral(": new, too big to download (paged by its header)\n"),
              QStringLiteral(": filtered (by the same rules at an earlier check)\n")})
            QVERIFY2(text.contains(verdict), qPrintable(verdict + QStringLiteral(" in:\n") + text));
        QVERIFY2(text.contains(QStringLiteral("dry run: page 1 to 7654321 by modem (service ")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("|Subject:dry news")));
        QVERIFY(text.contains(QStringLiteral("dry run:   block 1 of ")));
        QVERIFY(text.contains(QStringLiteral("<STX>7654321\n")));
        QCOMPARE(pagedTexts().size(), paged);
        QCOMPARE(snapshot(), before);
        QCOMPARE(dovecot.contents(QStringLiteral("work")), mailbox);
        // The real check afterwards pages the two new ones.
        QCOMPARE(runCheck(), 0);
        QCOMPARE(pagedTexts().size(), paged + 2);
    }

    // A page that could not go out makes the run end with status 1 and
    // stays due: the next run, with the modem back, delivers it.
    void undeliveredPageGivesStatusOneAndGoesNextTime() {
        IniSettingsStore ini(config + QStringLiteral("/tessaly/tessaly.ini"));
        ini.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM2"), dir.path() + QStringLiteral("/no-modem"));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("retry", "Try again", "later")));
        const qsizetype before = pagedTexts().size();
        QByteArray out;
        QCOMPARE(runCheck(&out), 1);
        QVERIFY(out.contains("the check ran with errors"));
        QVERIFY(activityLog().contains(QStringLiteral("Page for \"try again\" from ann lee <ann@e2e.test> not delivered (attempt 1 of 3)")));
        QCOMPARE(pagedTexts().size(), before);
        // The test page from the command line tells the same.
        QByteArray test;
        QCOMPARE(run({QStringLiteral("--test-page")}, &test), 1);
        QVERIFY2(test.contains("tessly: test page not delivered\n"), test.constData());
        // Monitoring sees it from the files.
        QByteArray status;
        QCOMPARE(run({QStringLiteral("--status")}, &status), 1);
        QVERIFY2(status.contains("ran with errors (status 1): 1 page not delivered"), status.constData());
        QVERIFY(status.contains("0 delivered, 1 failed"));
        ini.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM2"), sim.device());
        QCOMPARE(runCheck(), 0);
        QCOMPARE(pagedTexts().size(), before + 1);
        QVERIFY(pagedTexts().last().endsWith(QStringLiteral("|Subject:try again")));
    }

    // A header with a 2 MiB line cannot hold up the mailbox: it is passed
    // over with one line, the message after it is paged, and the next run
    // neither asks for it nor says it again.
    void hugeHeaderIsPassedOverAndTheRestPaged() {
        const QByteArray huge = "X-Huge: " + QByteArray(2 << 20, 'h') + "\n";
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("huge", "Too much", "body", huge.constData())));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("after", "After the big one", "fine")));
        const qsizetype before = pagedTexts().size();
        QByteArray out;
        QCOMPARE(runCheck(&out), 0);
        QCOMPARE(pagedTexts().size(), before + 1);
        QVERIFY(pagedTexts().last().endsWith(QStringLiteral("|Subject:after the big one")));
        const QRegularExpression line(QStringLiteral("Work: the header of message #\\d+ is larger than 1 MiB; "
                                                     "passed over and not paged"));
        QCOMPARE(activityLog().count(line), 1);
        QVERIFY2(!activityLog().contains(QStringLiteral("reading stopped")), out.constData());
        QCOMPARE(runCheck(), 0);
        QCOMPARE(pagedTexts().size(), before + 1);
        QCOMPARE(activityLog().count(line), 1);
    }

    void clearErrorsFromTheCommandLine() {
        QFile::rename(profile, profile + QStringLiteral(".away"));
        QByteArray out;
        QCOMPARE(runCheck(&out), 2);
        QVERIFY(out.contains("the profile could not be loaded"));
        QFile::rename(profile + QStringLiteral(".away"), profile);
        QFile::remove(home + QStringLiteral("/inbox-state.json"));
        QFile state(home + QStringLiteral("/inbox-state.json"));
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write("{ not json");
        state.close();
        // An unreadable state file is reported and the check runs all the same.
        QCOMPARE(runCheck(&out), 0);
        QVERIFY(activityLog().contains(QStringLiteral("Inbox state ignored")));
    }

    // This Dovecot offers no STLS. A security entry written by hand that
    // means STARTTLS, or that the program cannot read, never lets the
    // password reach the server: no login at all, and status 1.
    void handWrittenSecurityNeverLogsInInClear_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("starttls") << "Work" << "starttls";
        QTest::newRow("STARTTLS") << "Work" << "STARTTLS";
        QTest::newRow("starttls-required") << "Work" << "starttls-required";
        QTest::newRow("unknown value") << "Work" << "bogus";
        QTest::newRow("misspelled account") << "Wrok" << "TLS";
    }
    void handWrittenSecurityNeverLogsInInClear() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        const QString ini = config + QStringLiteral("/tessaly/tessaly.ini");
        QFile file(ini);
        QVERIFY(file.open(QIODevice::Append));
        file.write(QStringLiteral("[%1/%2]\n%3 = %4\n").arg(kAppTitle, kPopSecuritySection, name, value).toUtf8());
        file.close();
        const qsizetype loginsBefore = dovecot.logText().count(QStringLiteral("Login: user=<work>"));
        QByteArray out;
        QCOMPARE(runCheck(&out), 1);
        QCOMPARE(dovecot.logText().count(QStringLiteral("Login: user=<work>")), loginsBefore);
        {
            IniSettingsStore store(ini);
            store.remove(kAppTitle, kPopSecuritySection, name);
            QVERIFY(store.lastWriteOk());
        }
        // Without the entry the account is read again, and its login shows
        // in the server's log as counted above.
        QCOMPARE(runCheck(&out), 0);
        QVERIFY(dovecot.logText().count(QStringLiteral("Login: user=<work>")) > loginsBefore);
    }
};

QTEST_GUILESS_MAIN(TestCheckE2E)
#include "test_check_e2e.moc"
