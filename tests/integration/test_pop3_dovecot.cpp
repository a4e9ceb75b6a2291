// The POP3 client and the raw TCP control against a real Dovecot POP3
// server started by the test on 127.0.0.1 with its own configuration,
// users and maildir in a temporary directory.

#include "platform/pop3client.h"
#include "tests/fakes/popreplyrecorder.h"
#include "tests/integration/dovecot.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <pwd.h>
#include <unistd.h>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

// Three messages as stored in the maildir (LF line ends, as maildir keeps them).
QByteArray messageFile(int n) {
    QByteArray text = "Message-ID: <" + QByteArray::number(n) + "@test.example>\n"
                      "From: Sender " + QByteArray::number(n) + " <s" + QByteArray::number(n) + "@test.example>\n"
                      "To: tester@test.example\n"
                      "Subject: Test message " + QByteArray::number(n) + "\n"
                      "Date: Mon, 7 Dec 2026 10:0" + QByteArray::number(n) + ":00 +0000\n"
                      "X-Priority: " + QByteArray::number(n) + "\n"
                      "\n"
                      "Body of message " + QByteArray::number(n) + ".\n";
    if (n == 2)
        text += ".A line that begins with a dot\n.\nlast line\n";
    return text;
}

QByteArray crlf(QByteArray text) { return text.replace("\n", "\r\n"); }

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT
    quint16 port_ = 0;
    DovecotServer dovecot_;
    RealEventPump pump_;

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        QVERIFY(dovecot_.start(pump_, {{QStringLiteral("tester"), QStringLiteral("s3cret")}}));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(dovecot_.deliver(QStringLiteral("tester"), messageFile(n)));
        port_ = dovecot_.port();
    }

    void cleanupTestCase() {
        dovecot_.stop();
        if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("TESSALY_KEEP_LOGS"))
            qInfo().noquote() << dovecot_.logText();
    }

    // The exchange of a mail check: login, count, for every message the raw
    // "TOP m 0" and two receives leaving the whole answer in the last reply,
    // a retrieve, and close.
    void checkSession() {
        SocketRegistry registry;
        TcpLinkFactory links;
        Pop3Client pop(pump_, links, registry);
        TcpControl tcp(registry);
        PopReplyRecorder rec;
        rec.attach(pop);
        QList<int> tcpErrors;
        int tcpSent = 0;
        connect(&tcp, &TcpControl::error, this, [&](int n, const QString&) { tcpErrors << n; });
        connect(&tcp, &TcpControl::packetSent, this, [&] { ++tcpSent; });
        pop.SetServer(QStringLiteral("127.0.0.1"));
        pop.SetPort(port_);
        pop.SetUser(QStringLiteral("tester"));
        pop.SetPassword(QStringLiteral("s3cret"));

        const int socket = pop.Connect();
        QVERIFY(socket >= 1);
        QVERIFY(rec.buffer.startsWith(QStringLiteral("+OK")));
        tcp.SetSocket(socket);
        QCOMPARE(pop.SendUser(), 0);
        QCOMPARE(pop.SendPass(), 0);
        QCOMPARE(pop.SendStat(), 0);
        QVERIFY(rec.loggedIn);
        QCOMPARE(rec.count, 3);

        for (int m = 1; m <= 3; ++m) {
            QCOMPARE(tcp.SendText(QStringLiteral("TOP %1 0\r\n").arg(m)), 0);
            QCOMPARE(pop.Receive(), 0);
            QCOMPARE(pop.Receive(), 0);
            const QByteArray file = crlf(messageFile(m));
            const QByteArray header = file.left(file.indexOf("\r\n\r\n") + 4);
            // Status line first; Dovecot gives no size on TOP, so only "+OK" is fixed.
            QVERIFY2(rec.lastReply.startsWith(QStringLiteral("+OK")), qPrintable(rec.lastReply));
            const QString status = rec.lastReply.left(rec.lastReply.indexOf(QLatin1String("\r\n")) + 2);
            QCOMPARE(rec.lastReply, status + QString::fromLatin1(header) + QStringLiteral(".\r\n"));
        }
        QCOMPARE(tcpSent, 3);

        pop.SetMessageNumber(2);
        QCOMPARE(pop.Retrieve(), 0);
        QCOMPARE(pop.MessageText(), QString::fromLatin1(crlf(messageFile(2))));

        pop.Close();
        QCOMPARE(pop.Socket(), 0);
        QCOMPARE(rec.events.last(), QStringLiteral("closed"));
        QVERIFY(rec.errors.isEmpty());
        QVERIFY(tcpErrors.isEmpty());
    }

    void wrongPassword() {
        SocketRegistry registry;
        TcpLinkFactory links;
        Pop3Client pop(pump_, links, registry);
        PopReplyRecorder rec;
        rec.attach(pop);
        pop.SetServer(QStringLiteral("localhost"));
        pop.SetPort(port_);
        pop.SetUser(QStringLiteral("tester"));
        pop.SetPassword(QStringLiteral("wrong"));
        QVERIFY(pop.Connect() >= 1);
        QCOMPARE(pop.SendUser(), 0);
        QCOMPARE(pop.SendPass(), PopControl::NegativeReply);
        QVERIFY(rec.buffer.startsWith(QStringLiteral("-ERR")));
        QVERIFY(!rec.loggedIn);
        QVERIFY(rec.errors.isEmpty());
        pop.Close();
    }
};

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "test_pop3_dovecot.moc"
