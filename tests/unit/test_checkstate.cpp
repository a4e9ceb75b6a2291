// What the program remembers of the mailbox across restarts, and the lock
// that keeps two mail checks from running at once: the resident program
// against a scripted POP3 server, paging by e-mail to a scripted SMTP sink,
// in virtual time.

#include "app/maincycle.h"
#include "app/programcommands.h"
#include "features/mail/checksession.h"
#include "features/filters/cfilter.h"
#include "features/mail/inboxstate.h"
#include "platform/filelock.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "platform/smtpcontrol.h"
#include "state/mailsecurity.h"
#include "state/remotesafety.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"

#include <QtTest>

using namespace tessaly;

namespace {

QByteArray mail(int n) {
    return QStringLiteral("Message-ID: <m%1@example.org>\r\nFrom: ann@example.org\r\nTo: bob@example.net\r\n"
                          "Subject: Private matter %1\r\nDate: Mon, 7 Dec 2026 09:15:00 +0000\r\n\r\n"
                          "Secret body %1\r\n")
        .arg(n)
        .toLatin1();
}

struct Rig : ProgramRig {
    ScriptedNet net{pump};
    SocketRegistry sockets;
    Pop3Client pop{pump, net, sockets};
    TcpControl tcp{sockets};
    SmtpClient smtp{pump, net};
    std::shared_ptr<Pop3Mailbox> box = std::make_shared<Pop3Mailbox>();
    std::shared_ptr<SmtpSink> sink = std::make_shared<SmtpSink>();

    Rig() {
        net.listen(QStringLiteral("pop.example.org"), 110, [this] { return makePop3Script(box); });
        net.listen(QStringLiteral("smtp.example.org"), 25, [this] { return makeSmtpScript(sink); });
        start();
    }
    // A fresh start of the program in the same program directory.
    void start() {
        program.reset();
        startWithoutProfile({.pop = &pop, .tcp = &tcp, .smtp = &smtp});
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        s.pagingEnabled = true;
        s.pageHeaders = true;
        s.smtpHostName = QStringLiteral("smtp.example.org");
        s.smtpPort = 25;
        s.retries = 0;
        program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                                   QStringLiteral("user"), QStringLiteral("secret"), true);
        CPager& pager = program->Pagers().Item(1);
        pager.SetPagerType(1);
        pager.SetEmailAddress(QStringLiteral("pager@carrier.example"));
        pager.SetFromAddress(QStringLiteral("me@example.org"));
        pager.SetServiceName(QStringLiteral("Default"));
        program->Services().Item(1).SetMaxPageChar(200);
    }
    // As the toolbar's "Check for Email" button does it.
    void check() { program->Cycle().ToolbarCheckMail(); }
    // The subjects of the pages delivered so far, in order.
    QStringList pagedSubjects() const {
        QStringList out;
        for (const SmtpMessage& m : sink->messages) {
            const qsizetype at = m.data.indexOf("|Subject:");
            out << QString::fromLatin1(m.data.mid(at + 9, m.data.indexOf('\r', at) - at - 9));
        }
        return out;
    }
    QString statePath() const { return dir.path() + QLatin1Char('/') + kInboxStateFile; }
    QByteArray stateFile() const {
        QFile f(statePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeState(const QByteArray& bytes) const {
        QFile f(statePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

// What one history of checks gave: activity lines without their times,
// pages, the inbox, and the header requests and downloads the server saw.
struct History {
    QStringList activity, pages, inbox;
    int headerRequests = 0, downloads = 0;
    QList<int> headersPerCheck;
};

// The same history against a server that names its messages and one that
// does not: three messages (the third one spam), a second check, a restart,
// a fourth message, a deletion, and an edited filter.
History runHistory(bool uidl, bool pipelining = false) {
    Rig r;
    r.box->uidl = uidl;
    r.box->pipelining = pipelining;
    auto spamRule = [&] {
        r.program->GetFilters().Clear();
        r.program->GetFilters().Add(QStringLiteral("junk"), CFilter::Subject, CFilter::Contains, QStringLiteral("matter 4"), true);
    };
    History h;
    int tops = 0;
    auto check = [&] {
        r.check();
        h.headersPerCheck << r.box->count("TOP") - tops;
        tops = r.box->count("TOP");
    };
    spamRule();
    r.box->messages = {mail(1), mail(2), mail(4)};
    check();
    check();
    r.start();
    spamRule();
    check();
    r.box->messages << mail(3);
    check();
    r.box->messages.removeFirst();
    check();
    r.program->GetFilters().Clear(); // the rule that caught message 4 is gone
    check();
    for (const QString& line : r.activity().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        h.activity << line.left(line.lastIndexOf(QStringLiteral("   ")));
    h.pages = r.pagedSubjects();
    for (const CMail& m : r.program->GetInbox())
        h.inbox << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                       .arg(m.ID(), m.From(), m.DateSent(), m.Subject(), m.MailTo())
                       .arg(m.Size())
                       .arg(m.Paged())
                       .arg(m.NewMessage())
                       .arg(m.Downloaded());
    h.headerRequests = r.box->count("TOP");
    h.downloads = r.box->count("RETR");
    return h;
}

} // namespace

class TestCheckState : public QObject {
    Q_OBJECT
private slots:
    void restartPagesNothingAnEarlierRunPaged() {
        Rig r;
        r.box->messages = {mail(1), mail(2)};
        r.check();
        QCOMPARE(r.pagedSubjects(), (QStringList{QStringLiteral("private matter 1"), QStringLiteral("private matter 2")}));
        // Only IDs and flags are kept: no header or body text.
        const QByteArray state = r.stateFile();
        QVERIFY(state.contains("<m1@example.org>") && state.contains("<m2@example.org>"));
        QVERIFY(!state.contains("rivate matter") && !state.contains("Secret body") && !state.contains("ann@"));

        r.start();
        r.check();
        QCOMPARE(r.pagedSubjects().size(), 2);
        // The message met again is whole in the inbox, with its flags.
        const CMail& again = r.program->GetInbox().Item(QStringLiteral("<m1@example.org>"));
        QVERIFY(again.Paged() && again.NewMessage());
        QCOMPARE(again.Subject(), QStringLiteral("private matter 1"));

        // A start whose first check cannot log in keeps what it remembered.
        r.start();
        r.box->password = QStringLiteral("changed");
        r.check();
        r.start();
        r.box->password = QStringLiteral("secret");
        r.box->messages << mail(3);
        r.check();
        QCOMPARE(r.pagedSubjects().size(), 3);
        QCOMPARE(r.pagedSubjects().last(), QStringLiteral("private matter 3"));

        // Gone from the server: forgotten after the next complete check.
        r.box->messages = {mail(3)};
        r.check();
        QVERIFY(!r.stateFile().contains("<m1@example.org>"));
        QVERIFY(r.stateFile().contains("<m3@example.org>"));
    }

    void uniqueIdsSpareTheHeaderRequests() {
        const History plain = runHistory(false);
        const History named = runHistory(true);
        // What the user sees is the same, whether the server names its messages or not.
        QCOMPARE(named.activity, plain.activity);
        QCOMPARE(named.pages, plain.pages);
        QCOMPARE(named.inbox, plain.inbox);
        QCOMPARE(plain.pages, (QStringList{QStringLiteral("private matter 1"), QStringLiteral("private matter 2"),
                                           QStringLiteral("private matter 3"), QStringLiteral("private matter 4")}));
        // The spam line at every check since the restart, until its rule goes.
        QCOMPARE(plain.activity.filter(QStringLiteral("was deleted (SPAM)")).size(), 3);
        // Without unique IDs every check asks for every header.
        QCOMPARE(plain.headersPerCheck, (QList<int>{3, 3, 3, 4, 3, 3}));
        // With them only the unknown ones, also after a restart, and the
        // spam message again only once its rule changed.
        QCOMPARE(named.headersPerCheck, (QList<int>{3, 0, 0, 1, 0, 1}));
        // Spam is downloaded once, not at every check; the others once each.
        QCOMPARE(plain.downloads, 4 + 5);
        QCOMPARE(named.downloads, 4 + 1);
        // Header requests in batches change nothing the user sees either.
        const History batched = runHistory(true, true);
        QCOMPARE(batched.activity, named.activity);
        QCOMPARE(batched.pages, named.pages);
        QCOMPARE(batched.inbox, named.inbox);
        QCOMPARE(batched.headersPerCheck, named.headersPerCheck);
        QCOMPARE(batched.downloads, named.downloads);
    }

    // A batch of header requests meets a refusal or a broken connection:
    // every message counts only when its own answer arrived, and nothing is
    // purged after a break.
    void faultsInABatchOfHeaderRequests_data() {
        QTest::addColumn<QList<int>>("refused");
        QTest::addColumn<QByteArray>("dropAfter");
        QTest::addColumn<QByteArray>("silentAfter");
        QTest::addColumn<QStringList>("paged");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("stalePurged");
        const QStringList one{QStringLiteral("private matter 1")};
        QTest::newRow("one refused") << QList<int>{2} << QByteArray() << QByteArray()
                                     << QStringList{QStringLiteral("private matter 1"), QStringLiteral("private matter 3")}
                                     << "Work: the server refused the header of message #2; not paged this time" << false;
        QTest::newRow("closed after the first answer")
            << QList<int>{} << QByteArray("TOP 2") << QByteArray() << one
            << "Work: no answer to the header request for message #2; reading stopped, nothing is purged this time"
            << false;
        QTest::newRow("silent after the first answer")
            << QList<int>{} << QByteArray() << QByteArray("TOP 2") << one
            << "Work: no answer to the header request for message #2; reading stopped, nothing is purged this time"
            << false;
        QTest::newRow("closed before any answer")
            << QList<int>{} << QByteArray("TOP 1") << QByteArray() << QStringList()
            << "Work: no answer to the header request for message #1; reading stopped, nothing is purged this time"
            << false;
        QTest::newRow("all answered") << QList<int>{} << QByteArray() << QByteArray()
                                      << QStringList{QStringLiteral("private matter 1"), QStringLiteral("private matter 2"),
                                                     QStringLiteral("private matter 3")}
                                      << QString() << true;
    }
    void faultsInABatchOfHeaderRequests() {
        QFETCH(QList<int>, refused);
        QFETCH(QByteArray, dropAfter);
        QFETCH(QByteArray, silentAfter);
        QFETCH(QStringList, paged);
        QFETCH(QString, line);
        QFETCH(bool, stalePurged);
        Rig r;
        r.box->uidl = true;
        r.box->pipelining = true;
        r.box->messages = {mail(9)};
        r.check(); // known, then gone from the server: purged only after a complete reading
        r.box->messages = {mail(1), mail(2), mail(3)};
        r.box->refuseTop = refused;
        r.box->dropAfter = dropAfter;
        r.box->silentAfter = silentAfter;
        r.check();
        QCOMPARE(r.box->count("CAPA"), 2); // once per connection, when it is opened
        QCOMPARE(r.pagedSubjects().mid(1), paged);
        if (!line.isEmpty())
            QVERIFY2(r.activity().contains(line), qPrintable(r.activity()));
        QCOMPARE(!r.program->GetInbox().Find(QStringLiteral("<m9@example.org>")), stalePurged);
    }

    // Downloads go in batches as the header requests do; a break after any
    // answer keeps every message whose own answer arrived whole, the rest
    // are paged by their headers, and nothing is paged twice.
    void faultsInABatchOfDownloads_data() {
        QTest::addColumn<QByteArray>("dropAfter");
        QTest::addColumn<QByteArray>("silentAfter");
        QTest::addColumn<int>("downloaded");
        QTest::newRow("all answered") << QByteArray() << QByteArray() << 4;
        QTest::newRow("closed after the second download") << QByteArray("RETR 3") << QByteArray() << 2;
        QTest::newRow("silent after the first download") << QByteArray() << QByteArray("RETR 2") << 1;
        QTest::newRow("closed before any download") << QByteArray("RETR 1") << QByteArray() << 0;
    }
    void faultsInABatchOfDownloads() {
        QFETCH(QByteArray, dropAfter);
        QFETCH(QByteArray, silentAfter);
        QFETCH(int, downloaded);
        Rig r;
        r.box->uidl = true;
        r.box->pipelining = true;
        r.box->messages = {mail(1), mail(2), mail(3), mail(4)};
        r.box->dropAfter = dropAfter;
        r.box->silentAfter = silentAfter;
        r.check();
        // All four downloads went out in one batch.
        QCOMPARE(r.box->count("RETR"), 4);
        for (int n = 1; n <= 4; ++n) {
            const CMail* m = r.program->GetInbox().Find(QStringLiteral("<m%1@example.org>").arg(n));
            QVERIFY(m);
            QCOMPARE(m->Downloaded(), n <= downloaded);
            QCOMPARE(m->Body().contains(QStringLiteral("Secret body %1").arg(n)), n <= downloaded);
            QCOMPARE(r.activity().contains(QStringLiteral("Failed to receive message #%1").arg(n)), n > downloaded);
        }
        r.box->dropAfter.clear();
        r.box->silentAfter.clear();
        r.check();
        const QStringList paged = r.pagedSubjects();
        QCOMPARE(paged.size(), 4);
        QCOMPARE(QSet<QString>(paged.cbegin(), paged.cend()).size(), 4);
    }

    // A first check asks for the downloads together: the time it takes does
    // not grow by a round trip per message.
    void downloadsOfAFirstCheckGoTogether() {
        double seconds[2] = {0, 0};
        for (bool pipelining : {false, true}) {
            Rig r;
            r.box->uidl = true;
            r.box->pipelining = pipelining;
            r.box->replyDelay = 0.5;
            for (int n = 1; n <= 20; ++n)
                r.box->messages << mail(n);
            r.program->Settings().pagingEnabled = false;
            const QDateTime start = r.pump.now();
            r.check();
            seconds[pipelining] = start.msecsTo(r.pump.now()) / 1000.0;
            QCOMPARE(r.box->count("RETR"), 20);
        }
        // Without batches: 20 header and 20 download round trips at least.
        QVERIFY2(seconds[0] >= 40 * 0.5, qPrintable(QString::number(seconds[0])));
        QVERIFY2(seconds[1] < seconds[0] / 3, qPrintable(QStringLiteral("%1 %2").arg(seconds[0]).arg(seconds[1])));
    }

    void uniqueIdsThatCannotBeTrusted() {
        Rig r;
        r.box->uidl = true;
        r.box->messages = {mail(1), mail(2)};
        r.check();
        QCOMPARE(r.box->count("TOP"), 2);
        // A server that gives two messages one ID: both are asked for.
        r.box->messages = {mail(1), mail(1), mail(2)};
        r.check();
        QCOMPARE(r.box->count("TOP"), 4);
        // Another account never shares the records, even on the same server.
        r.program->POPAccounts().Item(1).SetUsername(QStringLiteral("other"));
        r.box->user = QStringLiteral("other");
        r.check();
        QCOMPARE(r.box->count("TOP"), 7);
        QCOMPARE(r.pagedSubjects().size(), 2);
    }

    // Without header pages the pager hears the count once for the messages
    // it counted, also over restarts; a new message makes a new notice.
    void countNoticeOnceForTheMessagesItCounted() {
        Rig r;
        r.box->messages = {mail(1), mail(2)};
        QStringList notices;
        for (int run = 0; run < 3; ++run) {
            r.start();
            r.program->Settings().pageHeaders = false;
            if (run == 2)
                r.box->messages << mail(3);
            r.check();
            r.check();
        }
        for (const SmtpMessage& m : r.sink->messages)
            notices << QString::fromLatin1(m.data.mid(m.data.lastIndexOf("\r\n\r\n") + 4)).trimmed();
        QCOMPARE(notices, (QStringList{QStringLiteral("<EMAIL 2>"), QStringLiteral("<EMAIL 3>")}));
    }

    void failedPagesCountAcrossRestarts() {
        Rig r;
        r.box->messages = {mail(1)};
        r.sink->rejectData = 554; // the pager's mail server refuses every page
        const QStringList expected{QStringLiteral("not delivered (attempt 1 of 3)"),
                                   QStringLiteral("not delivered (attempt 2 of 3)"),
                                   QStringLiteral("after 3 attempts; given up"), QString()};
        for (const QString& line : expected) {
            r.start();
            r.check();
            const int attempts = r.activity().count(QStringLiteral("Page for \"private matter 1\""));
            QVERIFY2(line.isEmpty() ? attempts == 0 : attempts == 1 && r.activity().contains(line),
                     qPrintable(r.activity()));
        }
        QVERIFY(r.stateFile().contains(R"("pageAttempts":3)"));
    }

    void stateFileThatCannotBeUsed_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("paged");
        QTest::addColumn<QString>("logged");
        const QStringList both{QStringLiteral("private matter 1"), QStringLiteral("private matter 2")};
        QTest::newRow("not json") << QByteArray("{ not json") << both << QStringLiteral("not a state file");
        QTest::newRow("unknown format") << QByteArray(R"({"format":99,"messages":[]})") << both
                                        << QStringLiteral("unknown state file format");
        // The format that kept whole messages still tells what was paged.
        QTest::newRow("older format")
            << QByteArray(R"({"format":1,"messages":[{"id":"<m1@example.org>","body":"x","new":true,"paged":true}]})")
            << QStringList{QStringLiteral("private matter 2")} << QString();
        // A record without an ID, or of another type, is passed over.
        QTest::newRow("odd records")
            << QByteArray(R"({"format":2,"messages":[7,{"paged":true},{"id":"<m2@example.org>","paged":true}]})")
            << QStringList{QStringLiteral("private matter 1")} << QString();
    }
    void stateFileThatCannotBeUsed() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, paged);
        QFETCH(QString, logged);
        Rig r;
        r.writeState(content);
        r.box->messages = {mail(1), mail(2)};
        r.check();
        QCOMPARE(r.pagedSubjects(), paged);
        if (!logged.isEmpty())
            QVERIFY2(r.activity().contains(QStringLiteral("Inbox state ignored (%1): %2").arg(r.statePath(), logged)),
                     qPrintable(r.activity()));
        // Written anew in the current format.
        QVERIFY(r.stateFile().startsWith(R"({"format":2,)"));
    }

    void checksTakeTurnsOnTheLock() {
        Rig r;
        r.box->messages = {mail(1)};
        FileLock other(r.program->CheckLockPath()); // a one-shot check in another process
        QVERIFY(other.TryLock());
        const QDateTime asked = r.pump.now();
        r.check();
        QCOMPARE(asked.secsTo(r.pump.now()), qint64(MainProgram::kCheckLockWait));
        QVERIFY(r.box->commands.isEmpty());
        QVERIFY(r.activity().contains(QStringLiteral("Mail check skipped: another mail check still holds ") +
                                      r.program->CheckLockPath() + QStringLiteral(" after 120 seconds")));
        QVERIFY(r.program->MinuteTimer().isActive());

        // Released while this one waits: the check runs then, and holds the
        // lock until its end.
        r.pump.schedule(30, [&] { other.Unlock(); });
        bool heldDuringCheck = false;
        QObject::connect(&r.pop, &PopControl::loginComplete, &r.pop, [&] {
            FileLock probe(r.program->CheckLockPath());
            heldDuringCheck = !probe.TryLock();
        });
        r.check();
        QVERIFY(heldDuringCheck);
        QCOMPARE(r.pagedSubjects(), QStringList{QStringLiteral("private matter 1")});
        FileLock after(r.program->CheckLockPath());
        QVERIFY(after.TryLock());
    }

    // A remote "quit" closes the program the way Exit does, but only once
    // the check that brought it has finished and saved what it read.
    void remoteQuitWaitsForTheCheck() {
        Rig r;
        r.program->Settings().remoteControlEnabled = true;
        r.program->Settings().remotePassword = QStringLiteral("tulip");
        // The sender is allowed; the scripted server offers no TLS, which the
        // account accepts explicitly.
        SaveRemoteSafety(r.store, RemoteSafety{{QStringLiteral("me@example.org")}, {}});
        WritePopSecurity(r.store, QStringLiteral("Work"), Security::None);
        r.box->messages = {mail(1),
                           "Message-ID: <q@example.org>\r\nFrom: me@example.org\r\nSubject: Tessaly Remote\r\nDate: " +
                               r.pump.now().toString(Qt::RFC2822Date).toLatin1() +
                               "\r\n\r\npassword:tulip\r\nstop:paging\r\nquit\r\n",
                           mail(2)};
        int quits = 0;
        bool checkOver = false;
        QByteArray stateAtQuit;
        r.program->Commands().SetQuitHandler([&] {
            ++quits;
            checkOver = !r.program->Session().Running();
            stateAtQuit = r.stateFile();
        });
        r.check();
        QCOMPARE(quits, 1);
        QVERIFY(checkOver);
        // Every message of the check is on record, the ones after the command too.
        for (const char* id : {"<m1@example.org>", "<q@example.org>", "<m2@example.org>"})
            QVERIFY2(stateAtQuit.contains(id), id);
        // "stop: paging" changed the profile: the exit question came first.
        QVERIFY(r.prompter.messageTexts().contains(QStringLiteral("Save File Before Exiting?")));
    }
};

QTEST_GUILESS_MAIN(TestCheckState)
#include "test_checkstate.moc"
