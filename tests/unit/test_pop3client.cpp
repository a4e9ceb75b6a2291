// The POP3 client and the raw TCP control against a scripted POP3 server
// on the virtual clock.

#include "ground/sockerr.h"
#include "platform/pop3client.h"
#include "tests/fakes/popreplyrecorder.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"

#include <QtTest>

using namespace tessaly;

namespace {

const QByteArray kMsg1 = "Message-ID: <1@example>\r\nFrom: a@example\r\nSubject: one\r\n\r\nBody one\r\n.dotted line\r\n";
const QByteArray kMsg2 = "Message-ID: <2@example>\r\nSubject: two\r\n\r\nSecond body\r\n";

struct Rig {
    VirtualEventPump pump;
    ScriptedNet net{pump};
    SocketRegistry registry;
    std::shared_ptr<Pop3Mailbox> box = std::make_shared<Pop3Mailbox>();
    Pop3Client pop{pump, net, registry};
    TcpControl tcp{registry};
    PopReplyRecorder rec;

    Rig() {
        box->messages = {kMsg1, kMsg2};
        auto b = box;
        net.listen(QStringLiteral("pop.example"), 110, [b] { return makePop3Script(b); });
        pop.SetServer(QStringLiteral("pop.example"));
        pop.SetUser(QStringLiteral("user"));
        pop.SetPassword(QStringLiteral("secret"));
        rec.attach(pop);
    }
    int login() {
        const int socket = pop.Connect();
        tcp.SetSocket(socket);
        if (socket < 1)
            return -1;
        int r = pop.SendUser();
        if (r == 0)
            r = pop.SendPass();
        if (r == 0)
            r = pop.SendStat();
        return r;
    }
};

} // namespace

class TestPop3Client : public QObject {
    Q_OBJECT
private slots:
    // The whole exchange the mail check drives: login, the raw "TOP m 0"
    // followed by two receives for each message, a retrieve in between,
    // and close.
    void checkSessionSequence() {
        Rig rig;
        QCOMPARE(rig.login(), 0);
        QVERIFY(rig.pop.Socket() >= 1);
        QVERIFY(rig.rec.loggedIn);
        QCOMPARE(rig.rec.count, 2);
        QCOMPARE(rig.pop.MessageCount(), 2);

        QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 1 0\r\n")), 0);
        QCOMPARE(rig.pop.Receive(), 0);
        QCOMPARE(rig.pop.Receive(), 0);
        const QString top1 = QStringLiteral(
            "+OK %1 octets\r\nMessage-ID: <1@example>\r\nFrom: a@example\r\nSubject: one\r\n\r\n.\r\n")
                                 .arg(kMsg1.size());
        QCOMPARE(rig.rec.lastReply, top1);

        rig.pop.SetMessageNumber(1);
        QCOMPARE(rig.pop.Retrieve(), 0);
        QCOMPARE(rig.pop.MessageText(), QString::fromLatin1(kMsg1)); // un-stuffed, no status, no "."

        QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 2 0\r\n")), 0);
        QCOMPARE(rig.pop.Receive(), 0);
        QCOMPARE(rig.pop.Receive(), 0);
        QVERIFY2(rig.rec.lastReply.startsWith(QStringLiteral("+OK %1 octets\r\nMessage-ID: <2@example>\r\n").arg(kMsg2.size())),
                 qPrintable(rig.rec.lastReply));
        QVERIFY(rig.rec.lastReply.endsWith(QStringLiteral("Subject: two\r\n\r\n.\r\n")));

        rig.pop.Close();
        QCOMPARE(rig.pop.Socket(), 0);
        QCOMPARE(rig.rec.events.last(), QStringLiteral("closed"));
        QCOMPARE(rig.box->commands,
                 (QList<QByteArray>{"USER user", "PASS secret", "STAT", "TOP 1 0", "NOOP", "RETR 1", "TOP 2 0",
                                    "NOOP", "QUIT"}));
        QVERIFY(rig.rec.errors.isEmpty());
        // After close the raw control has no connection to write on.
        QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 1 0\r\n")), sockerr::NotSocket);
    }

    // Replies that trickle in a few bytes at a time from a slow server:
    // each still ends up whole in the last reply and the message text.
    void replyInPiecesFromSlowServer() {
        Rig rig;
        rig.box->replyDelay = 20; // slow but within the 60-second time-out
        rig.box->chunkSize = 7;
        QCOMPARE(rig.login(), 0);
        QVERIFY(rig.pump.elapsedSeconds() >= 80);
        const qsizetype before = rig.rec.events.size();
        QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 2 0\r\n")), 0);
        QCOMPARE(rig.pop.Receive(), 0);
        const qsizetype pieces = std::count_if(rig.rec.events.begin() + before, rig.rec.events.end(),
                                               [](const QString& e) { return e.startsWith(QLatin1String("data:")); });
        QVERIFY2(pieces > 3, "the reply should have come in several data events");
        QCOMPARE(rig.pop.Receive(), 0);
        QCOMPARE(rig.rec.lastReply,
                 QStringLiteral("+OK %1 octets\r\nMessage-ID: <2@example>\r\nSubject: two\r\n\r\n.\r\n").arg(kMsg2.size()));
        rig.pop.SetMessageNumber(1);
        QCOMPARE(rig.pop.Retrieve(), 0);
        QCOMPARE(rig.pop.MessageText(), QString::fromLatin1(kMsg1));
    }

    // A message of several megabytes is no reason to give up: it arrives
    // in many pieces and comes out whole.
    void severalMegabyteMessage() {
        Rig rig;
        QByteArray big = "Message-ID: <big@example>\r\nSubject: big\r\n\r\n";
        for (int i = 0; big.size() < (5 << 20); ++i)
            big += (i % 100 == 0 ? "." : "") + QByteArray(70, char('a' + i % 26)) + "\r\n";
        rig.box->messages = {big};
        rig.box->chunkSize = 1 << 16;
        QCOMPARE(rig.login(), 0);
        rig.pop.SetMessageNumber(1);
        QCOMPARE(rig.pop.Retrieve(), 0);
        QCOMPARE(rig.pop.MessageText().size(), big.size());
        QVERIFY(rig.pop.MessageText().toLatin1() == big);
        QVERIFY(rig.rec.errors.isEmpty());
    }

    void wrongPasswordIsANegativeReplyNotASocketError() {
        Rig rig;
        rig.pop.SetPassword(QStringLiteral("wrong"));
        QVERIFY(rig.pop.Connect() >= 1);
        QCOMPARE(rig.pop.SendUser(), 0);
        QCOMPARE(rig.pop.SendPass(), PopControl::NegativeReply);
        QVERIFY(rig.rec.errors.isEmpty());
        QVERIFY(!rig.rec.loggedIn);
        QVERIFY(rig.rec.buffer.startsWith(QStringLiteral("-ERR")));
        rig.pop.Close();
        QCOMPARE(rig.box->commands.last(), QByteArray("QUIT"));
    }

    void connectFailures_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("number");
        QTest::addColumn<double>("seconds");
        QTest::newRow("refused") << "pop.example" << 111 << false << 61 << 0.05;
        QTest::newRow("unknown host") << "mail.nowhere.invalid" << 110 << false << 1001 << 0.05;
        QTest::newRow("silent server") << "pop.example" << 110 << true << 60 << 60.05;
    }
    void connectFailures() {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, silent);
        QFETCH(int, number);
        QFETCH(double, seconds);
        Rig rig;
        rig.box->silent = silent;
        rig.pop.SetServer(host);
        rig.pop.SetPort(port);
        QCOMPARE(rig.pop.Connect(), 0);
        QCOMPARE(rig.rec.errors, QList<int>{number});
        QVERIFY(rig.rec.events.contains(QStringLiteral("error:%1:%2").arg(number).arg(sockerr::Text(number))));
        QCOMPARE(rig.pump.elapsedSeconds(), seconds);
        QCOMPARE(rig.pop.Socket(), 0);
    }

    void serverDropsDuringLogin() {
        Rig rig;
        rig.box->dropAfter = "PASS";
        QVERIFY(rig.pop.Connect() >= 1);
        QCOMPARE(rig.pop.SendUser(), 0);
        QCOMPARE(rig.pop.SendPass(), sockerr::ConnectionReset);
        QCOMPARE(rig.rec.errors, QList<int>{sockerr::ConnectionReset});
        QVERIFY(rig.rec.events.contains(QStringLiteral("closed")));
        QCOMPARE(rig.pop.Socket(), 0);
        // Later steps fail at once with "not connected".
        QCOMPARE(rig.pop.SendStat(), sockerr::NotConnected);
        QCOMPARE(rig.rec.errors.last(), sockerr::NotConnected);
    }

    // A header answer larger than a header may be is read to its end and
    // dropped past the bound, asked for alone or in a batch: the answer
    // says so, nothing past the bound is kept, and the next answer on the
    // same connection comes whole.
    void oversizedHeaderIsCutAndTheNextComesWhole_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("batch");
        QTest::addColumn<int>("chunk");
        const QByteArray id = "Message-ID: <big@example>\r\n";
        const QByteArray longLine = id + "X-Long: " + QByteArray(2 << 20, 'x') + "\r\n";
        QByteArray manyLines = id;
        while (manyLines.size() < (3 << 20))
            manyLines += "X-Filler: " + QByteArray(60, 'y') + "\r\n";
        // A dropped line whose last piece alone reads ".\r\n" is no end of the answer.
        constexpr int chunk = 1 << 16;
        const QByteArray dotsName = "X-Dots: ";
        qsizetype n = 2 << 20;
        for (;; ++n) {
            const qsizetype line = dotsName.size() + n + 2;
            const qsizetype message = id.size() + line + QByteArray("\r\nbody\r\n").size();
            const qsizetype status = QByteArray("+OK " + QByteArray::number(message) + " octets\r\n").size();
            if ((status + id.size() + line - 1) % chunk == 2) // the line feed's place in the answer
                break;
        }
        const QByteArray dots = id + dotsName + QByteArray(n, '.') + "\r\n";
        QTest::newRow("one 2 MiB line, alone") << longLine << false << chunk;
        QTest::newRow("one 2 MiB line, in a batch") << longLine << true << chunk;
        QTest::newRow("3 MiB of short lines, alone") << manyLines << false << chunk;
        QTest::newRow("3 MiB of short lines, in a batch") << manyLines << true << chunk;
        QTest::newRow("a dropped line ends like the answer, alone") << dots << false << chunk;
        QTest::newRow("a dropped line ends like the answer, in a batch") << dots << true << chunk;
    }
    void oversizedHeaderIsCutAndTheNextComesWhole() {
        QFETCH(QByteArray, header);
        QFETCH(bool, batch);
        QFETCH(int, chunk);
        Rig rig;
        rig.box->messages = {header + "\r\nbody\r\n", kMsg2};
        rig.box->chunkSize = chunk;
        rig.box->chunkDelay = 0.001;
        QCOMPARE(rig.login(), 0);
        const QString whole2 =
            QStringLiteral("+OK %1 octets\r\nMessage-ID: <2@example>\r\nSubject: two\r\n\r\n.\r\n").arg(kMsg2.size());
        if (batch) {
            QList<PopControl::HeaderAnswer> answers;
            QCOMPARE(rig.pop.RequestHeaders({1, 2}, answers), 0);
            QCOMPARE(answers.size(), 2);
            QCOMPARE(answers[0].result, 0);
            QVERIFY(answers[0].cut);
            QVERIFY(answers[0].reply.size() <= Pop3Client::kMaxHeader);
            QVERIFY(!answers[1].cut);
            QCOMPARE(QString::fromLatin1(answers[1].reply), whole2);
        } else {
            QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 1 0\r\n")), 0);
            QCOMPARE(rig.pop.Receive(), 0);
            QVERIFY(rig.pop.LastReplyCut());
            QCOMPARE(rig.pop.Receive(), 0);
            QVERIFY(rig.rec.lastReply.size() <= Pop3Client::kMaxHeader);
            QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 2 0\r\n")), 0);
            QCOMPARE(rig.pop.Receive(), 0);
            QVERIFY(!rig.pop.LastReplyCut());
            QCOMPARE(rig.pop.Receive(), 0);
            QCOMPARE(rig.rec.lastReply, whole2);
        }
        QVERIFY(rig.pop.Socket() >= 1);
        QVERIFY(rig.rec.errors.isEmpty());
        // Only header answers are cut: the message itself comes whole.
        rig.pop.SetMessageNumber(1);
        QCOMPARE(rig.pop.Retrieve(), 0);
        QVERIFY(!rig.pop.LastReplyCut());
        QCOMPARE(rig.pop.MessageText().size(), rig.box->messages[0].size());
    }

    // A server that stops talking after login: the receive after the raw
    // TOP gives up after the 60-second idle time-out.
    void silenceAfterTop() {
        Rig rig;
        QCOMPARE(rig.login(), 0);
        rig.box->silent = true;
        const double before = rig.pump.elapsedSeconds();
        QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 1 0\r\n")), 0);
        QCOMPARE(rig.pop.Receive(), sockerr::TimedOut);
        QCOMPARE(rig.pump.elapsedSeconds() - before, 60.0);
        QCOMPARE(rig.rec.errors, QList<int>{sockerr::TimedOut});
    }

    // A server that keeps a reply alive with one byte every 59 seconds never
    // trips the idle time-out; the command's own deadline ends it.
    void tricklingReplyMeetsItsDeadline_data() {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<double>("commandDeadline");
        QTest::addColumn<double>("downloadDeadline");
        QTest::addColumn<double>("failsAfter");
        QTest::newRow("header request") << QByteArray("TOP") << 60.0 << 300.0 << 60.0;
        QTest::newRow("download") << QByteArray("RETR") << 60.0 << 300.0 << 300.0;
        QTest::newRow("shorter setting") << QByteArray("TOP") << 20.0 << 300.0 << 20.0;
        QTest::newRow("longer download setting") << QByteArray("RETR") << 60.0 << 600.0 << 600.0;
    }
    void tricklingReplyMeetsItsDeadline() {
        QFETCH(QByteArray, verb);
        QFETCH(double, commandDeadline);
        QFETCH(double, downloadDeadline);
        QFETCH(double, failsAfter);
        Rig rig;
        rig.pop.SetCommandDeadline(commandDeadline);
        rig.pop.SetDownloadDeadline(downloadDeadline);
        QCOMPARE(rig.login(), 0);
        rig.box->chunkSize = 1;
        rig.box->chunkDelay = 59;
        rig.box->replyDelay = 1;
        const double before = rig.pump.elapsedSeconds();
        int result = 0;
        if (verb == "TOP") {
            QCOMPARE(rig.tcp.SendText(QStringLiteral("TOP 1 0\r\n")), 0);
            result = rig.pop.Receive();
        } else {
            rig.pop.SetMessageNumber(1);
            result = rig.pop.Retrieve();
        }
        QCOMPARE(result, sockerr::TimedOut);
        QCOMPARE(rig.pump.elapsedSeconds() - before, failsAfter);
        QCOMPARE(rig.rec.errors, QList<int>{sockerr::TimedOut});
        QCOMPARE(rig.pop.Socket(), 0); // failed as a socket error would: the connection is given up
    }
};

QTEST_GUILESS_MAIN(TestPop3Client)
#include "test_pop3client.moc"
