// Remote commands: the line syntax, every command with and without the
// password, the countdown before a shutdown or restart, and how the inbox
// offers command messages (once, also after a restart) and keeps their
// password out of sight.

#include "features/mail/inboxstate.h"
#include "features/remote/remotecommands.h"
#include "ground/remotetext.h"
#include "state/appstate.h"
#include "tests/fakes/fakeremoteservices.h"
#include "tests/fakes/programrig.h"

#include <QtTest>

using namespace tessaly;
using Ending = SessionControl::Ending;

namespace {

struct Lines : ActivityLog {
    QStringList lines;
    void LogActivity(const QString& text) override { lines << text; }
    CLogFile* Log() override { return nullptr; }
};

const QString kPre = QStringLiteral("Remote Command: ");

// An interpreter over fakes, starting with paging on, schedule off, interval 60.
struct Rig {
    VirtualEventPump pump;
    LiveSettings settings;
    Lines log;
    FakeDesktopShell shell;
    FakeSessionControl session;
    RecordingCountdownView view;
    int saves = 0, quits = 0;
    int endingsWhenStateKept = -1;
    RemoteCommands remote{RemoteContext{pump, settings, log, &shell, &session,
                                        [this] { return std::make_unique<ForwardingCountdownView>(view); },
                                        [this] { ++saves; }, [this] { ++quits; },
                                        [this] { endingsWhenStateKept = int(session.endings.size()); }}};
    explicit Rig(const QString& password) {
        settings.remotePassword = password;
        settings.pagingEnabled = true;
        settings.checkInterval = 60;
    }
};

} // namespace

class TestRemote : public QObject {
    Q_OBJECT
private slots:
    void syntax_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("word only") << " SAVE  " << QStringList{"save", "", ""};
        QTest::newRow("colon keeps blanks") << " Stop : Paging " << QStringList{"stop", " Paging ", ""};
        QTest::newRow("comma trims the first") << "change: Frequency , 10 " << QStringList{"change", "Frequency", " 10 "};
        QTest::newRow("first colon counts") << "run:/a:b" << QStringList{"run", "/a:b", ""};
        QTest::newRow("comma before colon") << "a,b:c" << QStringList{"a,b", "c", ""};
        QTest::newRow("empty") << "" << QStringList{"", "", ""};
    }
    void syntax() {
        QFETCH(QString, line);
        QFETCH(QStringList, parts);
        const RemoteLine r = ParseRemoteLine(line);
        QCOMPARE((QStringList{r.word, r.argument1, r.argument2}), parts);
    }

    // Each row: stored password, subject, body; then the log, the flags
    // (paging, schedule), the interval, saves, quits and the files opened.
    void commands_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("after"); // paging, schedule, interval, saves, quits
        QTest::addColumn<QStringList>("opened");
        const QString ok = kPre + "Password Accepted", bad = kPre + "Invalid Password", off = kPre + "Paging Disabled";
        const QString idle = "1 0 60 0 0";
        auto row = [](const char* name, const QString& stored, const QString& subject, const QString& body,
                      const QStringList& log, const QString& after, const QStringList& opened = {}) {
            QTest::newRow(name) << stored << subject << body << log << after << opened;
        };
        const QString m = "tessaly remote";
        row("spaced capital subject", "tulip", "  Tessaly REMOTE ", "password:tulip\rstop:paging", {ok, off}, "0 0 60 0 0");
        row("other subject", "tulip", "tessaly remote!", "password:tulip\rstop:paging", {}, idle);
        row("space after colon", "tulip", m, "password: tulip\rstop:paging", {bad}, idle);
        row("no password line", "tulip", m, "stop:paging\rsave\rquit\rrun:/x\rshutdown:computer", {}, idle);
        row("wrong revokes right", "tulip", m, "password:tulip\rpassword:nope\rstop:paging\rpassword:x", {ok, bad}, idle);
        row("empty stored password", "", m, "password\rstart:update", {ok, kPre + "Schedule Enabled"}, "1 1 60 0 0");
        row("empty stored, any text", "", m, "password:x\rstart:update", {bad}, idle);
        row("capital stored password", "Tulip", m, "password:Tulip\rstop:paging", {ok, off}, "0 0 60 0 0");
        row("capital stored, small sent", "Tulip", m, "password:tulip\rstop:paging", {bad}, idle);
        row("small stored, capital sent", "tulip", m, "password:TULIP\rstop:paging", {ok, off}, "0 0 60 0 0");
        row("CR LF lines", "tulip", m, "password:tulip\r\nstop:paging\r\n", {ok, off}, "0 0 60 0 0");
        row("LF alone joins", "tulip", m, "password:tulip\nstop:paging", {bad}, idle);
        row("keyword with blanks", "tulip", m, "password:tulip\rstop: Paging \rstart:update\rstop:nothing",
            {ok, off, kPre + "Schedule Enabled"}, "0 1 60 0 0");
        row("frequency 5", "tulip", m, "password:tulip\rchange:frequency,5", {ok, kPre + "Invalid Frequency Change"}, idle);
        row("frequency 6", "tulip", m, "password:tulip\rchange: frequency , 6", {ok, kPre + "Frequency Changed to 6"}, "1 0 6 0 0");
        row("frequency 6.5 rounds even", "tulip", m, "password:tulip\rchange:frequency,6.5",
            {ok, kPre + "Frequency Changed to 6.5"}, "1 0 6 0 0");
        row("frequency too large", "tulip", m, "password:tulip\rchange:frequency,40000", {ok, kPre + "Invalid Frequency Change"}, idle);
        row("change other", "tulip", m, "password:tulip\rchange:speed,10\rchange:frequency", {ok, kPre + "Invalid Frequency Change"}, idle);
        row("save", "tulip", m, "password:tulip\rsave", {ok, kPre + "File Saved"}, "1 0 60 1 0");
        row("quit ends the message", "tulip", m, "password:tulip\rquit:now\rstop:paging", {ok}, "1 0 60 0 1");
        row("run", "tulip", m, "password:tulip\rrun:/tmp/a b.txt\rrun: /tmp/missing",
            {ok, kPre + "Running File /tmp/a b.txt", kPre + "Failed to run file  /tmp/missing"}, idle,
            {"/tmp/a b.txt", "/tmp/missing"});
        row("invalid shutdown and reboot", "tulip", m, "shutdown:machine\rreboot\rshutdown:computer",
            {kPre + "Invalid Shutdown Command", kPre + "Invalid Reboot Command"}, idle);
        row("unknown lines", "tulip", m, "hello there\r\r  \rpasswd:tulip",
            {"Invalid remote command hello there", "Invalid remote command passwd:********"}, idle);
        row("one invalid password line", "tulip", m, "password:a\rpassword:b\rstop:paging", {bad}, idle);
    }
    void commands() {
        QFETCH(QString, stored);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        Rig rig(stored);
        rig.remote.CheckRemoteMessage(subject, body);
        QTEST(rig.log.lines, "log");
        const LiveSettings& s = rig.settings;
        QTEST(QStringLiteral("%1 %2 %3 %4 %5").arg(int(s.pagingEnabled)).arg(int(s.scheduleEnabled))
                  .arg(s.checkInterval).arg(rig.saves).arg(rig.quits), "after");
        QTEST(rig.shell.opened, "opened");
        QVERIFY(!rig.view.opened); // no countdown without "computer" and the password
    }

    void passwordLastsOneMessage() {
        Rig rig(QStringLiteral("tulip"));
        rig.remote.CheckRemoteMessage(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip"));
        QVERIFY(rig.remote.PasswordAccepted());
        rig.remote.CheckRemoteMessage(QStringLiteral("tessaly remote"), QStringLiteral("stop:paging"));
        QVERIFY(rig.settings.pagingEnabled);
        QCOMPARE(rig.log.lines.size(), 1);
    }

    void countdown_data() {
        QTest::addColumn<bool>("restart");
        QTest::addColumn<int>("cancelAfter");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("quits");
        const QString off = kPre + "Paging Disabled";
        QTest::newRow("shutdown") << false << -1 << "" << QStringList{kPre + "Shutdown Computer"} << 1;
        QTest::newRow("reboot") << true << -1 << "" << QStringList{kPre + "Rebooting Computer"} << 1;
        QTest::newRow("cancel") << false << 10 << "" << QStringList{off} << 0;
        QTest::newRow("cancel at once") << true << 0 << "" << QStringList{off} << 0;
        QTest::newRow("refused") << true << -1 << "Access denied"
                                 << QStringList{kPre + "Rebooting Computer",
                                                kPre + "The system refused to restart the computer: Access denied", off}
                                 << 0;
    }
    void countdown() {
        QFETCH(bool, restart);
        QFETCH(int, cancelAfter);
        Rig rig(QStringLiteral("tulip"));
        rig.view.cancelAfterTicks = cancelAfter;
        QFETCH(QString, refusal);
        rig.session.refusal = refusal;
        rig.remote.CheckRemoteMessage(QStringLiteral("tessaly remote"),
                                      QStringLiteral("password:tulip\r%1: Computer\rstop:paging")
                                          .arg(restart ? QStringLiteral("reboot") : QStringLiteral("shutdown")));
        rig.log.lines.removeFirst(); // Password Accepted
        QTEST(rig.log.lines, "log");
        QTEST(rig.quits, "quits");
        QVERIFY(rig.view.opened && rig.view.closed);
        QCOMPARE(rig.view.restart, restart);
        if (cancelAfter >= 0) {
            QVERIFY(rig.session.endings.isEmpty());
            QCOMPARE(rig.endingsWhenStateKept, -1);
            QCOMPARE(rig.view.shown.size(), cancelAfter + 1);
            QCOMPARE(rig.pump.elapsedSeconds(), double(cancelAfter));
        } else {
            QCOMPARE(rig.session.endings, QList<Ending>{restart ? Ending::Reboot : Ending::PowerOff});
            QCOMPARE(rig.endingsWhenStateKept, 0); // the state was written first
            QCOMPARE(rig.view.shown.first(), 30);
            QCOMPARE(rig.view.shown.last(), 0);
            QCOMPARE(rig.view.shown.size(), 31);
            QCOMPARE(rig.pump.elapsedSeconds(), 30.0);
        }
    }

    void hidingThePassword_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hidden");
        QTest::newRow("line") << "Password : Tulip 9\r\nsave" << "Password :********\r\nsave";
        QTest::newRow("CR lines") << "x\rpassword:a\rb" << "x\rpassword:********\rb";
        QTest::newRow("elsewhere") << "my TULIP9 here" << "my ******** here";
        QTest::newRow("no password word") << "passwords: none" << "passwords: none";
    }
    void hidingThePassword() {
        QFETCH(QString, text);
        QTEST(HideRemotePassword(text, QStringLiteral("tulip9")), "hidden");
    }

    // Through the program: once per downloaded message (also across the
    // inbox state file); neither the kept body nor the log holds the password.
    void inboxOffersCommandMessagesOnce() {
        ProgramRig rig;
        MainProgram& p = rig.startWithoutProfile();
        p.SetQuitAction([] {});
        p.Settings().remotePassword = QStringLiteral("Tulip9");
        p.Settings().pagingEnabled = false;
        Inbox& inbox = p.GetInbox();
        auto add = [&](const char* id, bool downloaded) {
            auto m = std::make_unique<CMail>();
            m->SetID(QString::fromLatin1(id));
            m->SetSubject(QStringLiteral("tessaly remote"));
            m->SetBody(QStringLiteral("Subject: tessaly remote\r\n\r\npassword:Tulip9\r\nstart:paging\r\n"));
            m->SetDownloaded(downloaded);
            inbox.Add(std::move(m), QString::fromLatin1(id));
        };
        add("a", true);
        const QString accepted = kPre + QStringLiteral("Password Accepted");
        inbox.CheckRemoteCmd();
        QVERIFY(p.Settings().pagingEnabled);
        QCOMPARE(rig.activity().count(accepted), 1);
        // Paging is switched off again; the unpaged message is not obeyed twice.
        p.Settings().pagingEnabled = false;
        inbox.CheckRemoteCmd();
        QVERIFY(!p.Settings().pagingEnabled);
        QVERIFY(inbox.Item(1).Body().endsWith(QStringLiteral("password:********\r\nstart:paging\r\n")));

        // A restart that reads the inbox state does not obey it again either.
        const QString state = rig.dir.path() + QStringLiteral("/state.json");
        QVERIFY(SaveInboxState(inbox, state, nullptr));
        inbox.Clear();
        QVERIFY(MergeInboxState(inbox, state, nullptr));
        add("a", true);
        inbox.CheckRemoteCmd();
        QVERIFY(!p.Settings().pagingEnabled);
        QCOMPARE(rig.activity().count(accepted), 1);

        // A body still to come is offered again, and obeyed once it is there.
        add("b", false);
        inbox.Item(2).SetBody(QString());
        inbox.CheckRemoteCmd();
        QVERIFY(!inbox.Item(2).RemoteChecked());
        inbox.Item(2).SetBody(QStringLiteral("\r\n\r\npassword:Tulip9\r\n"));
        inbox.Item(2).SetDownloaded(true);
        inbox.CheckRemoteCmd();
        inbox.CheckRemoteCmd();
        QCOMPARE(rig.activity().count(accepted), 2);
        QVERIFY(!rig.activity().contains(QStringLiteral("Tulip9")));
    }
};

QTEST_GUILESS_MAIN(TestRemote)
#include "test_remote.moc"
