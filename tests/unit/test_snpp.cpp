// The SNPP reply reader by table, and the SNPP client against a scripted
// server on the virtual clock: the command sequence for MESS and DATA, the
// outcomes of each reply class, time-outs, dropped connections and TLS.

#include "ground/sockerr.h"
#include "platform/snppclient.h"
#include "platform/snppreplies.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/snppscript.h"
#include "tests/fakes/virtualeventpump.h"

#include <QtTest>

using namespace tessaly;
using snpp::ReplyClass;
using Kind = SnppOutcome::Kind;

Q_DECLARE_METATYPE(snpp::ReplyClass)
Q_DECLARE_METATYPE(SnppOutcome::Kind)

namespace {

struct SnppRig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 8), QTime(9, 0))};
    ScriptedNet net{pump};
    std::shared_ptr<SnppTerminal> terminal = std::make_shared<SnppTerminal>();
    SnppClient snpp{pump, net};
    QStringList shown;    // commandSent
    QStringList received; // dataReceived
    QList<int> errors;
    int closed = 0;
    SnppRig() {
        auto t = terminal;
        net.listen(QStringLiteral("snpp.example"), 444, [t] { return makeSnppScript(t); });
        snpp.SetHost(QStringLiteral("snpp.example"));
        snpp.SetTimeout(30);
        QObject::connect(&snpp, &SnppClient::commandSent, &snpp, [this](const QString& s) { shown << s; });
        QObject::connect(&snpp, &SnppClient::dataReceived, &snpp, [this](const QString& s) { received << s; });
        QObject::connect(&snpp, &SnppClient::error, &snpp, [this](int n, const QString&) { errors << n; });
        QObject::connect(&snpp, &SnppClient::socketClosed, &snpp, [this] { ++closed; });
    }
    SnppOutcome page(const QString& text, const QString& id = QStringLiteral("5551234"),
                     const QString& password = {}) {
        return snpp.SendPage(id, password, text);
    }
};

} // namespace

class TestSnpp : public QObject {
    Q_OBJECT
private slots:
    void readsReplies_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<int>("code");
        QTest::addColumn<ReplyClass>("kind");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("helpLines");
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("greeting") << QByteArray("220 SNPP Gateway Ready\r\n") << true << 220 << ReplyClass::Success
                                  << QByteArray("SNPP Gateway Ready") << 0 << QByteArray();
        QTest::newRow("bare LF, next reply stays")
            << QByteArray("250 Pager ID Accepted\n250 Message OK\r\n") << true << 250 << ReplyClass::Success
            << QByteArray("Pager ID Accepted") << 0 << QByteArray("250 Message OK\r\n");
        QTest::newRow("data") << QByteArray("354 Begin Input; End with <CRLF>'.'<CRLF>\r\n") << true << 354
                              << ReplyClass::Continue << QByteArray("Begin Input; End with <CRLF>'.'<CRLF>") << 0
                              << QByteArray();
        QTest::newRow("closing") << QByteArray("421 Too Many Errors, Goodbye\r\n") << true << 421
                                 << ReplyClass::Temporary << QByteArray("Too Many Errors, Goodbye") << 0
                                 << QByteArray();
        QTest::newRow("invalid pager") << QByteArray("550 Error, Invalid Pager ID\r\n") << true << 550
                                       << ReplyClass::Permanent << QByteArray("Error, Invalid Pager ID") << 0
                                       << QByteArray();
        QTest::newRow("failed") << QByteArray("554 Error, failed (technical reason)\r\n") << true << 554
                                << ReplyClass::Permanent << QByteArray("Error, failed (technical reason)") << 0
                                << QByteArray();
        QTest::newRow("code alone") << QByteArray("250\r\n") << true << 250 << ReplyClass::Success << QByteArray()
                                    << 0 << QByteArray();
        QTest::newRow("help lines then 250")
            << QByteArray("214 PAGE <Pager ID>\r\n214 MESS <Message>\r\n250 End of Help Information\r\n") << true
            << 250 << ReplyClass::Success << QByteArray("End of Help Information") << 2 << QByteArray();
        QTest::newRow("dash continuation") << QByteArray("220-first\r\n220 second\r\n") << true << 220
                                           << ReplyClass::Success << QByteArray("second") << 1 << QByteArray();
        QTest::newRow("help not finished") << QByteArray("214 PAGE <Pager ID>\r\n214 MESS") << false << 0
                                           << ReplyClass::Unreadable << QByteArray() << 0
                                           << QByteArray("214 PAGE <Pager ID>\r\n214 MESS");
        QTest::newRow("no line end yet") << QByteArray("250 Message") << false << 0 << ReplyClass::Unreadable
                                         << QByteArray() << 0 << QByteArray("250 Message");
        QTest::newRow("control characters") << QByteArray("250 ok\x1b[2J\x07 done\r\n") << true << 250
                                            << ReplyClass::Success << QByteArray("ok [2J  done") << 0
                                            << QByteArray();
        QTest::newRow("no code") << QByteArray("+OK hello\r\n") << true << 0 << ReplyClass::Unreadable
                                 << QByteArray("a reply line without a three-digit code") << 0 << QByteArray();
        QTest::newRow("four digits") << QByteArray("2500 ok\r\n") << true << 0 << ReplyClass::Unreadable
                                     << QByteArray("a reply code of more than three digits") << 0 << QByteArray();
        QTest::newRow("level 3 code") << QByteArray("860 Delivered\r\n") << true << 0 << ReplyClass::Unreadable
                                      << QByteArray("a reply code outside SNPP level 2: 860") << 0 << QByteArray();
        QTest::newRow("1xx") << QByteArray("199 what\r\n") << true << 0 << ReplyClass::Unreadable
                             << QByteArray("a reply code outside SNPP level 2: 199") << 0 << QByteArray();
        QTest::newRow("help then no code") << QByteArray("214 fine\r\n+OK\r\n") << true << 0 << ReplyClass::Unreadable
                                           << QByteArray("a reply line without a three-digit code") << 0
                                           << QByteArray();
        QTest::newRow("bad help line") << QByteArray("214 fine\r\n21x-bad\r\n250 end\r\n") << true << 0
                                       << ReplyClass::Unreadable
                                       << QByteArray("a reply line without a three-digit code") << 0 << QByteArray();
    }
    void readsReplies() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, complete);
        QByteArray buffer = bytes;
        const std::optional<snpp::Reply> r = snpp::TakeReply(buffer);
        QCOMPARE(r.has_value(), complete);
        QTEST(buffer, "left");
        if (!r)
            return;
        QTEST(r->code, "code");
        QTEST(r->kind, "kind");
        QTEST(r->text, "text");
        QTEST(static_cast<int>(r->help.size()), "helpLines");
    }

    // A server that never ends its line, or its reply, cannot make the
    // reader keep more than its limits.
    void readerIsBounded() {
        QByteArray endless(snpp::kMaxLine, '2');
        QVERIFY(!snpp::TakeReply(endless).has_value());
        endless += '2';
        std::optional<snpp::Reply> r = snpp::TakeReply(endless);
        QVERIFY(r && r->kind == ReplyClass::Unreadable);
        QVERIFY(endless.isEmpty());

        QByteArray longLine = "250 " + QByteArray(snpp::kMaxLine, 'y') + "\r\n250 next\r\n";
        r = snpp::TakeReply(longLine);
        QVERIFY(r && r->kind == ReplyClass::Unreadable);
        QCOMPARE(longLine, QByteArray("250 next\r\n"));

        QByteArray help;
        for (int i = 0; i <= snpp::kMaxLines; ++i)
            help += "214 more help\r\n";
        r = snpp::TakeReply(help);
        QVERIFY(r && r->kind == ReplyClass::Unreadable);
        QCOMPARE(r->text, QByteArray("a reply of too many lines"));
    }

    // Text for DATA: every line break becomes CR LF, leading dots doubled,
    // text outside printable ASCII mapped.
    void dataBlock_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("one line") << QStringLiteral("hello") << QByteArray("hello\r\n.\r\n");
        QTest::newRow("dots") << QStringLiteral(".start\n..two\r\nmid . dot\r.")
                              << QByteArray("..start\r\n...two\r\nmid . dot\r\n..\r\n.\r\n");
        QTest::newRow("final line break") << QStringLiteral("a\nb\n") << QByteArray("a\r\nb\r\n.\r\n");
        QTest::newRow("blank line kept") << QStringLiteral("a\n\nb") << QByteArray("a\r\n\r\nb\r\n.\r\n");
        QTest::newRow("non-ASCII") << QStringLiteral("Caf\u00e9\ttab\u2014") << QByteArray("Cafe tab-\r\n.\r\n");
    }
    void dataBlock() {
        QFETCH(QString, text);
        QTEST(SnppClient::DataBlock(text), "block");
    }

    // A short single line goes with MESS; multi-line or long text with DATA.
    void commandSequence_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::addColumn<QByteArray>("delivered");
        QTest::newRow("MESS") << QStringLiteral("Mail from Ann: lunch?") << 160
                              << QList<QByteArray>{"PAGE 5551234", "MESS Mail from Ann: lunch?", "SEND", "QUIT"}
                              << QByteArray("Mail from Ann: lunch?");
        QTest::newRow("at the limit") << QStringLiteral("12345") << 5
                                      << QList<QByteArray>{"PAGE 5551234", "MESS 12345", "SEND", "QUIT"}
                                      << QByteArray("12345");
        QTest::newRow("over the limit") << QStringLiteral("123456") << 5
                                        << QList<QByteArray>{"PAGE 5551234", "DATA", "SEND", "QUIT"}
                                        << QByteArray("123456");
        QTest::newRow("several lines") << QStringLiteral("From: Ann\n.signature\nend") << 160
                                       << QList<QByteArray>{"PAGE 5551234", "DATA", "SEND", "QUIT"}
                                       << QByteArray("From: Ann\n.signature\nend");
        QTest::newRow("limit 0: always DATA") << QStringLiteral("hi") << 0
                                              << QList<QByteArray>{"PAGE 5551234", "DATA", "SEND", "QUIT"}
                                              << QByteArray("hi");
    }
    void commandSequence() {
        QFETCH(QString, text);
        QFETCH(int, limit);
        SnppRig rig;
        rig.snpp.SetMessLimit(limit);
        const SnppOutcome out = rig.page(text);
        QVERIFY2(out.Delivered(), qPrintable(out.reason));
        QTEST(rig.terminal->commands, "commands");
        QCOMPARE(rig.terminal->sent.size(), 1);
        QCOMPARE(rig.terminal->sent[0].first, QByteArray("5551234"));
        QTEST(rig.terminal->sent[0].second, "delivered");
        QVERIFY(rig.errors.isEmpty());
        QCOMPARE(rig.closed, 1);
        QVERIFY(rig.received.first().startsWith(QStringLiteral("220 ")));
        QVERIFY(rig.received.last().startsWith(QStringLiteral("221 ")));
    }

    // The lines after DATA reach the server dot-stuffed.
    void dataIsDotStuffed() {
        SnppRig rig;
        QVERIFY(rig.page(QStringLiteral(".one\n..\n.")).Delivered());
        QCOMPARE(rig.terminal->dataLines, (QList<QByteArray>{"..one", "...", ".."}));
    }

    // The password goes to the server, never to the transcript.
    void passwordIsMasked() {
        SnppRig rig;
        rig.terminal->password = "s3cret";
        QVERIFY(rig.page(QStringLiteral("hi"), QStringLiteral("5551234"), QStringLiteral("s3cret")).Delivered());
        QCOMPARE(rig.terminal->commands.first(), QByteArray("PAGE 5551234 s3cret"));
        QCOMPARE(rig.shown.first(), QStringLiteral("PAGE 5551234 ****"));
        for (const QString& s : rig.shown + rig.received)
            QVERIFY2(!s.contains(QLatin1String("s3cret")), qPrintable(s));
    }

    // What each kind of failure gives, and whether the client ends with QUIT.
    void outcomes_data() {
        QTest::addColumn<QByteArray>("rejectPager");
        QTest::addColumn<int>("refuseSend");
        QTest::addColumn<QByteArray>("dropAfter");
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("socketError");
        QTest::addColumn<QByteArray>("lastCommand");
        QTest::addColumn<QString>("reasonHas");
        const QByteArray g = "220 ready";
        QTest::newRow("invalid pager ID")
            << QByteArray("5551234") << 0 << QByteArray() << g << Kind::Permanent << 550 << 0 << QByteArray("QUIT")
            << QStringLiteral("refused the pager ID: 550 Error, Invalid Pager ID");
        QTest::newRow("421 at SEND") << QByteArray() << 421 << QByteArray() << g << Kind::Temporary << 421 << 0
                                     << QByteArray("SEND") << QStringLiteral("refused SEND for now: 421");
        QTest::newRow("554 at SEND") << QByteArray() << 554 << QByteArray() << g << Kind::Permanent << 554 << 0
                                     << QByteArray("QUIT") << QStringLiteral("refused SEND: 554");
        QTest::newRow("dropped after PAGE")
            << QByteArray() << 0 << QByteArray("PAGE") << g << Kind::Temporary << 0 << int(sockerr::ConnectionReset)
            << QByteArray("PAGE 5551234") << QStringLiteral("the pager ID: ");
        QTest::newRow("421 greeting") << QByteArray() << 0 << QByteArray() << QByteArray("421 Gateway Service Unavailable")
                                      << Kind::Temporary << 421 << 0 << QByteArray()
                                      << QStringLiteral("refused the connection for now: 421 Gateway Service Unavailable");
        QTest::newRow("not SNPP") << QByteArray() << 0 << QByteArray() << QByteArray("+OK POP3 ready")
                                  << Kind::Temporary << 0 << 0 << QByteArray()
                                  << QStringLiteral("unreadable reply to the connection");
        QTest::newRow("250 greeting is fine") << QByteArray() << 0 << QByteArray() << QByteArray("250 hello")
                                              << Kind::Delivered << 250 << 0 << QByteArray("QUIT") << QString();
    }
    void outcomes() {
        QFETCH(QByteArray, rejectPager);
        QFETCH(int, refuseSend);
        QFETCH(QByteArray, dropAfter);
        QFETCH(QByteArray, greeting);
        QFETCH(Kind, kind);
        QFETCH(int, socketError);
        QFETCH(QString, reasonHas);
        SnppRig rig;
        rig.terminal->rejectPager = rejectPager;
        rig.terminal->refuseSend = refuseSend;
        rig.terminal->dropAfter = dropAfter;
        rig.terminal->greeting = greeting;
        const SnppOutcome out = rig.page(QStringLiteral("hello"));
        QCOMPARE(out.kind, kind);
        if (kind != Kind::Delivered)
            QTEST(out.code, "code");
        QCOMPARE(out.socketError, socketError);
        QVERIFY2(out.reason.contains(reasonHas), qPrintable(out.reason));
        QTEST(rig.terminal->commands.value(rig.terminal->commands.size() - 1), "lastCommand");
        QVERIFY(rig.terminal->sent.size() == (kind == Kind::Delivered ? 1 : 0));
        QCOMPARE(rig.errors, socketError ? QList<int>{socketError} : QList<int>{});
        QCOMPARE(rig.closed, 1);
    }

    // A silent server: each step gives up after its time-out, in virtual time.
    void silentServerTimesOut_data() {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QByteArray>("silentAfter");
        QTest::newRow("no greeting") << true << QByteArray();
        QTest::newRow("no answer to SEND") << false << QByteArray("SEND");
    }
    void silentServerTimesOut() {
        QFETCH(bool, silent);
        QFETCH(QByteArray, silentAfter);
        SnppRig rig;
        rig.terminal->silent = silent;
        rig.terminal->silentAfter = silentAfter;
        const QDateTime start = rig.pump.now();
        const SnppOutcome out = rig.page(QStringLiteral("hello"));
        QCOMPARE(out.kind, Kind::Temporary);
        QCOMPARE(out.socketError, int(sockerr::TimedOut));
        const qint64 took = start.secsTo(rig.pump.now());
        QVERIFY2(took >= 30 && took <= 32, qPrintable(QString::number(took)));
        QCOMPARE(rig.closed, 1);
    }

    // A reply trickled a byte at a time still ends within three time-outs.
    void tricklingReplyHasADeadline() {
        VirtualEventPump pump;
        ScriptedNet net{pump};
        struct Trickle : ServerScript {
            void connected(ServerEnd& end) override {
                for (int i = 0; i < 1000; ++i)
                    end.send("2", 5.0 * (i + 1));
            }
            void received(ServerEnd&, const QByteArray&) override {}
        };
        net.listen(QStringLiteral("snpp.example"), 444, [] { return std::make_unique<Trickle>(); });
        SnppClient snpp(pump, net);
        snpp.SetHost(QStringLiteral("snpp.example"));
        snpp.SetTimeout(20);
        const QDateTime start = pump.now();
        const SnppOutcome out = snpp.SendPage(QStringLiteral("1"), {}, QStringLiteral("x"));
        QCOMPARE(out.socketError, int(sockerr::TimedOut));
        QVERIFY(start.secsTo(pump.now()) <= 61);
    }

    void unreachable_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("socketError");
        QTest::newRow("unknown host") << QStringLiteral("nowhere.invalid") << 444 << int(sockerr::HostNotFound);
        QTest::newRow("refused") << QStringLiteral("snpp.example") << 445 << int(sockerr::ConnectionRefused);
    }
    void unreachable() {
        QFETCH(QString, host);
        QFETCH(int, port);
        SnppRig rig;
        rig.snpp.SetHost(host);
        rig.snpp.SetPort(port);
        const SnppOutcome out = rig.page(QStringLiteral("hello"));
        QCOMPARE(out.kind, Kind::Temporary);
        QTEST(out.socketError, "socketError");
        QCOMPARE(rig.closed, 0);
    }

    // Pager IDs and passwords that would change the command line are
    // refused before connecting.
    void unusableArguments_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("password");
        QTest::newRow("empty ID") << QString() << QString();
        QTest::newRow("space in ID") << QStringLiteral("555 1234") << QString();
        QTest::newRow("line break in ID") << QStringLiteral("555\r\nSEND") << QString();
        QTest::newRow("space in password") << QStringLiteral("5551234") << QStringLiteral("a b");
    }
    void unusableArguments() {
        QFETCH(QString, id);
        QFETCH(QString, password);
        SnppRig rig;
        const SnppOutcome out = rig.page(QStringLiteral("hello"), id, password);
        QCOMPARE(out.kind, Kind::Permanent);
        QVERIFY(rig.net.connections().isEmpty());
    }

    // TLS from the first byte: the greeting is read only after the handshake;
    // a certificate that does not verify ends the page for good.
    void tls() {
        SnppRig rig;
        rig.snpp.SetTls(true);
        rig.terminal->greetingDelay = 0.5; // a TLS server greets after the handshake
        QVERIFY(rig.page(QStringLiteral("hello")).Delivered());
        QVERIFY(rig.net.connections().first()->encrypted);

        SnppRig bad;
        bad.snpp.SetTls(true);
        bad.net.setUntrusted(QStringLiteral("snpp.example"));
        const SnppOutcome out = bad.page(QStringLiteral("hello"));
        QCOMPARE(out.kind, Kind::Permanent);
        QVERIFY2(out.reason.startsWith(QStringLiteral("No secure connection to snpp.example:444")), qPrintable(out.reason));
        QVERIFY(bad.terminal->commands.isEmpty());
        QCOMPARE(bad.closed, 1);
    }
};

QTEST_GUILESS_MAIN(TestSnpp)
#include "test_snpp.moc"
