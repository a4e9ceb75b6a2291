// Remote commands: the line syntax, every command with and without the
// password, the countdown before a shutdown or restart, and how the inbox
// offers command messages (once, also after a restart) and keeps their
// password out of sight.

#include "features/mail/inboxstate.h"
#include "features/remote/remotecommands.h"
#include "features/remote/remoteguard.h"
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

// An interpreter over fakes, starting with paging on, schedule off, interval
// 60, one allowed sender and the run folder `runDir`.
struct Rig {
    VirtualEventPump pump;
    LiveSettings settings;
    Lines log;
    FakeDesktopShell shell;
    FakeSessionControl session;
    RecordingCountdownView view;
    MemorySettingsStore store;
    QTemporaryDir dir;
    QStringList status;
    int saves = 0, quits = 0;
    int endingsWhenStateKept = -1;
    RemoteCommands remote{RemoteContext{pump, settings, log, &shell, &session,
                                        [this] { return std::make_unique<ForwardingCountdownView>(view); },
                                        [this] { ++saves; }, [this] { ++quits; },
                                        [this] { endingsWhenStateKept = int(session.endings.size()); }, &store,
                                        dir.filePath(RemoteGuard::kFileName),
                                        [this](const QString& text) { status << text; }}};
    explicit Rig(const QString& password) {
        settings.remotePassword = password;
        settings.pagingEnabled = true;
        settings.checkInterval = 60;
        QDir(dir.path()).mkdir(QStringLiteral("run"));
        SaveRemoteSafety(store, RemoteSafety{{QStringLiteral("owner@example.org")}, runDir()});
    }
    QString runDir() const { return dir.filePath(QStringLiteral("run")); }
    // A message from the allowed sender, dated now, read over TLS.
    RemoteMail mail(const QString& subject, const QString& body) const {
        return RemoteMail{subject, QStringLiteral("Owner <Owner@Example.org>"),
                          pump.now().toString(Qt::RFC2822Date), body, MailTransport::Tls};
    }
    void check(const QString& subject, const QString& body) { remote.CheckRemoteMessage(mail(subject, body)); }
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
        row("wrong revokes right", "tulip", m, "password:tulip\rpassword:nope\rstop:paging\rpassword:x", {ok, bad, bad}, idle);
        const QString offEmpty = kPre + "Ignored a command message from owner@example.org: remote control stays off "
                                        "while the remote command password is empty";
        row("empty stored password", "", m, "password\rstart:update", {offEmpty}, idle);
        row("empty stored, any text", "", m, "password:x\rstart:update", {offEmpty}, idle);
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
        row("run outside the folder", "tulip", m, "password:tulip\rrun:/etc/hostname",
            {ok, kPre + "Failed to run file /etc/hostname", kPre + "the file is not inside the run folder RUN"}, idle);
        row("invalid shutdown and reboot", "tulip", m, "shutdown:machine\rreboot\rshutdown:computer",
            {kPre + "Invalid Shutdown Command", kPre + "Invalid Reboot Command"}, idle);
        row("unknown lines", "tulip", m, "hello there\r\r  \rpasswd:tulip",
            {"Invalid remote command hello there", "Invalid remote command passwd:********"}, idle);
        row("every wrong password line", "tulip", m, "password:a\rpassword:b\rstop:paging", {bad, bad}, idle);
        row("third wrong line ends it", "tulip", m, "password:a\rpassword:b\rpassword:c\rpassword:tulip\rstop:paging",
            {bad, bad, bad, kPre + "3 wrong passwords; the rest of the message is ignored"}, idle);
    }
    void commands() {
        QFETCH(QString, stored);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        Rig rig(stored);
        rig.check(subject, body);
        QFETCH(QStringList, log);
        log.replaceInStrings(QStringLiteral("RUN"), QFileInfo(rig.runDir()).canonicalFilePath());
        QCOMPARE(rig.log.lines, log);
        const LiveSettings& s = rig.settings;
        QTEST(QStringLiteral("%1 %2 %3 %4 %5").arg(int(s.pagingEnabled)).arg(int(s.scheduleEnabled))
                  .arg(s.checkInterval).arg(rig.saves).arg(rig.quits), "after");
        QTEST(rig.shell.opened, "opened");
        QVERIFY(!rig.view.opened); // no countdown without "computer" and the password
    }

    // Each row: what is changed from a message that would be obeyed (from
    // the allowed sender, dated now, read over TLS, "password:tulip" then
    // "stop:paging"), and the one line that says why it is ignored.
    void gates_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("line");
        const QString from = kPre + "Ignored a command message from owner@example.org: ";
        QTest::newRow("stranger") << "from=Mallory <mallory@example.org>"
                                  << kPre + "Ignored a command message from mallory@example.org: not an allowed sender";
        QTest::newRow("look-alike address") << "from=owner@example.org.evil.test"
                                            << kPre + "Ignored a command message from owner@example.org.evil.test: "
                                                      "not an allowed sender";
        QTest::newRow("two From fields") << "from=owner@example.org, x@y.z"
                                         << kPre + "Ignored a command message from \"owner@example.org, x@y.z\": "
                                                   "not an allowed sender";
        QTest::newRow("no senders named") << "senders=" << from + "remote control stays off while no allowed sender is named";
        QTest::newRow("read in clear") << "transport=clear" << from + "its mailbox was read without TLS";
        QTest::newRow("not read this run") << "transport=unknown" << from + "its mailbox was read without TLS";
        QTest::newRow("no date") << "date=" << from + "it has no readable Date";
        QTest::newRow("garbage date") << "date=yesterday-ish" << from + "it has no readable Date";
        QTest::newRow("a day and a minute old") << "age=87000" << from + "it is dated more than 24 hours ago";
        QTest::newRow("11 minutes ahead") << "age=-660" << from + "it is dated more than 10 minutes ahead";
        QTest::newRow("state file unreadable") << "state=garbage"
                                               << from + "the remote state file cannot be used: STATE is not a "
                                                         "remote state file; remove it to start afresh";
    }
    void gates() {
        QFETCH(QString, change);
        Rig rig(QStringLiteral("tulip"));
        RemoteMail mail = rig.mail(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\rstop:paging"));
        const QString key = change.section(QLatin1Char('='), 0, 0), value = change.section(QLatin1Char('='), 1);
        const QString state = rig.dir.filePath(RemoteGuard::kFileName);
        if (key == QLatin1String("from"))
            mail.from = value;
        else if (key == QLatin1String("senders"))
            SaveRemoteSafety(rig.store, RemoteSafety{});
        else if (key == QLatin1String("transport"))
            mail.transport = value == QLatin1String("clear") ? MailTransport::Clear : MailTransport::Unknown;
        else if (key == QLatin1String("date"))
            mail.date = value;
        else if (key == QLatin1String("age"))
            mail.date = rig.pump.now().addSecs(-value.toInt()).toString(Qt::RFC2822Date);
        else if (key == QLatin1String("state")) {
            QFile f(state);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("{not json"));
        }
        rig.remote.CheckRemoteMessage(mail);
        QFETCH(QString, line);
        QCOMPARE(rig.log.lines, QStringList{line.replace(QStringLiteral("STATE"), state)});
        QVERIFY(rig.settings.pagingEnabled);
    }

    // The limits themselves pass: 24 hours old, 10 minutes ahead, another
    // zone, the sender in any letter case; and a security of "none" chosen
    // for the account is obeyed with a line that says so.
    void gatesLetThroughAtTheirLimits_data() {
        QTest::addColumn<int>("age");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<bool>("clearChosen");
        QTest::newRow("24 hours old") << 86400 << "" << false;
        QTest::newRow("10 minutes ahead") << -600 << "" << false;
        QTest::newRow("other zone, comment") << 0 << " (PST)" << false;
        QTest::newRow("security none") << 60 << "" << true;
    }
    void gatesLetThroughAtTheirLimits() {
        QFETCH(int, age);
        QFETCH(QString, zone);
        QFETCH(bool, clearChosen);
        Rig rig(QStringLiteral("tulip"));
        RemoteMail mail = rig.mail(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\rstop:paging"));
        QDateTime dated = rig.pump.now().addSecs(-age);
        if (!zone.isEmpty())
            dated = dated.toOffsetFromUtc(-8 * 3600);
        mail.date = dated.toString(Qt::RFC2822Date) + zone;
        if (clearChosen)
            mail.transport = MailTransport::ClearChosen;
        rig.remote.CheckRemoteMessage(mail);
        QStringList expected{kPre + "Password Accepted", kPre + "Paging Disabled"};
        if (clearChosen)
            expected.prepend(kPre + "The command message from owner@example.org was read without TLS, as the "
                                    "account's security \"none\" allows");
        QCOMPARE(rig.log.lines, expected);
    }

    // The same sender, date and commands run once, also in a new
    // interpreter (a restart); a changed body is a new message.
    void replayRunsOnce() {
        Rig rig(QStringLiteral("tulip"));
        const RemoteMail mail = rig.mail(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\rstop:paging"));
        rig.remote.CheckRemoteMessage(mail);
        QVERIFY(!rig.settings.pagingEnabled);
        rig.settings.pagingEnabled = true;
        RemoteCommands again{RemoteContext{rig.pump, rig.settings, rig.log, &rig.shell, &rig.session, {}, [] {},
                                           [] {}, {}, &rig.store, rig.dir.filePath(RemoteGuard::kFileName)}};
        rig.log.lines.clear();
        again.CheckRemoteMessage(mail);
        QCOMPARE(rig.log.lines, QStringList{kPre + "Ignored a command message from owner@example.org: the same "
                                                   "commands were examined before"});
        QVERIFY(rig.settings.pagingEnabled);
        // Re-spaced lines and the Date in another zone are the same message.
        RemoteMail respaced = mail;
        respaced.commands = QStringLiteral("\r\n password:tulip \r\n\r\nstop:paging\r\n");
        respaced.date = ParseMailDate(mail.date).toOffsetFromUtc(3600).toString(Qt::RFC2822Date);
        again.CheckRemoteMessage(respaced);
        QVERIFY(rig.settings.pagingEnabled);
        QCOMPARE(rig.log.lines.size(), 2);
        // Another command is a new message.
        RemoteMail other = mail;
        other.commands += QStringLiteral("\rchange:frequency,7");
        again.CheckRemoteMessage(other);
        QVERIFY(!rig.settings.pagingEnabled);
        QCOMPARE(rig.settings.checkInterval, std::int16_t(7));
        // Only its owner may read what the program remembers.
        QCOMPARE(QFileInfo(rig.dir.filePath(RemoteGuard::kFileName)).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions{});
    }

    // Five messages with wrong passwords within an hour close remote
    // control for an hour, from the fifth on, also for the right password;
    // spread over more than an hour they do not.
    void wrongPasswordsAcrossMessages_data() {
        QTest::addColumn<int>("spacing"); // seconds between the wrong messages
        QTest::addColumn<bool>("closed");
        QTest::newRow("five in an hour") << 600 << true;
        QTest::newRow("five in more than an hour") << 960 << false;
    }
    void wrongPasswordsAcrossMessages() {
        QFETCH(int, spacing);
        QFETCH(bool, closed);
        Rig rig(QStringLiteral("tulip"));
        for (int i = 0; i < 5; ++i) {
            if (i)
                rig.pump.advance(spacing);
            rig.check(QStringLiteral("tessaly remote"), QStringLiteral("password:guess%1\rstop:paging").arg(i));
        }
        const QString until = rig.pump.now().addSecs(3600).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        const QString closing = kPre + "5 command messages with wrong passwords within an hour; remote commands are "
                                       "refused until " + until + " after repeated wrong passwords";
        QCOMPARE(rig.log.lines.count(kPre + "Invalid Password"), 5);
        QCOMPARE(rig.log.lines.contains(closing), closed);
        QCOMPARE(rig.status.contains(closing), closed);
        rig.log.lines.clear();
        rig.pump.advance(3500);
        rig.check(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\rstop:paging"));
        if (closed) {
            QCOMPARE(rig.log.lines, QStringList{kPre + "Ignored a command message from owner@example.org: remote "
                                                       "commands are refused until " + until +
                                                " after repeated wrong passwords"});
            QVERIFY(rig.remote.RefusedUntil().has_value());
            QVERIFY(rig.settings.pagingEnabled);
            // An hour after the fifth, the right password works again.
            rig.pump.advance(120);
            rig.check(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\rstop:paging"));
        }
        QVERIFY(!rig.settings.pagingEnabled);
        QVERIFY(!rig.remote.RefusedUntil().has_value());
    }

    // "run" opens only existing files inside the run folder, by their
    // resolved path; never a URL, never through a link or ".." out of it.
    void runTarget_data() {
        QTest::addColumn<QString>("argument"); // RUN: the run folder; OUT: a folder beside it
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("opened"); // empty: refused with `refusal`
        QTest::addColumn<QString>("refusal");
        const QString outside = "the file is not inside the run folder RUN";
        QTest::newRow("relative name") << "a b.sh" << "RUN" << "RUN/a b.sh" << "";
        QTest::newRow("absolute inside") << " RUN/a b.sh" << "RUN" << "RUN/a b.sh" << "";
        QTest::newRow("dot-dot out") << "../out/x.sh" << "RUN" << "" << outside;
        QTest::newRow("dot-dot back in") << "../run/a b.sh" << "RUN" << "RUN/a b.sh" << "";
        QTest::newRow("link out") << "link.sh" << "RUN" << "" << outside;
        QTest::newRow("absolute outside") << "OUT/x.sh" << "RUN" << "" << outside;
        QTest::newRow("the folder itself") << "." << "RUN" << "" << outside;
        QTest::newRow("missing") << "nothing.sh" << "RUN" << "" << "there is no such file";
        QTest::newRow("web address") << "http://example.org/$(id)" << "RUN" << "" << "run opens files only, no web addresses or other URLs";
        QTest::newRow("file URL") << "file:///RUN/a b.sh" << "RUN" << "" << "run opens files only, no web addresses or other URLs";
        QTest::newRow("mailto") << "mailto:x@y.z" << "RUN" << "" << "run opens files only, no web addresses or other URLs";
        QTest::newRow("run off") << "a b.sh" << "" << "" << "run is off; name a run folder under Options, Remote Control";
        QTest::newRow("folder missing") << "a b.sh" << "RUN/gone" << "" << "the run folder RUN/gone does not exist";
    }
    void runTarget() {
        QTemporaryDir dir;
        const QString base = QFileInfo(dir.path()).canonicalFilePath();
        const QString run = base + QStringLiteral("/run"), out = base + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(run) && QDir().mkpath(out));
        for (const QString& file : {run + QStringLiteral("/a b.sh"), out + QStringLiteral("/x.sh")}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(out + QStringLiteral("/x.sh"), run + QStringLiteral("/link.sh")));
        auto place = [&](QString text) {
            return text.replace(QStringLiteral("RUN"), run).replace(QStringLiteral("OUT"), out);
        };
        QFETCH(QString, argument);
        QFETCH(QString, folder);
        const RunTarget target = ResolveRunTarget(place(argument), place(folder));
        QFETCH(QString, opened);
        QCOMPARE(target.path, place(opened));
        QFETCH(QString, refusal);
        QCOMPARE(target.refusal, place(refusal));
    }

    void passwordLastsOneMessage() {
        Rig rig(QStringLiteral("tulip"));
        rig.check(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip"));
        QVERIFY(rig.remote.PasswordAccepted());
        rig.check(QStringLiteral("tessaly remote"), QStringLiteral("stop:paging"));
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
        rig.check(QStringLiteral("tessaly remote"), QStringLiteral("password:tulip\r%1: Computer\rstop:paging")
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
        SaveRemoteSafety(rig.store, RemoteSafety{{QStringLiteral("me@example.org")}, {}});
        Inbox& inbox = p.GetInbox();
        const QString head = QStringLiteral("From: me@example.org\r\nDate: %1\r\nSubject: tessaly remote\r\n\r\n")
                                 .arg(rig.pump.now().toString(Qt::RFC2822Date));
        auto add = [&](const char* id, bool downloaded) {
            auto m = std::make_unique<CMail>();
            m->SetID(QString::fromLatin1(id));
            m->SetSubject(QStringLiteral("tessaly remote"));
            m->SetBody(head + QStringLiteral("password:Tulip9\r\nstart:paging\r\n"));
            m->SetTransport(MailTransport::Tls);
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
        inbox.Item(2).SetBody(head + QStringLiteral("password:Tulip9\r\n"));
        inbox.Item(2).SetDownloaded(true);
        inbox.CheckRemoteCmd();
        inbox.CheckRemoteCmd();
        QCOMPARE(rig.activity().count(accepted), 2);
        QVERIFY(!rig.activity().contains(QStringLiteral("Tulip9")));
    }
};

QTEST_GUILESS_MAIN(TestRemote)
#include "test_remote.moc"
