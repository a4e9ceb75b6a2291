// TLS and login against real servers started by the test on 127.0.0.1 with
// a certificate it makes: Dovecot with TLS on its own port and STLS on the
// plain port, a Dovecot without TLS, and aiosmtpd with STARTTLS and AUTH.

#include "platform/passwordcommand.h"
#include "platform/pop3client.h"
#include "platform/smtpcontrol.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/smtpsink.h"
#include "tests/integration/testcerts.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

class TestMailTls : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    TestCertificates certs_;
    DovecotServer secure_;
    DovecotServer plain_;
    SmtpSinkServer sinkBoth_;  // STARTTLS, AUTH PLAIN and LOGIN
    SmtpSinkServer sinkLogin_; // STARTTLS, AUTH LOGIN only
    SmtpSinkServer sinkPlain_; // no TLS, no AUTH
    const QHash<QString, QString> users_{{QStringLiteral("tester"), QStringLiteral("s3cret")}};

private slots:
    void initTestCase() {
        if (!DovecotServer::available() || !SmtpSinkServer::available())
            QSKIP("dovecot or python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        QVERIFY(certs_.make());
        QVERIFY(secure_.start(pump_, users_, certs_.serverCert(), certs_.serverKey()));
        QVERIFY(plain_.start(pump_, users_));
        const QStringList tls{certs_.serverCert(), certs_.serverKey(), QStringLiteral("pager:pw-9z")};
        QVERIFY(sinkBoth_.start(pump_, 0, tls));
        QVERIFY(sinkLogin_.start(pump_, 0, tls + QStringList{QStringLiteral("PLAIN")}));
        QVERIFY(sinkPlain_.start(pump_));
    }
    void cleanupTestCase() {
        for (DovecotServer* d : {&secure_, &plain_}) {
            if (QTest::currentTestFailed())
                qInfo().noquote() << d->logText();
            d->stop();
        }
        for (SmtpSinkServer* s : {&sinkBoth_, &sinkLogin_, &sinkPlain_})
            s->stop();
    }

    // expected: "tls" or "clear" for a login over that kind of connection,
    // otherwise a piece of the one line that ends the connection.
    void pop_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("security");
        QTest::addColumn<bool>("trust");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TLS port") << "localhost" << "tls" << "TLS" << true << "tls";
        QTest::newRow("STLS, automatic") << "localhost" << "secure" << "automatic" << true << "tls";
        QTest::newRow("STLS, required") << "localhost" << "secure" << "STARTTLS required" << true << "tls";
        QTest::newRow("no STLS, automatic") << "localhost" << "plain" << "automatic" << true << "clear";
        QTest::newRow("no STLS, required") << "localhost" << "plain" << "STARTTLS required"
                                          << true << "offers no STLS, and STARTTLS is required";
        QTest::newRow("wrong host name") << "127.0.0.1" << "tls" << "TLS" << true << "wrong host name";
        QTest::newRow("STLS, wrong host name") << "127.0.0.1" << "secure" << "automatic" << true << "wrong host name";
        QTest::newRow("unknown issuer") << "localhost" << "tls" << "TLS" << false << "issuer is unknown";
    }
    void pop() {
        QFETCH(QString, host);
        QFETCH(QString, server);
        QFETCH(QString, security);
        QFETCH(bool, trust);
        QFETCH(QString, expected);
        SocketRegistry registry;
        TcpLinkFactory links;
        Pop3Client pop(pump_, links, registry);
        QStringList failures, errors;
        int clear = 0;
        connect(&pop, &PopControl::secureFailed, this, [&](const QString& t) { failures << t; });
        connect(&pop, &PopControl::error, this, [&](int, const QString& t) { errors << t; });
        connect(&pop, &PopControl::clearText, this, [&] { ++clear; });
        pop.SetServer(host);
        pop.SetPort(server == QLatin1String("tls") ? secure_.tlsPort()
                                                   : (server == QLatin1String("secure") ? secure_.port() : plain_.port()));
        pop.SetSecurity(SecurityFromText(security));
        pop.SetCaFile(trust ? certs_.ca() : QString());
        pop.SetTimeout(15);
        pop.SetUser(QStringLiteral("tester"));
        pop.SetPassword(QStringLiteral("s3cret"));
        const int socket = pop.Connect();
        if (expected != QLatin1String("tls") && expected != QLatin1String("clear")) {
            QCOMPARE(socket, 0);
            QCOMPARE(failures.size(), 1);
            QVERIFY2(failures[0].contains(expected) && failures[0].contains(host), qPrintable(failures[0]));
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
            return;
        }
        QVERIFY2(socket > 0, qPrintable(failures.join('|') + errors.join('|')));
        QCOMPARE(pop.SendUser(), 0);
        QCOMPARE(pop.SendPass(), 0);
        QCOMPARE(pop.SendStat(), 0);
        pop.Close();
        QCOMPARE(clear, expected == QLatin1String("clear") ? 1 : 0);
        // Dovecot marks a login made over TLS.
        const DovecotServer& d = server == QLatin1String("plain") ? plain_ : secure_;
        const QStringList logins = d.logText().split('\n').filter(QStringLiteral("Login: user=<tester>"));
        QVERIFY(!logins.isEmpty());
        QCOMPARE(logins.last().contains(QLatin1String("TLS")), expected == QLatin1String("tls"));
    }

    void smtp_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("security");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        QTest::newRow("AUTH PLAIN") << "localhost" << "both" << "automatic" << "pw-9z" << "" << "sent";
        QTest::newRow("AUTH LOGIN, password command") << "localhost" << "login" << "STARTTLS required" << ""
                                                      << "printf \"pw-9z\\nsecond line\\n\"" << "sent";
        QTest::newRow("wrong password") << "localhost" << "both" << "automatic" << "nope" << ""
                                        << "refused the login of pager";
        QTest::newRow("failing password command") << "localhost" << "both" << "automatic" << ""
                                                  << "false" << "password command failed";
        QTest::newRow("wrong host name") << "127.0.0.1" << "both" << "automatic" << "pw-9z" << "" << "wrong host name";
        QTest::newRow("no STARTTLS, required") << "localhost" << "plain" << "STARTTLS required" << "" << ""
                                               << "offers no STARTTLS";
        QTest::newRow("no STARTTLS, password kept") << "localhost" << "plain" << "automatic" << "pw-9z" << ""
                                                    << "only sent over TLS";
        QTest::newRow("no STARTTLS, no login") << "localhost" << "plain" << "automatic" << "" << "" << "sent";
    }
    void smtp() {
        QFETCH(QString, host);
        QFETCH(QString, server);
        QFETCH(QString, security);
        QFETCH(QString, password);
        QFETCH(QString, command);
        QFETCH(QString, expected);
        SmtpSinkServer& sink = server == QLatin1String("both") ? sinkBoth_ : server == QLatin1String("login") ? sinkLogin_ : sinkPlain_;
        sink.Clear();
        TcpLinkFactory links;
        SmtpClient smtp(pump_, links);
        QStringList failures, shown;
        connect(&smtp, &SmtpControl::secureFailed, this, [&](const QString& t) { failures << t; });
        connect(&smtp, &SmtpControl::dataReceived, this, [&](const QString& t) { shown << t; });
        connect(&smtp, &SmtpControl::commandSent, this, [&](const QString& t) { shown << t; });
        smtp.SetHostName(host);
        smtp.SetPort(sink.port());
        smtp.SetSecurity(SecurityFromText(security));
        smtp.SetCaFile(certs_.ca());
        smtp.SetAuthUser(password.isEmpty() && command.isEmpty() ? QString() : QStringLiteral("pager"));
        smtp.SetAuthPassword(password);
        smtp.SetPasswordCommand(command);
        smtp.SetTimeout(15);
        smtp.SetSender(QStringLiteral("tessaly@example.org"));
        smtp.SetRecipient(QStringLiteral("5551234@pager.example.net"));
        smtp.SetSubject(QStringLiteral("page"));
        smtp.SetBody(QStringLiteral("Server room too warm"));
        const int result = smtp.Send();
        // Neither the password nor the AUTH blobs reach the terminal.
        const QString terminal = shown.join(QString());
        for (const QByteArray& secret : {QByteArray("pw-9z"), QByteArray("pw-9z").toBase64(),
                                         QByteArray("\0pager\0pw-9z", 12).toBase64()})
            QVERIFY2(!terminal.contains(QString::fromLatin1(secret)), qPrintable(terminal));
        if (expected == QLatin1String("sent")) {
            QVERIFY2(result == 0, qPrintable(failures.join('|') + terminal));
            QCOMPARE(sink.received().size(), 1);
            QCOMPARE(sink.received()[0].value(QStringLiteral("auth_user")).toString(),
                     smtp.AuthUser().isEmpty() ? QString() : QStringLiteral("pager"));
            return;
        }
        QVERIFY(result != 0);
        QVERIFY(sink.received().isEmpty());
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures[0].contains(expected), qPrintable(failures[0]));
    }

    // A connection that fails for a common mistake of the settings says what
    // to change, in one line.
    void causeIsNamed_data() {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("security");
        QTest::addColumn<QString>("expected");
        QTest::newRow("POP3 TLS on a STARTTLS port") << "pop" << "plain" << "TLS" << "most likely expects STARTTLS";
        QTest::newRow("POP3 automatic on a TLS port")
            << "pop" << "tls" << "automatic" << "if the server speaks TLS from the first byte on this port";
        QTest::newRow("SMTP TLS on a STARTTLS port") << "smtp" << "plain" << "TLS" << "most likely expects STARTTLS";
        QTest::newRow("SMTP login wanted, none set") << "smtp" << "both" << "automatic"
                                                     << "wants a login (530";
    }
    void causeIsNamed() {
        QFETCH(QString, protocol);
        QFETCH(QString, server);
        QFETCH(QString, security);
        QFETCH(QString, expected);
        QStringList failures;
        TcpLinkFactory links;
        if (protocol == QLatin1String("pop")) {
            SocketRegistry registry;
            Pop3Client pop(pump_, links, registry);
            connect(&pop, &PopControl::secureFailed, this, [&](const QString& t) { failures << t; });
            pop.SetServer(QStringLiteral("localhost"));
            pop.SetPort(server == QLatin1String("tls") ? secure_.tlsPort() : plain_.port());
            pop.SetSecurity(SecurityFromText(security));
            pop.SetCaFile(certs_.ca());
            pop.SetTimeout(2);
            QCOMPARE(pop.Connect(), 0);
        } else {
            SmtpSinkServer& sink = server == QLatin1String("both") ? sinkBoth_ : sinkPlain_;
            sink.Clear();
            SmtpClient smtp(pump_, links);
            connect(&smtp, &SmtpControl::secureFailed, this, [&](const QString& t) { failures << t; });
            smtp.SetHostName(QStringLiteral("localhost"));
            smtp.SetPort(sink.port());
            smtp.SetSecurity(SecurityFromText(security));
            smtp.SetCaFile(certs_.ca());
            smtp.SetTimeout(15);
            smtp.SetSender(QStringLiteral("tessaly@example.org"));
            smtp.SetRecipient(QStringLiteral("5551234@pager.example.net"));
            smtp.SetBody(QStringLiteral("page"));
            QVERIFY(smtp.Send() != 0);
            QVERIFY(smtp.RefusedForGood());
            QVERIFY(sink.received().isEmpty());
        }
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures[0].contains(expected), qPrintable(failures[0]));
    }

    // The password command runs without a shell: its words are not expanded.
    void passwordCommandWithoutShell() {
        const PasswordCommandResult r = RunPasswordCommand(pump_, QStringLiteral("echo $HOME;x"), 10, nullptr);
        QVERIFY(r.ok);
        QCOMPARE(r.password, QStringLiteral("$HOME;x"));
        QVERIFY(!RunPasswordCommand(pump_, QStringLiteral("/nonexistent/pass show mail"), 10, nullptr).ok);
    }
};

QTEST_GUILESS_MAIN(TestMailTls)
#include "test_mail_tls.moc"
