// The mail check in virtual time, against a scripted POP3 server and a
// scripted modem with a paging terminal behind it.

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "app/statusdisplay.h"
#include "features/mail/checksession.h"
#include "features/mail/mailviewer.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "platform/settingsstore.h"
#include "state/mailsecurity.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include "tests/fakes/pagingsetup.h"

#include <QtTest>

using namespace tessaly;

namespace {

QByteArray mail(const char* id, const char* subject, const QByteArray& body = "Hello there.",
                const char* extraHeaders = "") {
    QByteArray m = "Received: from mx.example.org by pop.example.org\r\n";
    if (*id)
        m += QByteArray("Message-ID: <") + id + ">\r\n";
    m += "Date: Mon, 7 Dec 2026 09:15:00 +0000\r\n"
         "From: Ann Lee <ann@example.org>\r\n"
         "To: Bob <bob@example.net>\r\n";
    m += QByteArray("Subject: ") + subject + "\r\n";
    m += extraHeaders;
    m += "\r\n" + body + "\r\n";
    return m;
}

// A modem whose paging terminal acknowledges every block.
void scriptModem(FakeSerialControl& port) {
    port.answer(QStringLiteral("^AT"), "\r\nOK\r\n", 0.2);
    port.rules.prepend({QRegularExpression(QStringLiteral("^ATD[TP][0-9]+$")), "\r\nCONNECT 1200\r\n", 1});
    port.answer(QStringLiteral("^$"), "ID=", 0.3); // a CR brings the terminal's prompt
    port.answer(QStringLiteral("^\\x1bPG1"), "\r\x06\r\x1b[p\r", 0.3);
    port.answer(QStringLiteral("^\\x03"), "\x06\r", 0.3);
    port.answer(QStringLiteral("^\\x04$"), "\x1b\x04\r", 0.2);
}

struct Rig : ProgramRig {
    ScriptedNet net{pump};
    SocketRegistry sockets;
    Pop3Client pop{pump, net, sockets};
    TcpControl tcp{sockets};
    FakeSerialControl port{pump};
    std::shared_ptr<Pop3Mailbox> box = std::make_shared<Pop3Mailbox>();
    std::shared_ptr<Pop3Mailbox> box2 = std::make_shared<Pop3Mailbox>();

    Rig() : ProgramRig(QDateTime(QDate(2026, 12, 7), QTime(9, 0))) {
        net.listen(QStringLiteral("pop.example.org"), 110, [this] { return makePop3Script(box); });
        net.listen(QStringLiteral("pop2.example.org"), 110, [this] { return makePop3Script(box2); });
        scriptModem(port);
        startWithoutProfile({.serial = &port, .pop = &pop, .tcp = &tcp});
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        s.pagingEnabled = true;
        s.pageHeaders = true;
        s.messageSizeLimit = 20;
        s.numericPagePrefix = QStringLiteral("111*");
        s.retries = 0;
        program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                                   QStringLiteral("user"), QStringLiteral("secret"), true);
        CPager& pager = program->Pagers().Item(1);
        pager.SetID(QStringLiteral("1234"));
        pager.SetDigitalNumber(QStringLiteral("5550100"));
        pager.SetServiceName(QStringLiteral("Default"));
        CPagerService& service = program->Services().Item(1);
        setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F"));
        service.SetMaxPageChar(200);
        service.SetDigitalDelay(8);
    }
    void check(bool download = true, bool page = true) { program->Session().Check(download, page); }
    // The page texts the terminal received, in order.
    QStringList pages() const {
        QStringList out;
        const QByteArray w = port.written;
        for (qsizetype at = w.indexOf('\x02'); at >= 0; at = w.indexOf('\x02', at + 1)) {
            const qsizetype idEnd = w.indexOf('\r', at);
            const qsizetype etx = w.indexOf('\x03', at);
            out << QString::fromLatin1(w.mid(idEnd + 1, etx - idEnd - 2));
        }
        return out;
    }
    QList<QByteArray> commandsLike(const char* verb) const {
        QList<QByteArray> out;
        for (const QByteArray& c : box->commands)
            if (c.startsWith(verb))
                out << c;
        return out;
    }
};

} // namespace

class TestCheckSession : public QObject {
    Q_OBJECT
private slots:
    // The account's stored choice reaches the check. The scripted server
    // offers no STLS: "automatic" reads in clear and says so once over two
    // checks, "STARTTLS required" refuses each time, "none" never asks.
    void securityChoice_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("lines");
        QTest::newRow("automatic") << "automatic"
                                   << "Work: pop.example.org offers no TLS; mail is read without encryption" << 1;
        QTest::newRow("required") << "STARTTLS required"
                                  << "Work: No secure connection to pop.example.org:110: the server offers no STLS, "
                                     "and STARTTLS is required" << 2;
        QTest::newRow("none") << "none" << "" << 0;
    }
    void securityChoice() {
        QFETCH(QString, choice);
        QFETCH(QString, line);
        QFETCH(int, lines);
        Rig r;
        WritePopSecurity(r.store, QStringLiteral("Work"), SecurityFromText(choice));
        r.box->messages = {mail("a@x", "first")};
        r.check();
        r.check();
        QCOMPARE(r.activity().split(QStringLiteral("\r\n")).filter(QStringLiteral("TLS")).size(), lines);
        if (lines)
            QCOMPARE(r.activity().count(line), lines);
        const bool refused = choice == QLatin1String("STARTTLS required");
        QCOMPARE(r.commandsLike("CAPA").size(), choice == QLatin1String("none") ? 0 : 2);
        QCOMPARE(r.commandsLike("USER").size(), refused ? 0 : 2);
        QCOMPARE(r.program->Session().LastOutcome().accountsNotRead, refused ? 1 : 0);
    }

    // Security entries as a user writes them by hand. The server offers no
    // STLS, so every reading of these but "automatic" and "none" must keep
    // the password off the wire, and a value or account name the program
    // cannot read is reported and fails the check.
    void handWrittenSecurity_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("logins");
        QTest::addColumn<QString>("line");
        QTest::newRow("starttls") << "Work" << "starttls" << 0 << "and STARTTLS is required";
        QTest::newRow("other spelling") << "Work" << " Starttls_Required" << 0 << "and STARTTLS is required";
        QTest::newRow("unknown value") << "Work" << "bogus" << 0
                                       << "Work: the security setting \"bogus\" is not one of automatic, TLS, "
                                          "STARTTLS required, none; the account is not read";
        QTest::newRow("no such account") << "Wrok" << "TLS" << 0
                                         << "Settings: the POP3 security entry \"Wrok\" names no account";
    }
    void handWrittenSecurity() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(int, logins);
        QFETCH(QString, line);
        Rig r;
        r.store.write(kAppTitle, kPopSecuritySection, name, value);
        r.box->messages = {mail("a@x", "first")};
        r.check();
        QVERIFY2(r.activity().contains(line), qPrintable(r.activity()));
        QCOMPARE(r.commandsLike("USER").size(), logins);
        QVERIFY(!r.program->Session().LastOutcome().Clean());
    }

    // A connection that cannot be made has its socket error line, and no
    // second line about the socket number.
    void refusedConnectionIsOneLine() {
        Rig r;
        r.program->POPAccounts().Item(1).SetMailPort(111);
        r.check();
        QCOMPARE(r.activity().count(QStringLiteral("Winsock Error using POP")), 1);
        QVERIFY2(!r.activity().contains(QStringLiteral("Invalid socket number")), qPrintable(r.activity()));
        QVERIFY(r.activity().contains(QStringLiteral("Work: could not log in")));
    }

    void noMessages() {
        Rig r;
        r.check();
        QVERIFY(r.activity().contains(QStringLiteral("Internet: Connection established...")));
        QVERIFY(r.activity().contains(QStringLiteral("Checking email in Work")));
        QVERIFY(r.activity().contains(QStringLiteral("No Mail Waiting")));
        QVERIFY(r.commandsLike("TOP").isEmpty());
        QVERIFY(r.port.written.isEmpty()); // nothing new: nothing paged, hung up
        QVERIFY(r.program->MinuteTimer().isActive());
        QCOMPARE(r.view.StatusPanel(QStringLiteral("messages")), QStringLiteral("No Messages"));
    }

    void headersDownloadsSizeLimitAndPages() {
        Rig r;
        r.program->Settings().messageSizeLimit = 1;
        QByteArray exact = mail("big@x", "Exactly the limit");
        exact.insert(exact.indexOf("\r\n\r\n") + 4, QByteArray(1024 - exact.size(), 'z'));
        QCOMPARE(exact.size(), 1024);
        r.box->messages = {mail("small@x", "Hello World", "Line one\r\nLine two"), exact};
        r.check();
        QVERIFY(r.activity().contains(QStringLiteral("Messages Waiting = 2")));
        QCOMPARE(r.commandsLike("TOP"), (QList<QByteArray>{"TOP 1 0", "TOP 2 0"}));
        QCOMPARE(r.commandsLike("RETR"), QList<QByteArray>{"RETR 1"});
        QVERIFY(r.activity().contains(QStringLiteral("Message #2 was skipped due to size.")));
        Inbox& inbox = r.program->GetInbox();
        QCOMPARE(inbox.Count(), 2);
        QVERIFY(inbox.Item(QStringLiteral("<small@x>")).Downloaded());
        QVERIFY(inbox.Item(QStringLiteral("<small@x>")).Body().contains(QStringLiteral("Line two")));
        QVERIFY(!inbox.Item(QStringLiteral("<big@x>")).Downloaded());
        // One page per new message: date, sender and subject, lower case as stored.
        QCOMPARE(r.pages(), (QStringList{"mon, 7 dec 2026 09:15:00 +0000|From:ann lee <ann@example.org>|Subject:hello world",
                                         "mon, 7 dec 2026 09:15:00 +0000|From:ann lee <ann@example.org>|Subject:exactly the limit"}));
        QVERIFY(inbox.Item(1).Paged() && inbox.Item(2).Paged());
        QVERIFY(!r.port.PortOpen());
        QCOMPARE(r.view.StatusPanel(QStringLiteral("messages")), QStringLiteral("2 New Message(s) : 2 Total"));
        QVERIFY(r.program->GetTerminal().Text().contains(QStringLiteral("TCP Packet Sent: TOP 1 0")));

        // The next check finds them again: nothing is paged twice. Then one
        // goes from the server and is purged.
        r.port.written.clear();
        r.check();
        QVERIFY(r.pages().isEmpty());
        r.box->messages.removeFirst();
        r.check();
        QCOMPARE(inbox.Count(), 1);
        QVERIFY(inbox.Find(QStringLiteral("<big@x>")));
        QVERIFY(r.pages().isEmpty());
    }

    void sizeFromTheMessageListWhenTheHeaderAnswerHasNone() {
        Rig r;
        r.program->Settings().messageSizeLimit = 1;
        r.box->bareTop = true;
        r.box->messages = {mail("a@x", "small"), mail("b@x", "large", QByteArray(3000, 'y'))};
        r.check(true, false);
        QCOMPARE(r.commandsLike("LIST"), QList<QByteArray>{"LIST"}); // asked once for the account
        QVERIFY(r.program->GetInbox().Item(QStringLiteral("<b@x>")).Size() > 3000);
        QCOMPARE(r.commandsLike("RETR"), QList<QByteArray>{"RETR 1"});
        QVERIFY(r.activity().contains(QStringLiteral("Message #2 was skipped due to size.")));
    }

    void filteredMessagesAreDroppedEachTime() {
        Rig r;
        r.program->GetFilters().Add(QStringLiteral("junk"), CFilter::Subject, CFilter::Contains, QStringLiteral("WIN"), true);
        r.box->messages = {mail("spam@x", "You WIN a prize"), mail("ok@x", "Agenda")};
        r.check();
        QVERIFY(r.activity().contains(QStringLiteral("Message #1 was deleted (SPAM)")));
        QCOMPARE(r.program->GetInbox().Count(), 1);
        QCOMPARE(r.pages().size(), 1);
        QVERIFY(r.pages().first().endsWith(QStringLiteral("|Subject:agenda")));
        // The spam stays on the server: found new and dropped again.
        r.check();
        QCOMPARE(r.activity().count(QStringLiteral("Message #1 was deleted (SPAM)")), 2);
        QCOMPARE(r.pages().size(), 1);
    }

    void bodyOnHighestPriority() {
        Rig r;
        LiveSettings& s = r.program->Settings();
        s.pageBody = false;
        s.pageBodyHighestPriority = true;
        r.box->messages = {mail("p1@x", "urgent", "Call me\r\nnow", "X-Priority: 1 (Highest)\r\n"),
                           mail("p3@x", "normal", "later", "X-Priority: 3\r\n")};
        r.check();
        const QStringList pages = r.pages();
        QCOMPARE(pages.size(), 2);
        // Only the body after the header block goes out, without CRs; its
        // line feeds reach the terminal as spaces.
        QVERIFY(pages[0].endsWith(QStringLiteral("|Subject:urgent|Call me now ")));
        QVERIFY(pages[1].endsWith(QStringLiteral("|Subject:normal")));
    }

    void countOnlyNotices() {
        Rig r;
        r.program->Settings().downloadFlag = false;
        auto countCheck = [&](int messages) {
            r.box->messages.clear();
            for (int i = 0; i < messages; ++i)
                r.box->messages << mail(QByteArray::number(i).constData(), "s");
            r.port.written.clear();
            r.check(false, true);
            return r.pages();
        };
        QCOMPARE(countCheck(3), QStringList{QStringLiteral("<EMAIL 3>")});
        QCOMPARE(countCheck(5), QStringList{QStringLiteral("<EMAIL 5>")});
        QCOMPARE(countCheck(5), QStringList());
        QCOMPARE(countCheck(0), QStringList());
        QCOMPARE(r.program->Session().PreviousTotal(), 0);
        QCOMPARE(r.view.StatusPanel(QStringLiteral("messages")), QStringLiteral("No Messages"));
        QVERIFY(r.commandsLike("TOP").isEmpty());
    }

    void numericPagerGetsTheInboxSize() {
        Rig r;
        r.program->Pagers().Item(1).SetPagerType(2);
        r.box->messages = {mail("old@x", "old")};
        r.check(true, false); // already known, not paged
        r.box->messages << mail("n1@x", "a") << mail("n2@x", "b");
        r.check();
        QCOMPARE(r.port.written.count("ATDT"), 1);
        QVERIFY(r.port.written.contains("ATDT5550100,,,,111*3#\r"));
        QVERIFY(r.activity().contains(QStringLiteral("Digital Pager: Message Sent")));
    }

    void cancelDuringLoginStillPagesAndHangsUp() {
        Rig r;
        r.box->messages = {mail("a@x", "first")};
        r.program->POPAccounts().Add(QStringLiteral("Home"), QStringLiteral("pop2.example.org"), 110,
                                     QStringLiteral("user"), QStringLiteral("secret"), true);
        r.box2->silent = true;
        r.program->GetInbox().Add(std::make_unique<CMail>(), QStringLiteral("<stale@x>"));
        r.pump.schedule(20, [&] { r.program->Status().CancelClicked(); });
        r.check();
        // The stale message would have gone with a complete read.
        QVERIFY(r.program->GetInbox().Find(QStringLiteral("<stale@x>")));
        QCOMPARE(r.pages().size(), 1);
        QVERIFY(r.pages().first().endsWith(QStringLiteral("|Subject:first")));
        QVERIFY(!r.port.PortOpen());
        QVERIFY(!r.program->Status().IsLoaded()); // hung up: the status window is closed
        // The cancel is told once, not as a socket fault or a failed login.
        QCOMPARE(r.activity().count(QStringLiteral("Mail check cancelled")), 1);
        QVERIFY(!r.activity().contains(QStringLiteral("Winsock Error")));
        QVERIFY(!r.activity().contains(QStringLiteral("could not log in")));
    }

    void socketErrorAndMissingIdBlockThePurge() {
        Rig r;
        r.program->GetInbox().Add(std::make_unique<CMail>(), QStringLiteral("<stale@x>"));
        r.box->messages = {mail("", "no id here"), mail("b@x", "fine")};
        r.check(true, false);
        QVERIFY(r.program->GetInbox().Find(QStringLiteral("<stale@x>")));
        QVERIFY(r.program->GetInbox().Find(QStringLiteral("<b@x>")));
        QCOMPARE(r.program->GetInbox().Count(), 2);

        Rig d;
        d.program->GetInbox().Add(std::make_unique<CMail>(), QStringLiteral("<stale@x>"));
        d.box->messages = {mail("a@x", "a"), mail("b@x", "b")};
        d.box->dropAfter = "TOP";
        d.check(true, false);
        QVERIFY(d.activity().contains(QStringLiteral("Winsock Error using POP: ")));
        QVERIFY(d.program->GetTerminal().Text().contains(QStringLiteral("POP Winsock Error ")));
        QVERIFY(d.program->GetInbox().Find(QStringLiteral("<stale@x>")));
        QVERIFY(d.program->MinuteTimer().isActive());
    }

    void badLoginAndNoConnection() {
        Rig r;
        r.box->password = QStringLiteral("other");
        r.box->messages = {mail("a@x", "a")};
        r.check();
        QVERIFY(r.program->GetInbox().Count() == 0);
        QVERIFY(r.commandsLike("TOP").isEmpty());

        Rig n;
        n.program->Settings().connectionType = ConnDialUp; // no dial-up control in this rig
        n.check();
        QVERIFY(n.activity().contains(QStringLiteral("Internet: Connection was not established...")));
        QVERIFY(n.box->commands.isEmpty());
        QVERIFY(n.program->MinuteTimer().isActive());
    }

    // ---- Server faults ---------------------------------------------------

    // The server stops before answering the header request of the last
    // message: that message gets no stale answer of the one before, stays in
    // the inbox (no purge) and is not paged again later.
    void headerRequestWithoutItsOwnAnswer_data() {
        QTest::addColumn<bool>("closes");
        QTest::newRow("server falls silent") << false;
        QTest::newRow("server closes") << true;
    }
    void headerRequestWithoutItsOwnAnswer() {
        QFETCH(bool, closes);
        Rig r;
        r.box->messages = {mail("a@x", "first"), mail("b@x", "second")};
        r.check();
        QCOMPARE(r.pages().size(), 2);
        (closes ? r.box->dropAfter : r.box->silentAfter) = "TOP 2";
        r.check();
        QVERIFY(r.program->GetInbox().Find(QStringLiteral("<b@x>")));
        QCOMPARE(r.activity().count(QStringLiteral("Work: no answer to the header request for message #2; "
                                                   "reading stopped, nothing is purged this time")),
                 1);
        QVERIFY(!r.program->Session().LastOutcome().Clean());
        r.box->dropAfter.clear();
        r.box->silentAfter.clear();
        r.check();
        QCOMPARE(r.pages().size(), 2);
        QVERIFY(r.program->Session().LastOutcome().Clean());
    }

    // Each fault gets one line naming the account (and the messages), however
    // many messages it concerns.
    void faultsAreLoggedOncePerAccount_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("clean");
        QTest::newRow("wrong password") << "password"
                                        << "Work: login refused by the server (check the user name and password)" << false;
        QTest::newRow("header refused") << "refuse"
                                        << "Work: the server refused the header of messages #1, #3; not paged this time"
                                        << false;
        QTest::newRow("no Message-ID") << "noid"
                                       << "Work: no Message-ID: header in messages #1, #3; not paged, and nothing is "
                                          "purged while it stays on the server"
                                       << true;
        QTest::newRow("header too big") << "big"
                                        << "Work: the headers of messages #1, #3 are larger than 1 MiB; passed over "
                                           "and not paged"
                                        << true;
    }
    void faultsAreLoggedOncePerAccount() {
        QFETCH(QString, fault);
        QFETCH(QString, line);
        QFETCH(bool, clean);
        Rig r;
        const bool noId = fault == QLatin1String("noid");
        r.box->messages = {mail(noId ? "" : "a@x", "a"), mail("b@x", "b"), mail(noId ? "" : "c@x", "c")};
        if (fault == QLatin1String("password"))
            r.box->password = QStringLiteral("other");
        if (fault == QLatin1String("refuse"))
            r.box->refuseTop = {1, 3};
        const bool big = fault == QLatin1String("big");
        if (big) {
            const QByteArray huge = "X-Huge: " + QByteArray((2 << 20) + 5, 'h') + "\r\n";
            r.box->messages[0] = mail("a@x", "a", "Hello there.", huge.constData());
            r.box->messages[2] = mail("c@x", "c", "Hello there.", huge.constData());
            r.box->chunkSize = 1 << 16;
            r.box->chunkDelay = 0.001;
            r.box->uidl = true;
        }
        r.check();
        QCOMPARE(r.activity().count(line), 1);
        QCOMPARE(r.program->Session().LastOutcome().Clean(), clean);
        // The one readable message is paged whatever happened to the others.
        QCOMPARE(r.pages().size(), fault == QLatin1String("password") ? 0 : 1);
        if (big) {
            // Remembered by unique ID: not asked for, said or paged again.
            const qsizetype asked = r.commandsLike("TOP").size();
            r.check();
            QCOMPARE(r.commandsLike("TOP").size(), asked);
            QCOMPARE(r.activity().count(line), 1);
            QCOMPARE(r.pages().size(), 1);
            QVERIFY(r.program->Session().LastOutcome().Clean());
        }
    }

    // A frozen server cannot hold a check: a header answer trickling one
    // byte a minute fails at the command's deadline, set in the settings file.
    void tricklingServerEndsAtTheDeadline() {
        ProgramRig p;
        p.store.write(kAppTitle, kSettingsSection, QStringLiteral("POPCommandTimeout"), QStringLiteral("30"));
        p.store.write(kAppTitle, kSettingsSection, QStringLiteral("POPDownloadTimeout"), QStringLiteral("ten"));
        ScriptedNet net{p.pump};
        SocketRegistry sockets;
        Pop3Client pop{p.pump, net, sockets};
        TcpControl tcp{sockets};
        p.startWithoutProfile({.pop = &pop, .tcp = &tcp});
        QCOMPARE(pop.CommandDeadline(), 30.0);
        QCOMPARE(pop.DownloadDeadline(), PopControl::kDefaultDownloadDeadline);
        QVERIFY(p.activity().contains(
            QStringLiteral("Setting POPDownloadTimeout = \"ten\" is not a number of seconds from 1 to 86400; 300 is used")));

        auto box = std::make_shared<Pop3Mailbox>();
        box->messages = {mail("a@x", "a")};
        box->silentAfter = "NONE";
        net.listen(QStringLiteral("pop.example.org"), 110, [box] { return makePop3Script(box); });
        p.program->Settings().connectionType = ConnDirect;
        p.program->Settings().downloadFlag = true;
        p.program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                                     QStringLiteral("user"), QStringLiteral("secret"), true);
        // After the login every answer trickles.
        QObject::connect(&pop, &PopControl::loginComplete, &pop, [box] {
            box->chunkSize = 1;
            box->chunkDelay = 59;
        });
        const double before = p.pump.elapsedSeconds();
        p.program->Session().Check(true, false);
        QVERIFY2(p.pump.elapsedSeconds() - before < 100, qPrintable(QString::number(p.pump.elapsedSeconds() - before)));
        QVERIFY(p.activity().contains(QStringLiteral("Winsock Error using POP: ")));
        QVERIFY(p.activity().contains(QStringLiteral("Work: no answer to the header request for message #1")));
        QVERIFY(!p.program->Session().LastOutcome().Clean());
    }

    // A download of the last message cut off by silence: the header was read,
    // but the check does not count as clean.
    void downloadCutOffIsAnError() {
        Rig r;
        r.box->messages = {mail("a@x", "a")};
        r.box->silentAfter = "RETR";
        r.check(true, false);
        QVERIFY(r.activity().contains(QStringLiteral("Failed to receive message #1")));
        QVERIFY(!r.program->Session().LastOutcome().Clean());
    }

    // ---- Page delivery -------------------------------------------------

    // A page the terminal did not take leaves its message unpaged: it goes
    // again at the next check, and after three failed checks it is given up.
    void onlyDeliveredPagesMarkTheirMessage() {
        Rig r;
        auto refuseBlocks = [&](bool on) {
            if (on)
                r.port.rules.prepend({QRegularExpression(QStringLiteral("^\\x03")), "\x15\r", 0.3});
            else
                r.port.rules.removeFirst();
        };
        r.box->messages = {mail("a@x", "first")};
        refuseBlocks(true);
        r.check();
        CMail& first = r.program->GetInbox().Item(QStringLiteral("<a@x>"));
        QVERIFY(!first.Paged());
        const QString notDelivered = QStringLiteral("Page for \"first\" from ann lee <ann@example.org> not delivered");
        QCOMPARE(r.activity().count(notDelivered + QStringLiteral(" (attempt 1 of 3); tried again at the next check")), 1);
        QCOMPARE(r.program->Session().LastOutcome().pagesNotDelivered, 1);
        refuseBlocks(false);
        r.check();
        QVERIFY(first.Paged());
        QVERIFY(r.program->Session().LastOutcome().Clean());
        QCOMPARE(r.pages().size(), 2); // the failed frame, then the delivered one
        r.check();
        QCOMPARE(r.pages().size(), 2);

        // Failing every time: tried at three checks, then given up.
        r.box->messages << mail("b@x", "second");
        refuseBlocks(true);
        for (int i = 0; i < 4; ++i)
            r.check();
        QCOMPARE(r.pages().size(), 2 + 3);
        QCOMPARE(r.activity().count(QStringLiteral("Page for \"second\" from ann lee <ann@example.org> not delivered "
                                                   "after 3 attempts; given up")),
                 1);
        QVERIFY(r.program->GetInbox().Item(QStringLiteral("<b@x>")).Paged());
    }

    // A page pager 1 does not deliver goes down the fallback chain in the
    // same check; one that no pager of the chain takes is given up at once,
    // raises the alarm and is never tried again.
    void fallbackWalk_data() {
        QTest::addColumn<QStringList>("refusingPhones");
        QTest::addColumn<int>("fallbackLines"); // "trying fallback pager" lines
        QTest::addColumn<bool>("byFallback");
        QTest::addColumn<bool>("givenUp");
        QTest::newRow("pager 1 delivers") << QStringList{} << 0 << false << false;
        QTest::newRow("pager 2 delivers") << QStringList{"5551234"} << 1 << true << false;
        QTest::newRow("pager 3 delivers") << QStringList{"5551234", "5552222"} << 2 << true << false;
        QTest::newRow("none delivers") << QStringList{"5551234", "5552222", "5553333"} << 2 << false << true;
    }
    void fallbackWalk() {
        QFETCH(QStringList, refusingPhones);
        QFETCH(int, fallbackLines);
        QFETCH(bool, byFallback);
        QFETCH(bool, givenUp);
        Rig r;
        // Pagers 2 and 3 reach terminals of their own numbers.
        for (int n : {2, 3}) {
            const QString phone = QStringLiteral("555%1").arg(n * 1111);
            CPagerService& service = r.program->Services().Add(CPagerService(), QStringLiteral("Service%1").arg(n));
            setUpTapService(service, phone, 2, QStringLiteral("AT&F"));
            service.SetMaxPageChar(200);
            CPager pager;
            pager.SetID(QStringLiteral("%1000").arg(n));
            pager.SetServiceName(QStringLiteral("Service%1").arg(n));
            r.program->Pagers().Add(std::move(pager), QStringLiteral("backup%1").arg(n));
        }
        r.program->Escalation().fallback = {QStringLiteral("backup2"), QStringLiteral("backup3")};
        // A terminal reached by a refusing number answers every block with NAK.
        QString dialled;
        r.port.script = [&](const QString& command) -> std::optional<QByteArray> {
            if (command.startsWith(QStringLiteral("ATD")))
                dialled = command.mid(4);
            else if (command.startsWith(QLatin1Char('\x03')) && refusingPhones.contains(dialled))
                return QByteArray("\x15\r");
            return std::nullopt;
        };
        r.box->messages = {mail("a@x", "urgent")};
        r.check();

        const QString log = r.activity();
        QCOMPARE(log.count(QStringLiteral("trying fallback pager")), fallbackLines);
        QCOMPARE(log.count(QStringLiteral("Page delivered by fallback pager")), byFallback ? 1 : 0);
        QCOMPARE(log.count(QStringLiteral("not delivered by any of 3 pagers; given up")), givenUp ? 1 : 0);
        QCOMPARE(r.pages().size(), refusingPhones.size() + (givenUp ? 0 : 1));
        // Delivered or given up, the message is done with.
        QVERIFY(r.program->GetInbox().Item(QStringLiteral("<a@x>")).Paged());
        QCOMPARE(r.program->Alarm().Set(), givenUp);
        QCOMPARE(r.program->Session().LastOutcome().pagesNotDelivered, givenUp ? 1 : 0);
        // The next check sends nothing more.
        const int sent = r.pages().size();
        r.check();
        QCOMPARE(r.pages().size(), sent);
    }

    // A failed logon sends nothing: none of the messages counts as paged.
    void failedLogonPagesNothing() {
        Rig r;
        r.program->Services().Item(1).SetPhone(QStringLiteral("5559999"));
        r.port.rules.prepend({QRegularExpression(QStringLiteral("^ATDT5559999")), "\r\nBUSY\r\n", 1});
        r.box->messages = {mail("a@x", "a"), mail("b@x", "b")};
        r.check();
        for (const CMail& m : r.program->GetInbox())
            QVERIFY(!m.Paged() && m.PageAttempts() == 1);
        QCOMPARE(r.program->Session().LastOutcome().pagesNotDelivered, 2);
    }

    void bodyAfterHeaders() {
        QCOMPARE(CheckSession::BodyAfterHeaders(QStringLiteral("A: b\r\nC: d\r\n\r\nbody\r\n")), QStringLiteral("body\r\n"));
        QCOMPARE(CheckSession::BodyAfterHeaders(QStringLiteral("A: b\n\nbody")), QStringLiteral("body"));
        QCOMPARE(CheckSession::BodyAfterHeaders(QStringLiteral("headers only\r\n")), QString());
    }

    void aMessageReadInTheViewerIsNotPaged() {
        Rig r;
        r.box->messages = {mail("read@x", "Read already"), mail("unread@x", "Not yet")};
        // Downloaded while paging is off: both wait unpaged.
        r.check(true, false);
        QVERIFY(r.port.written.isEmpty());
        MailViewer viewer(r.program->MailViewerServices());
        QCOMPARE(viewer.DisplayMessage(1)->subject, QStringLiteral("read already"));
        viewer.Closed();
        QCOMPARE(r.view.StatusPanel(QStringLiteral("messages")), QStringLiteral("1 New Message(s) : 2 Total"));
        r.pump.pause(600, nullptr);
        r.check();
        QCOMPARE(r.pages(), QStringList{QStringLiteral(
                                "mon, 7 dec 2026 09:15:00 +0000|From:ann lee <ann@example.org>|Subject:not yet")});
        QVERIFY(!r.program->GetInbox().Item(1).Paged());
    }
};

QTEST_GUILESS_MAIN(TestCheckSession)
#include "test_checksession.moc"
