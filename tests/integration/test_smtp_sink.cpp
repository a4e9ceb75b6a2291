// The SMTP client against a real SMTP server (aiosmtpd) started by the
// test on 127.0.0.1; the server writes what it received to a file.

#include "platform/smtpcontrol.h"
#include "tests/integration/smtpsink.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {
}

class TestSmtpSink : public QObject {
    Q_OBJECT
    quint16 port_ = 0;
    SmtpSinkServer sink_;
    RealEventPump pump_;

private slots:
    void initTestCase() {
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        QVERIFY2(sink_.start(pump_, port_), "the SMTP sink did not start listening");
        port_ = sink_.port();
    }

    void sendsEnvelopeHeadersAndBody() {
        TcpLinkFactory links;
        SmtpClient smtp(pump_, links);
        QList<int> errors;
        QStringList replies;
        int closed = 0;
        connect(&smtp, &SmtpControl::error, this, [&](int n, const QString&) { errors << n; });
        connect(&smtp, &SmtpControl::dataReceived, this, [&](const QString& t) { replies << t; });
        connect(&smtp, &SmtpControl::socketClosed, this, [&] { ++closed; });
        smtp.SetHostAddress(QStringLiteral("127.0.0.1"));
        smtp.SetHostName(QStringLiteral("ignored.invalid")); // the address wins
        smtp.SetPort(port_);
        smtp.SetDomain(QStringLiteral("client.test"));
        smtp.SetSender(QStringLiteral("pager-user@client.test"));
        smtp.SetRecipient(QStringLiteral("5551234@pager.test"));
        smtp.SetSubject(QStringLiteral("Mail from Ann"));
        smtp.SetMailer(QStringLiteral("Tessaly v1.1"));
        smtp.SetBody(QStringLiteral("First line\n.hidden dot\nCaf\u00e9 at 12:00"));
        QCOMPARE(smtp.Send(), 0);
        QVERIFY(errors.isEmpty());
        QCOMPARE(closed, 1);
        QVERIFY(replies.first().startsWith(QStringLiteral("220")));

        const QList<QJsonObject> got = sink_.received();
        QCOMPARE(got.size(), 1);
        const QJsonObject m = got[0];
        QCOMPARE(m[QStringLiteral("helo")].toString(), QStringLiteral("client.test"));
        QCOMPARE(m[QStringLiteral("mail_from")].toString(), QStringLiteral("pager-user@client.test"));
        QCOMPARE(m[QStringLiteral("rcpt_tos")].toArray().size(), 1);
        QCOMPARE(m[QStringLiteral("rcpt_tos")][0].toString(), QStringLiteral("5551234@pager.test"));
        const QString data = m[QStringLiteral("data")].toString();
        const qsizetype blank = data.indexOf(QLatin1String("\r\n\r\n"));
        QVERIFY(blank > 0);
        const QStringList headers = data.left(blank).split(QStringLiteral("\r\n"));
        QVERIFY(headers.contains(QStringLiteral("From: pager-user@client.test")));
        QVERIFY(headers.contains(QStringLiteral("To: 5551234@pager.test")));
        QVERIFY(headers.contains(QStringLiteral("Subject: Mail from Ann")));
        QVERIFY(headers.contains(QStringLiteral("X-Mailer: Tessaly v1.1")));
        const auto date = std::find_if(headers.begin(), headers.end(),
                                       [](const QString& h) { return h.startsWith(QLatin1String("Date: ")); });
        QVERIFY(date != headers.end());
        QVERIFY2(QDateTime::fromString(date->mid(6), Qt::RFC2822Date).isValid(), qPrintable(*date));
        // The server has removed the dot-stuffing: the body is as typed, in
        // UTF-8 as quoted-printable.
        QVERIFY(headers.contains(QStringLiteral("Content-Type: text/plain; charset=UTF-8")));
        QVERIFY(headers.contains(QStringLiteral("Content-Transfer-Encoding: quoted-printable")));
        QCOMPARE(data.mid(blank + 4), QStringLiteral("First line\r\n.hidden dot\r\nCaf=C3=A9 at 12:00\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestSmtpSink)
#include "test_smtp_sink.moc"
