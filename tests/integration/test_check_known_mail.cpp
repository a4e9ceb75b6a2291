// Checks of a real Dovecot mailbox through a relay that delays each
// direction, paging by e-mail to a real SMTP sink: a second check of an
// unchanged mailbox asks for no header and pages nothing, also after a
// restart; a message added between checks is the only one asked for and
// paged; a message deleted on the server leaves the inbox.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "platform/bytelink.h"
#include "platform/pop3client.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/latencyproxy.h"
#include "tests/integration/smtpsink.h"

#include <QRegularExpression>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QByteArray message(int n) {
    return QStringLiteral("Message-ID: <k%1@known.test>\nFrom: ann@known.test\nTo: me@known.test\n"
                          "Subject: Known %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nBody %1\n")
        .arg(n)
        .toUtf8();
}

// Dovecot's own count of header requests and downloads, from the line it
// logs at every logout ("top=N/bytes, retr=N/bytes, ...").
struct ServerCounts {
    int top = 0, retr = 0, logouts = 0;
};
ServerCounts serverCounts(const QString& log) {
    ServerCounts c;
    static const QRegularExpression re(QStringLiteral("top=(\\d+)/\\d+, retr=(\\d+)/"));
    for (auto it = re.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        c.top += m.captured(1).toInt();
        c.retr += m.captured(2).toInt();
        ++c.logouts;
    }
    return c;
}

} // namespace

class TestCheckKnownMail : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    RealEventPump pump;
    DovecotServer dovecot;
    SmtpSinkServer sink;
    LatencyProxy proxy;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    HeadlessMainView view{false};
    TcpLinkFactory links;
    SocketRegistry sockets;
    std::unique_ptr<Pop3Client> pop;
    std::unique_ptr<TcpControl> tcp;
    std::unique_ptr<SmtpClient> smtp;
    std::unique_ptr<MainProgram> program;
    ServerCounts before;

    // A fresh start of the program in the same program directory.
    void startProgram() {
        program.reset();
        pop = std::make_unique<Pop3Client>(pump, links, sockets);
        tcp = std::make_unique<TcpControl>(sockets);
        smtp = std::make_unique<SmtpClient>(pump, links);
        program = std::make_unique<MainProgram>(PlatformServices{pump, prompter, store, sound, home.path(),
                                                                 QSize(15360, 11520), nullptr, nullptr, nullptr,
                                                                 pop.get(), tcp.get(), smtp.get()},
                                                view);
        program->Startup(QString());
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        s.pagingEnabled = true;
        s.pageHeaders = true;
        s.retries = 0;
        s.smtpHostAddress = QStringLiteral("127.0.0.1");
        s.smtpHostName = QStringLiteral("sink.test");
        s.smtpPort = static_cast<std::int16_t>(sink.port());
        s.domainName = QStringLiteral("client.test");
        CPager& pager = program->Pagers().Item(1);
        pager.SetPagerType(1);
        pager.SetEmailAddress(QStringLiteral("pager@carrier.test"));
        pager.SetFromAddress(QStringLiteral("me@known.test"));
        pager.SetServiceName(QStringLiteral("Default"));
        program->Services().Item(1).SetMaxPageChar(200);
        program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("127.0.0.1"),
                                   static_cast<std::int16_t>(proxy.port()), QStringLiteral("work"),
                                   QStringLiteral("w0rk"), true);
    }
    // One check as the schedule runs it; what the server did for it.
    ServerCounts check() {
        program->State().terminal.Clear();
        program->RunCheck(true, true);
        // Dovecot writes the logout line as the connection ends.
        ServerCounts now;
        pump.waitUntil([&] { return (now = serverCounts(dovecot.logText())).logouts > before.logouts; }, 10, nullptr);
        const ServerCounts delta{now.top - before.top, now.retr - before.retr, now.logouts - before.logouts};
        before = now;
        return delta;
    }
    QStringList pagedSubjects() const {
        QStringList out;
        for (const QJsonObject& m : sink.received()) {
            const QString data = m.value(QStringLiteral("data")).toString();
            const qsizetype at = data.indexOf(QStringLiteral("|Subject:"));
            out << data.mid(at + 9).section(QLatin1Char('\r'), 0, 0).trimmed();
        }
        return out;
    }
    QString terminal() const { return program->State().terminal.Text(); }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        QVERIFY(dovecot.deliverAll(QStringLiteral("work"), {message(1), message(2), message(3)}));
        QVERIFY(sink.start(pump, freeLowPort()));
        // 10 ms each way: a 20 ms round trip, and a port the 16-bit setting holds.
        QVERIFY(proxy.start(dovecot.port(), 10, freeLowPort()));
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        startProgram();
    }

    void cleanupTestCase() {
        program.reset();
        proxy.stop();
        sink.stop();
        dovecot.stop();
    }

    void onlyWhatIsNewIsAskedForAndPaged() {
        ServerCounts c = check();
        QCOMPARE(c.top, 3);
        QCOMPARE(c.retr, 3);
        const QStringList first{QStringLiteral("known 1"), QStringLiteral("known 2"), QStringLiteral("known 3")};
        QTRY_COMPARE(pagedSubjects(), first);

        // Unchanged: one list of unique IDs, no header request, no page.
        c = check();
        QCOMPARE(c.top, 0);
        QCOMPARE(c.retr, 0);
        QVERIFY2(terminal().contains(QStringLiteral("TCP Packet Sent: UIDL")), qPrintable(terminal()));
        QVERIFY2(!terminal().contains(QStringLiteral("TOP ")), qPrintable(terminal()));
        QCOMPARE(pagedSubjects(), first);
        QCOMPARE(program->GetInbox().Count(), 3);
        QCOMPARE(program->GetInbox().Item(QStringLiteral("<k2@known.test>")).Subject(), QStringLiteral("known 2"));

        // The same after a restart: the values come from the state file.
        startProgram();
        c = check();
        QCOMPARE(c.top, 0);
        QCOMPARE(c.retr, 0);
        QCOMPARE(pagedSubjects(), first);
        QCOMPARE(program->GetInbox().Count(), 3);
        QVERIFY(program->GetInbox().Item(QStringLiteral("<k3@known.test>")).Paged());

        // A new message is the only one asked for, downloaded and paged.
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message(4)));
        c = check();
        QCOMPARE(c.top, 1);
        QCOMPARE(c.retr, 1);
        QVERIFY2(terminal().contains(QStringLiteral("TCP Packet Sent: TOP 4 0")), qPrintable(terminal()));
        QTRY_COMPARE(pagedSubjects(), first + QStringList{QStringLiteral("known 4")});

        // Deleted on the server: purged from the inbox, nothing asked for.
        QCOMPARE(dovecot.remove(QStringLiteral("work"), "<k1@known.test>"), 1);
        c = check();
        QCOMPARE(c.top, 0);
        QCOMPARE(program->GetInbox().Count(), 3);
        QVERIFY(!program->GetInbox().Find(QStringLiteral("<k1@known.test>")));
        QCOMPARE(pagedSubjects().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestCheckKnownMail)
#include "test_check_known_mail.moc"
