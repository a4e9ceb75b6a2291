// The POP3 client and the raw TCP control against a real Dovecot POP3
// server started by the test on 127.0.0.1 with its own configuration,
// users and maildir in a temporary directory.

#include "platform/pop3client.h"
#include "tests/fakes/popreplyrecorder.h"
#include "tests/integration/peers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <pwd.h>
#include <unistd.h>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

const QString kDovecot = QStringLiteral("/usr/sbin/dovecot");

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
    QTemporaryDir dir_;
    quint16 port_ = 0;
    PeerProcess dovecot_;
    RealEventPump pump_;

private slots:
    void initTestCase() {
        if (!QFileInfo(kDovecot).isExecutable())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        QVERIFY(dir_.isValid());
        const QString d = dir_.path();
        // Dovecot's auth process runs as its own user and reads the passwd file.
        QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                     QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        port_ = freePort();
        for (const char* sub : {"run", "state", "mail/tester/new", "mail/tester/cur", "mail/tester/tmp"})
            QVERIFY(QDir().mkpath(d + QLatin1Char('/') + QLatin1String(sub)));
        for (int n = 1; n <= 3; ++n) {
            QFile f(QStringLiteral("%1/mail/tester/new/100000000%2.M1P1.test").arg(d).arg(n));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(messageFile(n));
        }
        // Dovecot will not serve mail as root: run as root, the mailbox
        // belongs to "nobody".
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (uid == 0) {
            const passwd* nobody = getpwnam("nobody");
            QVERIFY(nobody);
            uid = nobody->pw_uid;
            gid = nobody->pw_gid;
            QProcess chown;
            chown.start(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(uid).arg(gid),
                                                  d + QStringLiteral("/mail")});
            QVERIFY(chown.waitForFinished(10000) && chown.exitCode() == 0);
        }
        QFile passwd(d + QStringLiteral("/passwd"));
        QVERIFY(passwd.open(QIODevice::WriteOnly));
        passwd.write(QStringLiteral("tester:{PLAIN}s3cret:%1:%2::%3/mail/tester\n").arg(uid).arg(gid).arg(d).toUtf8());
        passwd.close();
        QFile conf(d + QStringLiteral("/dovecot.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral(
                       "base_dir = %1/run\n"
                       "state_dir = %1/state\n"
                       "log_path = %1/dovecot.log\n"
                       "protocols = pop3\n"
                       "listen = 127.0.0.1\n"
                       "ssl = no\n"
                       "disable_plaintext_auth = no\n"
                       "auth_failure_delay = 0\n"
                                              "mail_location = maildir:%1/mail/%u\n"
                       "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                       "userdb {\n  driver = passwd-file\n  args = %1/passwd\n}\n"
                       "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = %2\n  }\n}\n"
                       "service anvil {\n  chroot =\n}\n"
                       "service imap-login {\n  chroot =\n}\n"
                       "service pop3-login {\n  chroot =\n}\n")
                       .arg(d)
                       .arg(port_)
                       .toUtf8());
        conf.close();
        dovecot_.start(kDovecot, {QStringLiteral("-F"), QStringLiteral("-c"), conf.fileName()});
        QVERIFY2(waitForPort(pump_, port_, 15), "dovecot did not start listening");
    }

    void cleanupTestCase() {
        dovecot_.stop();
        if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("TESSALY_KEEP_LOGS")) {
            QFile log(dir_.path() + QStringLiteral("/dovecot.log"));
            if (log.open(QIODevice::ReadOnly))
                qInfo().noquote() << log.readAll();
        }
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
