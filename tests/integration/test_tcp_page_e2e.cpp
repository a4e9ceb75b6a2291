// End to end to a paging terminal on a TCP port: `tessly --check` reads a
// real Dovecot mailbox and pages new mail to pager type alpha-tcp (set with
// `tessly --set`, as a user would) at tests/tools/modemsim.py --tcp. Each
// case has its own program home and mailbox and compares the frames the
// terminal received, byte for byte, with frames built here from the page
// texts with a checksum computed here, so that a wrong checksum, pager ID
// or block split shows:
//  - three new messages are paged once each (one of them in two blocks),
//    and the next check sends nothing;
//  - a block the terminal refuses (NAK or RS) leaves its page undelivered:
//    the check ends with status 1, the other pages go on the same call, and
//    the next check sends the whole page again and delivers it;
//  - a terminal nobody listens for yet: status 1, and once it is there the
//    next check delivers the pages.

#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/keptledgers.h"
#include "tests/integration/peers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

const QString kPagerId = QStringLiteral("7654321");
const QString kTerminalPassword = QStringLiteral("pw42");
const QString kPageHead = QStringLiteral("mon, 7 dec 2026 10:00:00 +0000|From:ann lee <ann@e2e.test>|Subject:");
constexpr int kBlockChars = 100;

QByteArray message(const QString& id, const char* subject, const QByteArray& body, const char* extra = "") {
    return "Message-ID: <" + id.toLatin1() +
           "@e2e.test>\n"
           "From: Ann Lee <ann@e2e.test>\n"
           "To: tester@e2e.test\n"
           "Subject: " +
           QByteArray(subject) + "\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n" + extra + "\n" + body + "\n";
}

// A block as the terminal must receive it: STX, pager ID, CR, text, CR, ETX,
// then the sum of every byte from STX through ETX (its low 12 bits) as three
// characters, each four bits plus 0x30, most significant first, and CR.
QString frame(const QString& pagerId, const QString& text) {
    const QByteArray block = '\x02' + pagerId.toLatin1() + '\r' + text.toLatin1() + "\r\x03";
    unsigned sum = 0;
    for (const char c : block)
        sum += static_cast<unsigned char>(c);
    sum &= 0xFFF;
    QByteArray out = block;
    for (const int shift : {8, 4, 0})
        out += static_cast<char>(0x30 + ((sum >> shift) & 0xF));
    return QString::fromLatin1(out + '\r');
}

// modemsim.py --tcp, kept on one port across restarts, with its summary.
class TerminalSim {
public:
    explicit TerminalSim(const QString& dir) : summary_(dir + QStringLiteral("/terminal.json")) {}
    bool start(EventPump& pump, const QStringList& options, quint16 port = 0) {
        process_ = std::make_unique<PeerProcess>();
        port_ = startPortTool(*process_, pump, QStringLiteral("modemsim.py"),
                              QStringList{QStringLiteral("--tcp"), QStringLiteral("--port"), QString::number(port),
                                          QStringLiteral("--summary"), summary_, QStringLiteral("--no-stdin"),
                                          QStringLiteral("--max-runtime"), QStringLiteral("600"),
                                          QStringLiteral("--cr-before-id"), QStringLiteral("0"),
                                          QStringLiteral("--id-delay"), QStringLiteral("0.2"),
                                          QStringLiteral("--password"), kTerminalPassword} +
                                  options);
        return port_ != 0 && (port == 0 || port_ == port);
    }
    quint16 port() const { return port_; }
    QJsonObject summary() const {
        QFile f(summary_);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    // The frames as received, in order, and the terminal's answer to each.
    QStringList frames() const { return blockValues(QStringLiteral("frame")); }
    QStringList answers() const { return blockValues(QStringLiteral("answer")); }
    int calls() const { return static_cast<int>(summary().value(QStringLiteral("calls")).toArray().size()); }

private:
    QStringList blockValues(const QString& key) const {
        QStringList out;
        for (const auto& b : summary().value(QStringLiteral("blocks")).toArray())
            out << b.toObject().value(key).toString();
        return out;
    }
    QString summary_;
    quint16 port_ = 0;
    std::unique_ptr<PeerProcess> process_;
};

QList<QJsonObject> jsonLines(const QString& path) {
    QList<QJsonObject> out;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                out << QJsonDocument::fromJson(line).object();
    return out;
}

} // namespace

class TestTcpPageE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    KeptLedgers keptLedgers{dir};
    RealEventPump pump;
    DovecotServer dovecot;

    struct Home {
        QString user;
        QString home = {}, config = {};
    };

    // A program home paging pager 7654321 of service "Default" at the
    // terminal `address`, reading mailbox `user`.
    bool makeHome(Home& h, const QString& address) {
        h.home = dir.path() + QLatin1Char('/') + h.user;
        h.config = h.home + QStringLiteral("-config");
        const QString profile = h.home + QStringLiteral("/tcp.dat");
        if (!QDir().mkpath(h.home))
            return false;
        writeE2eProfile(h.home, profile, dovecot.port(), kBlockChars, [&](MainProgram& p) {
            p.Settings().pageBodyHighestPriority = true;
            CPOPAccount& account = p.POPAccounts().Item(1);
            account.SetUsername(h.user);
            account.SetPassword(h.user + QStringLiteral("-pw"));
        });
        if (!writeE2eSettings(h.config + QStringLiteral("/tessaly/tessaly.ini"), profile,
                              dir.path() + QStringLiteral("/no-modem")))
            return false;
        QByteArray out;
        const int rc = run(h,
                           {QStringLiteral("--set"), QStringLiteral("pager.1.type=alpha-tcp"),
                            QStringLiteral("service.1.address=") + address,
                            QStringLiteral("service.1.terminal_password=") + kTerminalPassword},
                           &out);
        if (rc != 0)
            qWarning("--set: %d %s", rc, out.constData());
        return rc == 0;
    }

    // Where the terminal simulator of a case keeps its summary.
    QString simDir(const Home& h) const {
        const QString d = dir.path() + QLatin1Char('/') + h.user + QStringLiteral("-sim");
        QDir().mkpath(d);
        return d;
    }

    int run(const Home& h, const QStringList& args, QByteArray* output = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), h.home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), h.config);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (output)
            *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int runCheck(const Home& h, QByteArray* output) { return run(h, {QStringLiteral("--check")}, output); }
    static QString activity(const Home& h) {
        QFile f(h.home + QStringLiteral("/activity.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    }
    static int ledgerCount(const Home& h, const QString& event) {
        int n = 0;
        for (const QJsonObject& o : jsonLines(h.home + QStringLiteral("/page-ledger.jsonl")))
            n += o.value(QLatin1String("event")).toString() == event;
        return n;
    }
    // Two new messages, each one block; their frames.
    QStringList deliverTwo(const Home& h) {
        if (!dovecot.deliverAll(h.user, {message(h.user + QStringLiteral("-a"), "Lunch at noon", "See you."),
                                         message(h.user + QStringLiteral("-b"), "Holiday photos", "Attached.")}))
            return {};
        return {frame(kPagerId, kPageHead + QStringLiteral("lunch at noon")),
                frame(kPagerId, kPageHead + QStringLiteral("holiday photos"))};
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("python3 is needed for the paging terminal simulator");
        QHash<QString, QString> accounts;
        for (const char* user : {"deliver", "refusednak", "refusedrs", "refusedsecondblock", "unreachable"})
            accounts.insert(QLatin1String(user), QLatin1String(user) + QStringLiteral("-pw"));
        QVERIFY(dovecot.start(pump, accounts));
    }
    void cleanupTestCase() { dovecot.stop(); }

    // Three new messages: one call, logged on with the terminal password,
    // the frames exactly as built here (the urgent one with its body, its
    // line break sent as a space; the long one in two blocks of the
    // service's 100 characters), each acknowledged, then the logoff. The
    // next checks call nobody.
    void newMailPagedOnce() {
        Home h{QStringLiteral("deliver")};
        TerminalSim terminal(simDir(h));
        QVERIFY(terminal.start(pump, {}));
        QVERIFY(makeHome(h, QStringLiteral("127.0.0.1:%1").arg(terminal.port())));
        QVERIFY(dovecot.deliverAll(
            h.user, {message(QStringLiteral("d1"), "Lunch at noon", "See you there."),
                     message(QStringLiteral("d2"), "The nightly build is green again after the compiler upgrade",
                             "Not paged."),
                     message(QStringLiteral("d3"), "Server down", "Call me\nnow", "X-Priority: 1 (Highest)\n")}));
        // The long page's 126 characters in blocks of 100.
        const QString block1 = QStringLiteral("mon, 7 dec 2026 10:00:00 +0000|From:ann lee <ann@e2e.test>|Subject:the "
                                              "nightly build is green again ");
        const QString block2 = QStringLiteral("after the compiler upgrade");
        QCOMPARE(block1.size(), kBlockChars);
        QCOMPARE(block1 + block2,
                 kPageHead + QStringLiteral("the nightly build is green again after the compiler upgrade"));
        const QStringList expected{
            frame(kPagerId, kPageHead + QStringLiteral("lunch at noon")),
            frame(kPagerId, block1),
            frame(kPagerId, block2),
            frame(kPagerId, kPageHead + QStringLiteral("server down|Call me now ")),
        };
        // One hand-checked frame, so that the frame builder above is itself checked.
        QCOMPARE(frame(QStringLiteral("1234"), QStringLiteral("cafe at 3")),
                 QStringLiteral("\x02" "1234\rcafe at 3\r\x03" "3<0\r"));

        QByteArray out;
        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toLatin1());
        QCOMPARE(terminal.frames(), expected);
        QCOMPARE(terminal.answers(), QStringList(4, QStringLiteral("ack")));
        const QJsonObject summary = terminal.summary();
        QCOMPARE(terminal.calls(), 1);
        const QJsonArray logons = summary.value(QStringLiteral("logons")).toArray();
        QCOMPARE(logons.size(), 1);
        QCOMPARE(logons[0].toObject().value(QStringLiteral("sequence")).toString(), QStringLiteral("PG1"));
        QCOMPARE(logons[0].toObject().value(QStringLiteral("password")).toString(), kTerminalPassword);
        QCOMPARE(summary.value(QStringLiteral("calls")).toArray()[0].toObject().value(QStringLiteral("end")).toString(),
                 QStringLiteral("logoff"));
        const QString log = activity(h);
        QCOMPARE(log.count(QRegularExpression(QStringLiteral("Message #\\d \\(\\d of \\d\\) sent successfully"))), 4);
        QVERIFY(!log.contains(kTerminalPassword));
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 3);

        for (int again = 0; again < 2; ++again)
            QVERIFY2(runCheck(h, &out) == 0, out.constData());
        QCOMPARE(terminal.calls(), 1);
        QCOMPARE(terminal.frames().size(), 4);
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 3);
    }

    // The terminal refuses one block (NAK or RS) of the first page; the
    // product waits out its acknowledgement time, says so and goes on with
    // the next page on the same call. The check ends with status 1 and
    // leaves the refused page for the next check, which sends the whole page
    // again (also its first block when only the second was refused) and
    // delivers it; the check after that sends nothing.
    void refusedBlockDeliveredAtTheNextCheck_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("twoBlocks"); // the first page has two blocks, the second is refused
        QTest::newRow("nak") << QStringList{QStringLiteral("--bad-checksum-answers"), QStringLiteral("1")} << false;
        QTest::newRow("rs") << QStringList{QStringLiteral("--block-answers"), QStringLiteral("rs")} << false;
        QTest::newRow("second block") << QStringList{QStringLiteral("--block-answers"), QStringLiteral("ack,nak")}
                                      << true;
    }
    void refusedBlockDeliveredAtTheNextCheck() {
        QFETCH(QStringList, options);
        QFETCH(bool, twoBlocks);
        Home h{QStringLiteral("refused") + QString::fromLatin1(QTest::currentDataTag()).remove(QLatin1Char(' '))};
        TerminalSim terminal(simDir(h));
        QVERIFY(terminal.start(pump, options));
        QVERIFY(makeHome(h, QStringLiteral("127.0.0.1:%1").arg(terminal.port())));
        QStringList first;
        if (twoBlocks) {
            QVERIFY(dovecot.deliverAll(
                h.user,
                {message(h.user + QStringLiteral("-a"), "The nightly build is green again after the compiler upgrade",
                         "x"),
                 message(h.user + QStringLiteral("-b"), "Holiday photos", "Attached.")}));
            first = QStringList{
                frame(kPagerId, QStringLiteral("mon, 7 dec 2026 10:00:00 +0000|From:ann lee <ann@e2e.test>|Subject:the "
                                               "nightly build is green again ")),
                frame(kPagerId, QStringLiteral("after the compiler upgrade"))};
            first << frame(kPagerId, kPageHead + QStringLiteral("holiday photos"));
        } else {
            first = deliverTwo(h);
            QVERIFY(!first.isEmpty());
        }
        const QStringList refusedPage = twoBlocks ? first.mid(0, 2) : first.mid(0, 1);
        const QString refusal = QStringLiteral("Message #1 (%1) was not acknowledged by the paging service")
                                    .arg(twoBlocks ? QStringLiteral("2 of 2") : QStringLiteral("1 of 1"));

        QByteArray out;
        QCOMPARE(runCheck(h, &out), 1);
        QVERIFY2(out.contains("the check ran with errors"), out.constData());
        QCOMPARE(terminal.frames(), first);
        QCOMPARE(terminal.calls(), 1);
        QString log = activity(h);
        QVERIFY2(log.contains(refusal), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("Message #2 (1 of 1) sent successfully")), qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("(attempt 1 of 3); tried again at the next check")), 1);
        QCOMPARE(ledgerCount(h, QStringLiteral("failed")), 1);
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 1);

        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toLatin1());
        QCOMPARE(terminal.calls(), 2);
        QCOMPARE(terminal.frames(), first + refusedPage);
        QCOMPARE(terminal.answers().mid(first.size()), QStringList(refusedPage.size(), QStringLiteral("ack")));
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 2);

        QVERIFY2(runCheck(h, &out) == 0, out.constData());
        QCOMPARE(terminal.calls(), 2);
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 2);
    }

    // Nobody listens on the terminal's port: status 1, the reason in the
    // activity log, nothing counted as delivered; once the terminal is
    // there, the next check delivers both pages.
    void unreachableTerminalThenThere() {
        Home h{QStringLiteral("unreachable")};
        TerminalSim terminal(simDir(h));
        const quint16 port = freePort();
        QVERIFY(makeHome(h, QStringLiteral("127.0.0.1:%1").arg(port)));
        const QStringList frames = deliverTwo(h);
        QVERIFY(!frames.isEmpty());

        QByteArray out;
        QCOMPARE(runCheck(h, &out), 1);
        QVERIFY2(out.contains("the check ran with errors"), out.constData());
        const QString log = activity(h);
        QVERIFY2(log.contains(QStringLiteral("Pager: The paging terminal at 127.0.0.1:%1 cannot be reached: ").arg(port)),
                 qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("(attempt 1 of 3); tried again at the next check")), 2);
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 0);

        QVERIFY(terminal.start(pump, {}, port));
        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toLatin1());
        QCOMPARE(terminal.frames(), frames);
        QCOMPARE(terminal.calls(), 1);
        QCOMPARE(ledgerCount(h, QStringLiteral("delivered")), 2);
    }
};

QTEST_GUILESS_MAIN(TestTcpPageE2E)
#include "test_tcp_page_e2e.moc"
