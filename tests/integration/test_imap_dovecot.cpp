// The IMAP client against a real Dovecot IMAP server started by the test on
// 127.0.0.1 with its own configuration, users, maildirs and a test CA:
// login, EXAMINE of the inbox and another folder, UIDs and sizes, header
// and message sets, nothing marked seen, IDLE news of a delivery, STARTTLS
// and TLS from the first byte.

#include "ground/sockerr.h"
#include "platform/imapclient.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/testcerts.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

Q_DECLARE_METATYPE(tessaly::Security)

namespace {

QByteArray messageFile(int n) {
    const QByteArray k = QByteArray::number(n);
    return "Message-ID: <" + k + "@test.example>\nFrom: Sender <s" + k + "@test.example>\nTo: tester@test.example\n"
           "Subject: Test message " + k + "\n\nBody of message " + k + ".\n";
}

QByteArray crlf(QByteArray text) { return text.replace("\n", "\r\n"); }

} // namespace

class TestImapDovecot : public QObject {
    Q_OBJECT
    TestCertificates certs_;
    DovecotServer dovecot_;
    RealEventPump pump_;
    TcpLinkFactory links_;

    std::unique_ptr<ImapClient> client(Security security, bool tlsPort = false, bool trust = true) {
        auto c = std::make_unique<ImapClient>(pump_, links_);
        c->SetHost(QStringLiteral("localhost"));
        c->SetPort(tlsPort ? dovecot_.imapTlsPort() : dovecot_.imapPort());
        c->SetSecurity(security);
        c->SetCaFile(trust ? certs_.ca() : QString());
        c->SetTimeout(10);
        return c;
    }
    // A client logged in as `user` and examining `folder`.
    std::unique_ptr<ImapClient> examining(const QString& user, const QString& folder = {}) {
        auto c = client(Security::StartTls);
        if (c->Connect() != 0 || c->Login(user, QStringLiteral("s3cret")) != 0 || c->Examine(folder) != 0)
            return nullptr;
        return c;
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available() || !DovecotServer::imapAvailable())
            QSKIP("dovecot IMAP is not installed (Debian package dovecot-imapd; scripts/setup-deps.sh --tests)");
        QVERIFY(certs_.make());
        dovecot_.SetImap(true);
        QVERIFY(dovecot_.start(pump_, {{QStringLiteral("tester"), QStringLiteral("s3cret")},
                                       {QStringLiteral("idler"), QStringLiteral("s3cret")}},
                               certs_.serverCert(), certs_.serverKey()));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(dovecot_.deliver(QStringLiteral("tester"), messageFile(n)));
        QVERIFY(dovecot_.deliverTo(QStringLiteral("tester"), QStringLiteral("Archive"), messageFile(9)));
    }

    void cleanupTestCase() {
        dovecot_.stop();
        if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("TESSALY_KEEP_LOGS"))
            qInfo().noquote() << dovecot_.logText();
    }

    // The inbox read whole, then a second connection finds nothing seen.
    void readsInbox() {
        auto c = examining(QStringLiteral("tester"));
        QVERIFY(c);
        QVERIFY(c->Encrypted());
        const ImapClient::Mailbox& box = c->CurrentMailbox();
        QCOMPARE(box.exists, 3);
        QVERIFY(box.uidValidity != 0);
        QVERIFY(box.uidNext >= 4);
        QVERIFY(box.readOnly);
        QVERIFY(c->Offers("IDLE"));

        QList<ImapClient::MessageInfo> infos;
        QCOMPARE(c->FetchUidsAndSizes(infos), 0);
        QCOMPARE(infos.size(), 3);
        QList<quint32> uids;
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(infos[n - 1].uid != 0);
            QCOMPARE(infos[n - 1].size, crlf(messageFile(n)).size());
            uids << infos[n - 1].uid;
        }
        QHash<quint32, ImapClient::Fetched> headers;
        QCOMPARE(c->FetchHeaders(uids, headers), 0);
        QCOMPARE(headers.size(), 3);
        const QByteArray first = headers.value(uids[0]).text;
        QVERIFY(first.contains("Subject: Test message 1\r\n"));
        QVERIFY(first.endsWith("\r\n\r\n"));
        QVERIFY(!first.contains("Body of message"));
        QHash<quint32, ImapClient::Fetched> bodies;
        QCOMPARE(c->FetchMessages({uids[2], uids[1]}, bodies), 0);
        QCOMPARE(bodies.size(), 2);
        QCOMPARE(bodies.value(uids[1]).text, crlf(messageFile(2)));
        QCOMPARE(c->Logout(), 0);
        QVERIFY(!c->IsOpen());

        auto again = examining(QStringLiteral("tester"));
        QVERIFY(again);
        QHash<quint32, QList<QByteArray>> flags;
        QCOMPARE(again->FetchFlags(uids, flags), 0);
        QCOMPARE(flags.size(), 3);
        for (const QList<QByteArray>& f : flags)
            QVERIFY2(!f.contains("\\SEEN"), f.join(' ').constData());
        again->Logout();
    }

    void folders() {
        auto c = examining(QStringLiteral("tester"), QStringLiteral("Archive"));
        QVERIFY(c);
        QCOMPARE(c->CurrentMailbox().exists, 1);
        QList<ImapClient::MessageInfo> infos;
        QCOMPARE(c->FetchUidsAndSizes(infos), 0);
        QHash<quint32, ImapClient::Fetched> bodies;
        QCOMPARE(c->FetchMessages({infos.value(0).uid}, bodies), 0);
        QCOMPARE(bodies.value(infos.value(0).uid).text, crlf(messageFile(9)));
        QCOMPARE(c->Examine(QStringLiteral("No such folder")), ImapClient::kRefused);
        QVERIFY(c->IsOpen());
        QCOMPARE(c->Examine(QString()), 0);
        QCOMPARE(c->CurrentMailbox().exists, 3);
        c->Logout();
    }

    void refusedLogin() {
        auto c = client(Security::StartTls);
        QCOMPARE(c->Connect(), 0);
        QCOMPARE(c->Login(QStringLiteral("tester"), QStringLiteral("wrong")), ImapClient::kRefused);
        QVERIFY(c->IsOpen());
        c->Logout();
    }

    void security_data() {
        QTest::addColumn<Security>("choice");
        QTest::addColumn<bool>("tlsPort");
        QTest::addColumn<bool>("trust");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("STARTTLS, automatic") << Security::Automatic << false << true << 0 << true;
        QTest::newRow("STARTTLS, required") << Security::StartTls << false << true << 0 << true;
        QTest::newRow("TLS from the first byte") << Security::Tls << true << true << 0 << true;
        QTest::newRow("none") << Security::None << false << true << 0 << false;
        QTest::newRow("TLS, unknown issuer") << Security::Tls << true << false << ImapClient::kSecureFailed << false;
        QTest::newRow("STARTTLS, unknown issuer")
            << Security::StartTls << false << false << ImapClient::kSecureFailed << false;
    }
    void security() {
        QFETCH(Security, choice);
        QFETCH(bool, tlsPort);
        QFETCH(bool, trust);
        QFETCH(int, result);
        QFETCH(bool, encrypted);
        auto c = client(choice, tlsPort, trust);
        int r = c->Connect();
        if (r == 0)
            r = c->Login(QStringLiteral("tester"), QStringLiteral("s3cret"));
        QCOMPARE(r, result);
        QCOMPARE(c->Encrypted(), encrypted);
        if (result == ImapClient::kSecureFailed)
            QVERIFY2(c->LastFailure().contains(QLatin1String("No secure connection")), qPrintable(c->LastFailure()));
        if (result == 0) {
            QVERIFY(!c->Offers("STARTTLS") || !encrypted);
            QCOMPARE(c->Examine(QString()), 0);
            QCOMPARE(c->CurrentMailbox().exists, 3);
            c->Logout();
        }
    }

    // A message delivered while the client idles is news within seconds.
    void idle() {
        auto c = examining(QStringLiteral("idler"));
        QVERIFY(c);
        QCOMPARE(c->CurrentMailbox().exists, 0);
        int news = 0;
        QList<int> ended;
        connect(c.get(), &ImapClient::idleNews, this, [&] { ++news; });
        connect(c.get(), &ImapClient::idleEnded, this, [&](int e) { ended << e; });
        QCOMPARE(c->StartIdle(), 0);
        pump_.pause(0.3, nullptr);
        QCOMPARE(news, 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(dovecot_.deliver(QStringLiteral("idler"), messageFile(5)));
        QVERIFY(pump_.waitUntil([&] { return news > 0; }, 5, nullptr));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(c->CurrentMailbox().exists, 1);
        QCOMPARE(c->StopIdle(), 0);
        QVERIFY(ended.isEmpty());
        QList<ImapClient::MessageInfo> infos;
        QCOMPARE(c->FetchUidsAndSizes(infos), 0);
        QCOMPARE(infos.size(), 1);
        QCOMPARE(c->Logout(), 0);
    }
};

QTEST_GUILESS_MAIN(TestImapDovecot)
#include "test_imap_dovecot.moc"
