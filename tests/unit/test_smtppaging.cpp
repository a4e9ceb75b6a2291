// E-mail pages and the quick note in virtual time: the queue hands type-1
// pages to SendSMTPPage, which talks to a scripted SMTP server through the
// real SMTP client; the quick note sends with its own control.

#include "state/commstatus.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "features/paging/quicknote.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "state/appinfo.h"
#include "state/mailsecurity.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

using namespace tessaly;

namespace {

const QString kHost = QStringLiteral("smtp.carrier.example");
const QString kPager = QStringLiteral("5551234@pager.example");

class StatusRecorder : public StatusView {
public:
    void ShowWindow() override { shown = true; }
    void HideWindow() override { shown = false; }
    bool IsShown() const override { return shown; }
    bool IsMinimized() const override { return false; }
    void SetStatusText(const QString& t) override { texts << t; }
    QSize SizeTwips() const override { return {3960, 1335}; }
    QPoint PositionTwips() const override { return {}; }
    void MoveTwips(const QPoint&) override {}
    void CloseWindow() override { shown = false; }
    bool shown = false;
    QStringList texts;
};

struct Rig {
    QTemporaryDir dir;
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    HeadlessMainView view{false};
    FakeDialupControl dialup{pump};
    ScriptedNet net{pump};
    std::shared_ptr<SmtpSink> sink = std::make_shared<SmtpSink>();
    SmtpClient smtp{pump, net}; // the main window's control
    StatusRecorder status;
    std::unique_ptr<MainProgram> program;

    Rig() {
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        auto s = sink;
        net.listen(kHost, 25, [s] { return makeSmtpScript(s); });
        program = std::make_unique<MainProgram>(
            PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520), nullptr,
                             nullptr, &dialup, nullptr, nullptr, &smtp},
            view);
        program->Startup(QString());
        program->Status().Attach(&status);
        LiveSettings& st = program->Settings();
        st.connectionType = ConnDirect;
        st.statusWindowFlag = true;
        st.smtpHostName = kHost;
        st.smtpHostAddress.clear();
        st.smtpPort = 25;
        st.domainName = QStringLiteral("home.example");
        st.maxPagesPerMessage = 0;
        st.dialUpEntry = QStringLiteral("My ISP");
        st.dialUpUser = QStringLiteral("ann");
        st.dialUpPassword = QStringLiteral("pw");
        st.dialTimeout = 60;
        program->Services().Item(1).SetMaxPageChar(40);
        program->Pagers().Item(1).SetFromAddress(QStringLiteral("owner@home.example"));
    }
    ~Rig() { program->Status().Attach(nullptr); }

    void queuePage(const QString& text, const std::optional<QString>& from, const QString& subject) {
        program->Queue().Add(QStringLiteral("Default"), kPager, text, false, PagerAlphaSMTP, from, subject);
    }
    // Activity lines without their date and time.
    QStringList activity() const {
        QStringList out;
        for (const QString& line : program->ActivityText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out << line.left(line.lastIndexOf(QLatin1String("   ")));
        return out;
    }
    QStringList bodies() const {
        QStringList out;
        for (const SmtpMessage& m : sink->messages)
            out << body(m);
        return out;
    }
    static QString body(const SmtpMessage& m) {
        QString data = QString::fromLatin1(m.data);
        data = data.mid(data.indexOf(QLatin1String("\r\n\r\n")) + 4);
        if (data.endsWith(QLatin1String("\r\n")))
            data.chop(2);
        return data;
    }
    static QString header(const SmtpMessage& m, const QString& name) {
        const QString data = QString::fromLatin1(m.data);
        for (const QString& line : data.left(data.indexOf(QLatin1String("\r\n\r\n"))).split(QStringLiteral("\r\n")))
            if (line.startsWith(name + QLatin1String(": ")))
                return line.mid(name.size() + 2);
        return QStringLiteral("<missing>");
    }
};

const QString kHundred = QString(40, QLatin1Char('a')) + QString(40, QLatin1Char('b')) + QString(20, QLatin1Char('c'));

} // namespace

class TestSmtpPaging : public QObject {
    Q_OBJECT
private slots:
    void hundredCharactersGoAsThreeMails() {
        Rig r;
        r.queuePage(kHundred, QStringLiteral("alerts@home.example"), QStringLiteral("Server down"));
        r.program->SendQueue();

        QCOMPARE(r.program->Queue().Count(), 0);
        QCOMPARE(r.bodies(), (QStringList{QString(40, QLatin1Char('a')), QString(40, QLatin1Char('b')),
                                          QString(20, QLatin1Char('c'))}));
        for (const SmtpMessage& m : r.sink->messages) {
            QCOMPARE(m.helo, QByteArray("home.example"));
            QCOMPARE(m.mailFrom, QByteArray("<alerts@home.example>"));
            QCOMPARE(m.rcptTo, QList<QByteArray>{"<5551234@pager.example>"});
            QCOMPARE(Rig::header(m, QStringLiteral("Subject")), QStringLiteral("Server down"));
            QCOMPARE(Rig::header(m, QStringLiteral("From")), QStringLiteral("alerts@home.example"));
        }
        QCOMPARE(r.status.texts,
                 (QStringList{QStringLiteral("Connecting to SMTP Server"),
                              QStringLiteral("Sending Message #1 (1 of 3)"), QStringLiteral("Message #1 sent successfully"),
                              QStringLiteral("Sending Message #1 (2 of 3)"), QStringLiteral("Message #1 sent successfully"),
                              QStringLiteral("Sending Message #1 (3 of 3)"), QStringLiteral("Message #1 sent successfully")}));
        QCOMPARE(r.activity().filter(QStringLiteral("SMTP Message")),
                 (QStringList{QStringLiteral("SMTP Message #1 (1 of 3) sent successfully"),
                              QStringLiteral("SMTP Message #1 (2 of 3) sent successfully"),
                              QStringLiteral("SMTP Message #1 (3 of 3) sent successfully")}));
        // A direct connection dials nothing, before or after.
        QVERIFY(r.dialup.calls.isEmpty());
        // The server's lines and each closing reach the terminal window.
        const QString terminal = r.program->GetTerminal().Text();
        QVERIFY(terminal.contains(QLatin1String("SMTP Recv: 220 scripted.example ESMTP\r\n")));
        QCOMPARE(terminal.count(QLatin1String("SMTP Socket Closed: \r\n")), 3);
        QVERIFY(!r.program->InternetError());
    }

    void refusedBlockSendsTheWholePageAgain() {
        Rig r;
        r.sink->refuseMessages = {2};
        r.queuePage(kHundred, QStringLiteral("alerts@home.example"), QStringLiteral("Server down"));
        r.program->SendQueue();
        // Attempt 1: blocks 1 and 3 accepted, 2 refused; attempt 2: all three.
        QCOMPARE(r.sink->dataCount, 6);
        QCOMPARE(r.bodies().size(), 5);
        QCOMPARE(r.bodies().mid(2), (QStringList{QString(40, QLatin1Char('a')), QString(40, QLatin1Char('b')),
                                                 QString(20, QLatin1Char('c'))}));
        const QStringList lines = r.activity();
        QCOMPARE(lines.count(QStringLiteral("SMTP Message #1 (1 of 3) sent successfully")), 2);
        QCOMPARE(lines.count(QStringLiteral("SMTP Message #1 (2 of 3) sent successfully")), 1);
        QCOMPARE(lines.count(QStringLiteral("SMTP Message #1 (3 of 3) sent successfully")), 2);
        QVERIFY(lines.filter(QStringLiteral("Unable to send message")).isEmpty());
        // A refusal by the server is no socket error.
        QVERIFY(lines.filter(QStringLiteral("Winsock")).isEmpty());
    }

    void fourFailedAttemptsAreReported() {
        Rig r;
        r.sink->rejectData = 554;
        r.queuePage(QStringLiteral("short"), QStringLiteral("alerts@home.example"), QString());
        r.program->SendQueue();
        QCOMPARE(r.sink->dataCount, 4);
        QVERIFY(r.sink->messages.isEmpty());
        QCOMPARE(r.activity().filter(QStringLiteral("send")),
                 QStringList{QStringLiteral("Unable to send message: Error1")});
        QVERIFY(r.status.texts.contains(QStringLiteral("Unable to send message")));
        QCOMPARE(r.status.texts.count(QStringLiteral("Connecting to SMTP Server")), 4);
    }

    // A login the server refuses, or one without a password, is tried once in
    // a round of pages, not once per attempt and page; the next round tries again.
    void refusedLoginIsNotRetried_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("authCommands");
        QTest::addColumn<QString>("line");
        QTest::newRow("refused") << "wrong" << 1
                                 << "SMTP server smtp.carrier.example refused the login of pager (check the user "
                                    "name and password): 535 Authentication credentials invalid";
        QTest::newRow("unreadable security") << "pw" << 0
                                             << "Outgoing mail: the security setting \"bogus\" is not one of "
                                                "automatic, TLS, STARTTLS required, none; nothing was sent";
        QTest::newRow("no password") << "" << 0
                                     << "SMTP server smtp.carrier.example: the user name pager is set but no "
                                        "password or password command (Options, Outgoing Mail); nothing was sent";
    }
    void refusedLoginIsNotRetried() {
        QFETCH(QString, password);
        QFETCH(int, authCommands);
        QFETCH(QString, line);
        Rig r;
        r.sink->offerAuth = true;
        r.sink->refuseAuth = 535;
        SaveMailSecurity(r.store, MailSecurity{Security::None, QStringLiteral("pager"), password, {}, {}});
        if (QByteArray(QTest::currentDataTag()) == "unreadable security")
            r.store.write(kAppTitle, kOutgoingSection, QStringLiteral("Security"), QStringLiteral("bogus"));
        QList<bool> delivered;
        for (int round = 1; round <= 2; ++round) {
            r.queuePage(QStringLiteral("one"), QString(), QStringLiteral("a"));
            r.queuePage(QStringLiteral("two"), QString(), QStringLiteral("b"));
            r.program->SendQueue([&](int, bool ok) { delivered << ok; });
            const auto auths = std::count_if(r.sink->commands.begin(), r.sink->commands.end(),
                                             [](const QByteArray& c) { return c.startsWith("AUTH"); });
            QCOMPARE(int(auths), authCommands * round);
            QCOMPARE(r.activity().count(line), round);
        }
        QCOMPARE(delivered, (QList<bool>{false, false, false, false}));
        QVERIFY(r.sink->messages.isEmpty());
        QVERIFY(r.activity().filter(QStringLiteral("not sent: it cannot go with the current outgoing mail settings")).size() == 2);
    }

    void socketErrorsAreReported() {
        Rig r;
        r.program->Settings().smtpHostName = QStringLiteral("smtp.nowhere.invalid");
        r.queuePage(QStringLiteral("short"), QStringLiteral("alerts@home.example"), QString());
        r.program->SendQueue();
        const QStringList lines = r.activity();
        QCOMPARE(lines.count(QStringLiteral("Winsock Error using SMTP: Host not found")), 4);
        QCOMPARE(lines.last(), QStringLiteral("Unable to send message: Error1"));
        QCOMPARE(r.program->GetTerminal().Text().count(
                     QLatin1String("SMTP Winsock Error 1001, WSAHOST_NOT_FOUND: Host not found\r\n")),
                 4);
        QVERIFY(r.program->InternetError());
    }

    void pageWithoutSenderGoesFromPagerOne() {
        Rig r;
        // What the mail check queues: no sender.
        r.queuePage(QStringLiteral("New mail from Bob"), QString(), QStringLiteral("Mail"));
        r.program->SendQueue();
        QCOMPARE(r.sink->messages.size(), 1);
        QCOMPARE(r.sink->messages[0].mailFrom, QByteArray("<owner@home.example>"));
        QCOMPARE(Rig::header(r.sink->messages[0], QStringLiteral("From")), QStringLiteral("owner@home.example"));
    }

    void cancelBetweenBlocksEndsSilently() {
        Rig r;
        // The user presses Cancel while the first block is going out.
        QObject::connect(&r.smtp, &SmtpControl::socketClosed, &r.smtp, [&r] { r.program->CancelFlag() = true; });
        r.queuePage(kHundred, QStringLiteral("alerts@home.example"), QString());
        r.program->SendQueue();
        QCOMPARE(r.sink->dataCount, 1);
        QCOMPARE(r.activity().filter(QStringLiteral("SMTP Message")).size(), 1);
        QVERIFY(r.activity().filter(QStringLiteral("Unable")).isEmpty());
        QCOMPARE(r.program->Queue().Count(), 0);
    }

    void dialUpBeforeSending() {
        Rig r;
        r.program->Settings().connectionType = ConnDialUp;
        // A dial-up that fails: nothing is sent and this sender writes nothing.
        r.dialup.script = {{1.0, FakeDialupControl::StateOpenPort, 678}};
        r.queuePage(QStringLiteral("short"), QStringLiteral("alerts@home.example"), QString());
        r.program->SendQueue();
        QCOMPARE(r.dialup.calls.count(QStringLiteral("dial My ISP ann pw")), 4);
        QVERIFY(r.sink->commands.isEmpty());
        QVERIFY(r.activity().filter(QStringLiteral("Unable to send message")).isEmpty());
        // A dial-up that works: one dial, the page, and no hang-up (the
        // queue's caller hangs up).
        r.dialup.calls.clear();
        r.dialup.script = {{1.0, FakeDialupControl::StateConnected, 0}};
        r.queuePage(QStringLiteral("short"), QStringLiteral("alerts@home.example"), QString());
        r.program->SendQueue();
        QCOMPARE(r.dialup.calls, QStringList{QStringLiteral("dial My ISP ann pw")});
        QCOMPARE(r.sink->messages.size(), 1);
    }

    // The queue tells of each page whether it went out; the e-mail sender's
    // result state says so honestly.
    void eachPageReportsWhetherItWasDelivered_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<bool>>("delivered");
        QTest::newRow("accepted") << "" << QList<bool>{true, true};
        QTest::newRow("second refused four times") << "refuse" << QList<bool>{true, false};
        QTest::newRow("unknown host") << "host" << QList<bool>{false, false};
        QTest::newRow("dial-up fails") << "dialup" << QList<bool>{false, false};
        QTest::newRow("cancelled") << "cancel" << QList<bool>{false, false};
    }
    void eachPageReportsWhetherItWasDelivered() {
        QFETCH(QString, fault);
        QFETCH(QList<bool>, delivered);
        Rig r;
        if (fault == QLatin1String("refuse"))
            r.sink->refuseMessages = {2, 3, 4, 5};
        if (fault == QLatin1String("host"))
            r.program->Settings().smtpHostName = QStringLiteral("smtp.nowhere.invalid");
        if (fault == QLatin1String("dialup")) {
            r.program->Settings().connectionType = ConnDialUp;
            r.dialup.script = {{1.0, FakeDialupControl::StateOpenPort, 678}};
        }
        // Cancel pressed while the first block of the first page goes out.
        if (fault == QLatin1String("cancel"))
            QObject::connect(&r.smtp, &SmtpControl::socketClosed, &r.smtp, [&r] { r.program->CancelFlag() = true; });
        r.queuePage(fault == QLatin1String("cancel") ? kHundred : QStringLiteral("one"), QString(), QString());
        r.queuePage(QStringLiteral("two"), QString(), QString());
        QList<bool> told;
        r.program->SendQueue([&](int position, bool ok) {
            QCOMPARE(position, told.size() + 1);
            told << ok;
        });
        QCOMPARE(told, delivered);
    }

    // ---- The quick note -------------------------------------------------

    void quickNoteAsksForReplyToAndSends() {
        Rig r;
        r.program->Settings().connectionType = ConnDialUp;
        r.program->Settings().smtpPort = 2525; // the same server port as the pages
        auto sink = r.sink;
        r.net.listen(kHost, 2525, [sink] { return makeSmtpScript(sink); });
        r.program->Pagers().Item(1).SetFromAddress(QString());
        SmtpClient own(r.pump, r.net);
        QuickNote note(r.program->QuickNoteServices(), own);
        QCOMPARE(note.Load(), QString());
        QCOMPARE(own.Mailer(), QStringLiteral("Tessaly v1.1"));
        QCOMPARE(own.Port(), 2525);

        r.prompter.queueInput(QStringLiteral("ann@home.example"));
        const auto outcome = note.Send({QStringLiteral("bob@example.org"), QStringLiteral("Lunch"),
                                        QString(), QStringLiteral("At noon?\nAnn")});
        QCOMPARE(outcome, QuickNote::Outcome::Sent);
        QVERIFY(QuickNote::ClosesWindow(outcome));
        QCOMPARE(r.prompter.inputPrompts(), QStringList{QStringLiteral("Enter your reply-to email address...")});
        QCOMPARE(r.program->Pagers().Item(1).FromAddress(), QStringLiteral("ann@home.example"));
        QVERIFY(r.program->ProfileChanged());

        QCOMPARE(r.sink->messages.size(), 1);
        const SmtpMessage& m = r.sink->messages[0];
        QCOMPARE(m.mailFrom, QByteArray("<ann@home.example>"));
        QCOMPARE(m.rcptTo, QList<QByteArray>{"<bob@example.org>"});
        QCOMPARE(Rig::header(m, QStringLiteral("Subject")), QStringLiteral("Lunch"));
        QCOMPARE(Rig::header(m, QStringLiteral("X-Mailer")), QStringLiteral("Tessaly v1.1"));
        QCOMPARE(Rig::body(m), QStringLiteral("At noon?\r\nAnn"));
        QVERIFY(r.status.texts.contains(QStringLiteral("Sending Message")));
        QVERIFY(r.activity().contains(QStringLiteral("Message sent successfully")));
        QCOMPARE(r.dialup.calls, (QStringList{QStringLiteral("dial My ISP ann pw"), QStringLiteral("hangup")}));
        // The note's own control reports to the terminal window as well.
        QVERIFY(r.program->GetTerminal().Text().contains(QLatin1String("SMTP Recv: 250 OK queued")));
    }

    void quickNoteReplyToRule() {
        Rig r;
        SmtpClient own(r.pump, r.net);
        QuickNote note(r.program->QuickNoteServices(), own);
        QCOMPARE(note.Load(), QStringLiteral("owner@home.example"));
        // Both known: the field is the sender, nothing is asked.
        QCOMPARE(note.Send({kPager, QString(), QStringLiteral("desk@home.example"), QStringLiteral("hi")}),
                 QuickNote::Outcome::Sent);
        QVERIFY(r.prompter.inputPrompts().isEmpty());
        QCOMPARE(r.sink->messages.last().mailFrom, QByteArray("<desk@home.example>"));
        QCOMPARE(r.program->Pagers().Item(1).FromAddress(), QStringLiteral("owner@home.example"));
        // An empty field asks; a cancelled question sends nothing and keeps the stored address.
        r.prompter.queueInput(std::nullopt);
        const auto outcome = note.Send({kPager, QString(), QString(), QStringLiteral("hi")});
        QCOMPARE(outcome, QuickNote::Outcome::NoSender);
        QVERIFY(!QuickNote::ClosesWindow(outcome));
        QCOMPARE(r.prompter.inputPrompts().size(), 1);
        QCOMPARE(r.sink->messages.size(), 1);
        QCOMPARE(r.program->Pagers().Item(1).FromAddress(), QStringLiteral("owner@home.example"));
    }

    void quickNoteFailsAfterFourAttempts() {
        Rig r;
        r.sink->rejectRcpt = 550;
        SmtpClient own(r.pump, r.net);
        QuickNote note(r.program->QuickNoteServices(), own);
        note.Load();
        const auto outcome = note.Send({kPager, QString(), QStringLiteral("desk@home.example"), QStringLiteral("hi")});
        QCOMPARE(outcome, QuickNote::Outcome::Failed);
        QVERIFY(!QuickNote::ClosesWindow(outcome)); // the typed note is kept
        QCOMPARE(std::count_if(r.sink->commands.begin(), r.sink->commands.end(),
                               [](const QByteArray& c) { return c.startsWith("RCPT"); }),
                 4);
        QCOMPARE(r.activity().last(), QStringLiteral("Unable to send message: Error1"));
        QVERIFY(!r.activity().contains(QStringLiteral("Message sent successfully")));
    }

    void quickNoteStaysOpenWhenDialUpFails() {
        Rig r;
        r.program->Settings().connectionType = ConnDialUp;
        r.dialup.script = {{1.0, FakeDialupControl::StateOpenPort, 678}};
        SmtpClient own(r.pump, r.net);
        QuickNote note(r.program->QuickNoteServices(), own);
        note.Load();
        const auto outcome = note.Send({kPager, QString(), QStringLiteral("desk@home.example"), QStringLiteral("hi")});
        QCOMPARE(outcome, QuickNote::Outcome::NoConnection);
        QVERIFY(!QuickNote::ClosesWindow(outcome));
        QVERIFY(r.sink->commands.isEmpty());
        QCOMPARE(r.dialup.calls.last(), QStringLiteral("hangup"));
    }

    void quickNoteAfterAnEarlierCancel() {
        Rig r;
        // A Cancel pressed during an earlier send does not stop a new note.
        r.program->CancelFlag() = true;
        SmtpClient own(r.pump, r.net);
        QuickNote note(r.program->QuickNoteServices(), own);
        note.Load();
        QCOMPARE(note.Send({kPager, QString(), QStringLiteral("desk@home.example"), QStringLiteral("hi")}),
                 QuickNote::Outcome::Sent);
    }
};

QTEST_GUILESS_MAIN(TestSmtpPaging)
#include "test_smtppaging.moc"
