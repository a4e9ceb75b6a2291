// The paging terminal on a TCP port: the alphanumeric paging protocol of
// CPagerService over TcpTerminalLink, against a scripted terminal on the
// virtual clock. The bytes on the wire, and what each fault leaves behind.

#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "platform/terminallink.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"

#include <QtTest>

using namespace tessaly;

namespace {

// A paging terminal behind a terminal server: "ID=" after a CR, the logon
// with its password, one answer per block, ESC EOT and a close after the
// logoff. Every frame received is kept.
struct TapTerminal {
    QByteArray password;
    QByteArray blockAnswer = "\x06\r";
    int closeAtBlock = 0;    // the terminal closes as this block arrives, unanswered
    int closeAfterBlock = 0; // ... right after answering this block
    QByteArray flood;        // sent once the logon is accepted
    QList<QByteArray> frames;
};

class TapScript : public ServerScript {
public:
    explicit TapScript(std::shared_ptr<TapTerminal> t) : t_(std::move(t)) {}

    void received(ServerEnd& end, const QByteArray& bytes) override {
        pending_ += bytes;
        qsizetype cr;
        while (end.isOpen() && (cr = nextEnd()) >= 0) {
            const QByteArray piece = pending_.left(cr + 1);
            pending_.remove(0, cr + 1);
            take(end, piece);
        }
    }

private:
    // The end of the next piece: a frame ends with the CR after its
    // checksum, everything else with its first CR.
    qsizetype nextEnd() const {
        const qsizetype etx = pending_.indexOf('\x03');
        if (pending_.startsWith('\x02'))
            return etx >= 0 && pending_.size() > etx + 4 ? etx + 4 : -1;
        return pending_.indexOf('\r');
    }

    void take(ServerEnd& end, const QByteArray& piece) {
        if (!loggedOn_) {
            if (piece.startsWith("\x1bPG1")) {
                if (piece.mid(4).chopped(1) != t_->password) {
                    end.send("\r\x15\r", 0.2); // refused; the terminal keeps waiting
                    return;
                }
                loggedOn_ = true;
                end.send("\r\x06\r\x1b[p\r", 0.3);
                if (!t_->flood.isEmpty())
                    end.send(t_->flood, 3);
            } else {
                end.send("ID=", 0.2);
            }
            return;
        }
        if (piece.startsWith('\x02')) {
            t_->frames << piece;
            if (t_->frames.size() == t_->closeAtBlock) {
                end.close(0.1);
                return;
            }
            end.send(t_->blockAnswer, 0.3);
            if (t_->frames.size() == t_->closeAfterBlock)
                end.close(0.3);
        } else if (piece == "\x04\r") {
            end.send("\x1b\x04\r", 0.2);
            end.close(0.2);
        }
    }

    std::shared_ptr<TapTerminal> t_;
    QByteArray pending_;
    bool loggedOn_ = false;
};

const QString kHost = QStringLiteral("terminal.example");
constexpr int kPort = 5000;

struct Rig : PagingRig {
    ScriptedNet net{pump};
    std::shared_ptr<TapTerminal> tap = std::make_shared<TapTerminal>();
    TcpTerminalLink link{pump, net};
    CPagerService service;

    Rig() {
        auto t = tap;
        net.listen(kHost, kPort, [t] { return std::make_unique<TapScript>(t); });
        link.SetAddress(kHost, kPort, false);
        link.SetCancelFlag(&cancel);
        // Wired as the program wires its lines.
        QObject::connect(&link, &SerialControl::deviceFault, [this](const QString& line) { log << line; });
        QObject::connect(&link, &SerialControl::terminalLine,
                         [this](const QString& line) { terminal.Append(line + QLatin1Char('\r')); });
        settings.retries = 0;
        service.SetName(QStringLiteral("Terminal"));
        service.SetMaxPageChar(20);
        service.SetTerminalPassword(QStringLiteral("secret"));
        tap->password = "secret";
    }
    QByteArray sent() const { return net.connections().isEmpty() ? QByteArray() : net.connections().first()->received; }
};

} // namespace

class TestTerminalLink : public QObject {
    Q_OBJECT
private slots:
    void logonTwoPagesLogoff() {
        Rig r;
        QVERIFY(r.service.Logon(r.ctx, r.link));
        QVERIFY(r.link.PortOpen());
        r.service.SendTo(r.ctx, r.link, QStringLiteral("1234"), QStringLiteral("Lunch at noon?"), 1);
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        r.service.SendTo(r.ctx, r.link, QStringLiteral("5678"),
                         QStringLiteral("From: ann\r\nSubject: the build is green again"), 2);
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        r.service.Logoff(r.ctx, r.link);
        QVERIFY(!r.link.PortOpen());

        // No dialling: a CR for the prompt, the logon, the frames, the logoff.
        const QList<QByteArray> second = r.service.PlannedFrames(
            QStringLiteral("5678"), QStringLiteral("From: ann\r\nSubject: the build is green again"), 0);
        QCOMPARE(second.size(), 3);
        QByteArray expected = "\r\x1bPG1secret\r" + CPagerService::Frame(QStringLiteral("1234"), QStringLiteral("Lunch at noon?"));
        for (const QByteArray& f : second)
            expected += f;
        QCOMPARE(r.sent(), expected + "\x04\r");
        QCOMPARE(r.sent().mid(r.sent().indexOf('\x02'), 26), QByteArray("\x02" "1234\rLunch at noon?\r\x03" "5?1\r"));
        QCOMPARE(r.tap->frames.size(), 4);

        QCOMPARE(r.log, (QStringList{"Message #1 (1 of 1) sent successfully", "Message #2 (1 of 3) sent successfully",
                                     "Message #2 (2 of 3) sent successfully", "Message #2 (3 of 3) sent successfully"}));
        const QString transcript = r.terminal.Text();
        QVERIFY(transcript.contains(QStringLiteral("Connected to the paging terminal at terminal.example:5000, not encrypted")));
        QVERIFY(transcript.contains(QStringLiteral("-->\x1bPG1****")));
        QVERIFY(!transcript.contains(QStringLiteral("secret")));
        QVERIFY(transcript.contains(QStringLiteral("closed the connection after the logoff")));
        QVERIFY(!transcript.contains(QStringLiteral("Hang up:"))); // nothing went wrong closing it
    }

    void faults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("loggedOn");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("log");
        const QString at = QStringLiteral("Pager: The paging terminal at terminal.example:");
        const QString noConnection = QStringLiteral("Pager: Could not connect w/ Service");
        QTest::newRow("connection refused")
            << "refused" << false << int(pagestate::NoConnection)
            << QStringList{at + "5001 cannot be reached: Connection refused", noConnection};
        QTest::newRow("no answer in time")
            << "silent" << false << int(pagestate::NoConnection)
            << QStringList{at + "5000 did not answer within 30 seconds", noConnection};
        QTest::newRow("cancelled while connecting")
            << "cancel" << false << int(pagestate::Cancelled)
            << QStringList{"Pager: The connection to the paging terminal at terminal.example:5000 was cancelled",
                           "Pager: User Cancelled"};
        QTest::newRow("TLS failure") << "tls" << false << int(pagestate::NoConnection)
                                     << QStringList{at + "5000 cannot be reached: TLS failed: ", noConnection};
        QTest::newRow("logon refused") << "password" << false << int(pagestate::LogonRefused)
                                       << QStringList{"Pager: Logon was not accepted."};
        QTest::newRow("closed mid-block")
            << "close" << true << int(pagestate::LineLost)
            << QStringList{"terminal.example:5000 closed: the paging terminal hung up or went away (the terminal "
                           "closed the connection)",
                           "Message #1 (1 of 2) not acknowledged: the modem line was lost"};
        QTest::newRow("not acknowledged") << "nak" << true << int(pagestate::NotAcknowledged)
                                          << QStringList{"Message #1 (1 of 2) was not acknowledged by the paging service"};
        // The acknowledgement that came with the close still counts.
        QTest::newRow("acknowledged, then closed")
            << "ack-close" << true << int(pagestate::LineLost)
            << QStringList{"terminal.example:5000 closed: the paging terminal hung up or went away (the terminal "
                           "closed the connection)",
                           "Message #1 (1 of 2) sent successfully",
                           "Message #1 (2 of 2) not sent: the modem line was lost"};
    }
    void faults() {
        QFETCH(QString, fault);
        QFETCH(bool, loggedOn);
        QFETCH(QStringList, log);
        Rig r;
        if (fault == QLatin1String("refused"))
            r.link.SetAddress(kHost, kPort + 1, false);
        if (fault == QLatin1String("silent") || fault == QLatin1String("cancel"))
            r.net.setLatency(45); // the connection would take longer than the time-out
        if (fault == QLatin1String("cancel"))
            r.pump.schedule(5, [&r] { r.cancel = true; });
        if (fault == QLatin1String("tls")) {
            r.link.SetAddress(kHost, kPort, true);
            r.net.setUntrusted(kHost);
        }
        if (fault == QLatin1String("password"))
            r.tap->password = "other";
        if (fault == QLatin1String("close"))
            r.tap->closeAtBlock = 1;
        if (fault == QLatin1String("nak"))
            r.tap->blockAnswer = "\x15\r";
        if (fault == QLatin1String("ack-close"))
            r.tap->closeAfterBlock = 1;

        QCOMPARE(r.service.Logon(r.ctx, r.link), loggedOn);
        if (loggedOn)
            r.service.SendTo(r.ctx, r.link, QStringLiteral("1234"), QStringLiteral("first block, then the second"), 1);
        QTEST(int(r.service.ResultState()), "state");
        QCOMPARE(r.log.size(), log.size());
        for (qsizetype i = 0; i < log.size(); ++i)
            QVERIFY2(r.log[i].startsWith(log[i]), qPrintable(r.log[i]));
        if (fault == QLatin1String("silent"))
            QVERIFY(r.pump.elapsedSeconds() >= 30 && r.pump.elapsedSeconds() < 45);
        if (fault == QLatin1String("cancel"))
            QVERIFY(r.pump.elapsedSeconds() < 6);
        if (loggedOn)
            r.service.Logoff(r.ctx, r.link);
        QVERIFY(!r.link.PortOpen());
        QVERIFY(!r.terminal.Text().contains(QStringLiteral("secret")));
    }

    // The program's page queue over its one terminal link: pages to the same
    // service share a call, a page to another service ends it and calls
    // that service's terminal, and a page back to the first calls it again.
    void queueWalkOverTwoTerminals() {
        ProgramRig rig;
        ScriptedNet net{rig.pump};
        auto north = std::make_shared<TapTerminal>(), south = std::make_shared<TapTerminal>();
        net.listen(QStringLiteral("north.example"), kPort, [north] { return std::make_unique<TapScript>(north); });
        net.listen(QStringLiteral("south.example"), kPort, [south] { return std::make_unique<TapScript>(south); });
        RigControls controls;
        controls.links = &net;
        MainProgram& p = rig.startWithoutProfile(controls);
        p.Settings().retries = 0;
        for (const char* name : {"North", "South"}) {
            auto s = std::make_unique<CPagerService>();
            s->SetName(QLatin1String(name));
            s->SetMaxPageChar(80);
            s->SetAddress(QString::fromLatin1(name).toLower() + QStringLiteral(".example:%1").arg(kPort));
            p.Services().Add(std::move(s), QLatin1String(name));
        }
        const QList<QPair<const char*, const char*>> pages{
            {"North", "one"}, {"North", "two"}, {"South", "three"}, {"North", "four"}};
        for (const auto& [service, text] : pages)
            p.Queue().Add(QLatin1String(service), QStringLiteral("1234"), QLatin1String(text), false, PagerAlphaTCP);
        QList<bool> delivered;
        p.SendQueue([&](int, bool ok) { delivered << ok; });
        QCOMPARE(delivered, QList<bool>(4, true));
        auto texts = [](const TapTerminal& t) {
            QStringList out;
            for (const QByteArray& f : t.frames)
                out << QString::fromLatin1(f.mid(6, f.indexOf('\x03') - 7));
            return out;
        };
        QCOMPARE(texts(*north), (QStringList{"one", "two", "four"}));
        QCOMPARE(texts(*south), QStringList{"three"});
        QStringList calls;
        for (const auto& end : net.connections())
            calls << QString::number(end->received.count("\x1bPG1")) + QLatin1Char('/') +
                         QString::number(end->received.count('\x02'));
        QCOMPARE(calls, (QStringList{"1/2", "1/1", "1/1"})); // one logon per call, its pages
    }

    void floodIsBounded() {
        Rig r;
        r.tap->flood = QByteArray(3 * TcpTerminalLink::kMaxBuffer, 'x') + "END";
        QVERIFY(r.service.Logon(r.ctx, r.link));
        r.pump.pause(5, nullptr);
        QCOMPARE(r.link.InBufferCount(), TcpTerminalLink::kMaxBuffer);
        QCOMPARE(r.link.DroppedBytes(), qint64(2 * TcpTerminalLink::kMaxBuffer + 3));
        QVERIFY(r.link.Input().endsWith(QLatin1String("xxEND")));
        QCOMPARE(r.link.InBufferCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTerminalLink)
#include "test_terminallink.moc"
