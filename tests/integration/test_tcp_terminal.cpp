// The paging terminal on a TCP port over real sockets: CPagerService's
// logon, blocks and logoff through TcpTerminalLink against
// tests/tools/modemsim.py --tcp on 127.0.0.1. The simulator's summary
// holds every frame as received.

#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "features/paging/pagingcontext.h"
#include "platform/settingsstore.h"
#include "platform/terminallink.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/terminal.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/peers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

// modemsim.py --tcp with its summary file.
class TerminalServer {
public:
    bool start(EventPump& pump, const QStringList& options) {
        summary_ = dir_.path() + QStringLiteral("/summary.json");
        port_ = startPortTool(process_, pump, QStringLiteral("modemsim.py"),
                              QStringList{QStringLiteral("--tcp"), QStringLiteral("--summary"), summary_,
                                          QStringLiteral("--max-runtime"), QStringLiteral("120")} +
                                  options);
        return port_ != 0;
    }
    quint16 port() const { return port_; }
    QJsonObject summary() const {
        QFile f(summary_);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    // Waits (a few seconds at most) until the simulator has ended its
    // first call, and returns the summary then.
    QJsonObject afterCall(EventPump& pump) const {
        for (int i = 0; i < 100; ++i) {
            const QJsonObject s = summary();
            const QJsonArray calls = s.value(QStringLiteral("calls")).toArray();
            if (!calls.isEmpty() && !calls[0].toObject().value(QStringLiteral("end")).isNull())
                return s;
            pump.pause(0.05, nullptr);
        }
        return summary();
    }

private:
    QTemporaryDir dir_;
    QString summary_;
    quint16 port_ = 0;
    PeerProcess process_;
};

// A paging run as the program wires it, in real time.
struct Run {
    RealEventPump pump;
    TcpLinkFactory links;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    LiveSettings settings;
    bool cancel = false;
    Terminal terminal;
    StatusWindow status{store, QSize(15360, 11520), cancel};
    Comm comm{pump, prompter, terminal, status, settings, cancel};
    QStringList log;
    PagingContext ctx{comm, settings, status, [this](const QString& line) { log << line; }};
    TcpTerminalLink link{pump, links};
    CPagerService service;

    Run() {
        settings.applyFactoryValues();
        settings.retries = 0;
        link.SetConnectTimeout(10);
        link.SetCancelFlag(&cancel);
        QObject::connect(&link, &SerialControl::deviceFault, [this](const QString& line) { log << line; });
        QObject::connect(&link, &SerialControl::terminalLine,
                         [this](const QString& line) { terminal.Append(line + QLatin1Char('\r')); });
        service.SetName(QStringLiteral("Terminal"));
        service.SetMaxPageChar(30);
        service.SetTerminalPassword(QStringLiteral("pw42"));
    }
};

const QStringList kQuickTerminal{QStringLiteral("--cr-before-id"), QStringLiteral("0"), QStringLiteral("--id-delay"),
                                 QStringLiteral("0.2"), QStringLiteral("--password"), QStringLiteral("pw42")};

} // namespace

class TestTcpTerminal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("python3 is not installed");
    }

    void logonThreePagesLogoff() {
        Run r;
        TerminalServer server;
        QVERIFY2(server.start(r.pump, kQuickTerminal), "no terminal simulator");
        r.link.SetAddress(QStringLiteral("127.0.0.1"), server.port(), false);
        const QList<QPair<QString, QString>> pages{
            {QStringLiteral("1234"), QStringLiteral("Lunch at noon?")},
            {QStringLiteral("5678"), QStringLiteral("From: ann\r\nSubject: the nightly build is green again")},
            {QStringLiteral("1234"), QStringLiteral("caf\u00e9 at 3")}};
        QVERIFY(r.service.Logon(r.ctx, r.link));
        QList<QByteArray> expected;
        for (qsizetype i = 0; i < pages.size(); ++i) {
            expected += r.service.PlannedFrames(pages[i].first, pages[i].second, 0);
            r.service.SendTo(r.ctx, r.link, pages[i].first, pages[i].second, int(i + 1));
            QCOMPARE(r.service.ResultState(), pagestate::OK);
        }
        r.service.Logoff(r.ctx, r.link);
        QVERIFY(!r.link.PortOpen());
        QCOMPARE(expected.size(), 4);

        const QJsonObject summary = server.afterCall(r.pump);
        QStringList frames;
        for (const auto& b : summary.value(QStringLiteral("blocks")).toArray()) {
            QVERIFY(b.toObject().value(QStringLiteral("checksum_ok")).toBool());
            frames << b.toObject().value(QStringLiteral("frame")).toString();
        }
        QStringList wanted;
        for (const QByteArray& f : expected)
            wanted << QString::fromLatin1(f);
        QCOMPARE(frames, wanted);
        QCOMPARE(frames.last(), QStringLiteral("\x02" "1234\rcafe at 3\r\x03" "3<0\r"));
        const QJsonObject logon = summary.value(QStringLiteral("logons")).toArray().first().toObject();
        QCOMPARE(logon.value(QStringLiteral("password")).toString(), QStringLiteral("pw42"));
        QCOMPARE(summary.value(QStringLiteral("calls")).toArray().first().toObject().value(QStringLiteral("end")).toString(),
                 QStringLiteral("logoff"));
        QCOMPARE(summary.value(QStringLiteral("calls")).toArray().size(), 1);
        // Four blocks delivered and nothing lost, also when the terminal hung up after the logoff.
        QCOMPARE(r.log.size(), 4);
        QVERIFY(r.log.filter(QStringLiteral("closed")).isEmpty());
        QVERIFY(!r.terminal.Text().contains(QStringLiteral("pw42")));
    }

    void droppedMidPage() {
        Run r;
        TerminalServer server;
        QVERIFY(server.start(r.pump, kQuickTerminal + QStringList{QStringLiteral("--hangup-mid-frame"),
                                                                  QStringLiteral("2")}));
        r.link.SetAddress(QStringLiteral("127.0.0.1"), server.port(), false);
        QVERIFY(r.service.Logon(r.ctx, r.link));
        r.service.SendTo(r.ctx, r.link, QStringLiteral("1234"), QStringLiteral("first"), 1);
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        r.service.SendTo(r.ctx, r.link, QStringLiteral("1234"), QStringLiteral("second"), 2);
        QCOMPARE(r.service.ResultState(), pagestate::LineLost);
        QVERIFY(!r.link.PortOpen());
        const QString where = QStringLiteral("127.0.0.1:%1").arg(server.port());
        QCOMPARE(r.log.size(), 3);
        QVERIFY2(r.log[1].startsWith(where + QStringLiteral(" closed: the paging terminal hung up or went away (")),
                 qPrintable(r.log[1]));
        QCOMPARE(r.log[2], QStringLiteral("Message #2 (1 of 1) not acknowledged: the modem line was lost"));
        r.service.Logoff(r.ctx, r.link); // nothing more goes out on a lost line
        const QJsonObject summary = server.afterCall(r.pump);
        QCOMPARE(summary.value(QStringLiteral("blocks")).toArray().size(), 1);
        QCOMPARE(summary.value(QStringLiteral("hangups")).toArray().first().toObject().value(QStringLiteral("block")).toInt(),
                 2);
    }
};

QTEST_GUILESS_MAIN(TestTcpTerminal)
#include "test_tcp_terminal.moc"
