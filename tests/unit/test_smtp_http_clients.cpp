// The SMTP and HTTP clients against scripted servers on the virtual clock,
// and the socket error table they report with.

#include "ground/sockerr.h"
#include "platform/httpcontrol.h"
#include "ground/mimetext.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"

#include <QtTest>
#include <cerrno>
#include <netdb.h>

using namespace tessaly;

namespace {

struct SmtpRig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(12, 30, 5))};
    ScriptedNet net{pump};
    std::shared_ptr<SmtpSink> sink = std::make_shared<SmtpSink>();
    SmtpClient smtp{pump, net};
    QList<int> errors;
    QStringList received;
    int closed = 0;
    SmtpRig() {
        auto s = sink;
        net.listen(QStringLiteral("smtp.example"), 25, [s] { return makeSmtpScript(s); });
        smtp.SetHostName(QStringLiteral("smtp.example"));
        smtp.SetDomain(QStringLiteral("client.example"));
        smtp.SetSender(QStringLiteral("me@client.example"));
        smtp.SetRecipient(QStringLiteral("pager@carrier.example"));
        smtp.SetSubject(QStringLiteral("Page"));
        smtp.SetMailer(QStringLiteral("Tessaly v1.1"));
        QObject::connect(&smtp, &SmtpControl::error, &smtp, [this](int n, const QString&) { errors << n; });
        QObject::connect(&smtp, &SmtpControl::dataReceived, &smtp, [this](const QString& t) { received << t; });
        QObject::connect(&smtp, &SmtpControl::socketClosed, &smtp, [this] { ++closed; });
    }
};

struct HttpRig {
    VirtualEventPump pump;
    ScriptedNet net{pump};
    std::shared_ptr<HttpResponder> web = std::make_shared<HttpResponder>();
    HttpClient http{pump, net};
    QStringList events;
    QByteArray data;
    bool closed = false;
    int lastError = sockerr::NoError;
    HttpRig() {
        auto w = web;
        net.listen(QStringLiteral("www.example"), 80, [w] { return makeHttpScript(w); });
        net.listen(QStringLiteral("proxy.example"), 3128, [w] { return makeHttpScript(w); });
        QObject::connect(&http, &HttpControl::connected, &http, [this] {
            events << QStringLiteral("connected");
            // The transport window sends the request once connected.
            http.RequestDocument();
        });
        QObject::connect(&http, &HttpControl::packetSent, &http, [this] { events << QStringLiteral("sent"); });
        QObject::connect(&http, &HttpControl::dataReceived, &http, [this](const QString& t, int n) {
            QCOMPARE(n, t.size());
            data += t.toLatin1();
        });
        QObject::connect(&http, &HttpControl::serverConnectionClosed, &http, [this] { events << QStringLiteral("server closed"); });
        QObject::connect(&http, &HttpControl::fileClosed, &http, [this] { events << QStringLiteral("file closed"); });
        QObject::connect(&http, &HttpControl::socketClosed, &http, [this] {
            events << QStringLiteral("socket closed");
            closed = true;
        });
        QObject::connect(&http, &HttpControl::error, &http, [this](int n) {
            events << QStringLiteral("error %1").arg(n);
            lastError = n;
        });
    }
    bool wait(double seconds = 40) {
        return pump.waitUntil([this] { return closed || lastError != sockerr::NoError; }, seconds, nullptr);
    }
};

} // namespace

class TestSmtpHttpClients : public QObject {
    Q_OBJECT
private slots:
    void socketErrorTable() {
        QString name;
        QCOMPARE(sockerr::Lookup(61, &name), QStringLiteral("Connection refused"));
        QCOMPARE(name, QStringLiteral("WSAECONNREFUSED"));
        QCOMPARE(sockerr::Lookup(-10000, &name), QStringLiteral("No Error"));
        QCOMPARE(name, QStringLiteral("WSABASEERR"));
        QCOMPARE(sockerr::Name(1004), QStringLiteral("WSANO_DATA or WSANO_ADDRESS"));
        QCOMPARE(sockerr::Text(65), QStringLiteral("No Route to Host"));
        for (int unknown : {0, 1, 72, 10061, 1005}) {
            QCOMPARE(sockerr::Lookup(unknown, &name), QStringLiteral("Unknown Error"));
            QVERIFY(name.isEmpty());
        }
        // What Linux reports reaches the user as the table's text.
        QCOMPARE(sockerr::Text(sockerr::FromErrno(ECONNREFUSED)), QStringLiteral("Connection refused"));
        QCOMPARE(sockerr::Text(sockerr::FromErrno(ETIMEDOUT)), QStringLiteral("Connection timed out"));
        QCOMPARE(sockerr::Text(sockerr::FromErrno(EHOSTUNREACH)), QStringLiteral("No Route to Host"));
        QCOMPARE(sockerr::Text(sockerr::FromErrno(ECONNRESET)), QStringLiteral("Connection reset by peer"));
        QCOMPARE(sockerr::Text(sockerr::FromResolver(EAI_NONAME)), QStringLiteral("Host not found"));
        QCOMPARE(sockerr::FromResolver(EAI_AGAIN), 1002);
    }

    // One message: the dialogue, envelope, headers, dot-stuffing and the
    // Date from the (virtual) clock.
    void smtpSendsOneMessage() {
        SmtpRig rig;
        rig.smtp.SetRecipient(QStringLiteral("pager@carrier.example; second@carrier.example"));
        rig.smtp.SetBody(QStringLiteral(".starts with a dot\nline two\r\n.\nend"));
        QCOMPARE(rig.smtp.Send(), 0);
        QVERIFY(rig.errors.isEmpty());
        QCOMPARE(rig.closed, 1);
        QCOMPARE(rig.sink->commands,
                 (QList<QByteArray>{"HELO client.example", "MAIL FROM:<me@client.example>",
                                    "RCPT TO:<pager@carrier.example>", "RCPT TO:<second@carrier.example>", "DATA",
                                    "QUIT"}));
        QCOMPARE(rig.sink->messages.size(), 1);
        const QByteArray data = rig.sink->messages[0].data;
        const qsizetype blank = data.indexOf("\r\n\r\n");
        const QList<QByteArray> headers = data.left(blank).split('\n');
        auto header = [&](const QByteArray& name) {
            for (const QByteArray& h : headers)
                if (h.startsWith(name + ": "))
                    return h.mid(name.size() + 2).trimmed();
            return QByteArray();
        };
        QCOMPARE(header("From"), QByteArray("me@client.example"));
        QCOMPARE(header("To"), QByteArray("pager@carrier.example, second@carrier.example"));
        QCOMPARE(header("Subject"), QByteArray("Page"));
        QCOMPARE(header("X-Mailer"), QByteArray("Tessaly v1.1"));
        QVERIFY2(header("Date").startsWith("Mon, 7 Dec 2026 12:30:05 "), header("Date").constData());
        QCOMPARE(data.mid(blank + 4), QByteArray("..starts with a dot\r\nline two\r\n..\r\nend\r\n"));
        QVERIFY(rig.received.first().startsWith(QStringLiteral("220 ")));
    }

    // Text beyond ASCII, or a line longer than servers take, goes as UTF-8
    // in quoted-printable; the subject as encoded words. Plain text as it is.
    void smtpMessageEncoding_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("ascii") << QStringLiteral("Page") << QStringLiteral("plain\n.dot") << QByteArray("7bit");
        QTest::newRow("utf-8") << QStringLiteral(u"Grüße – 😀") << QStringLiteral(u"Schöne Grüße\n.dot") << QByteArray("quoted-printable");
        QTest::newRow("long line") << QStringLiteral("Page") << QString(1200, QLatin1Char('x')) << QByteArray("quoted-printable");
    }
    void smtpMessageEncoding() {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QByteArray, encoding);
        SmtpRig rig;
        rig.smtp.SetSubject(subject);
        rig.smtp.SetBody(body);
        const QByteArray data = rig.smtp.MessageData();
        for (const QByteArray& line : data.split('\n')) {
            QVERIFY(line.size() <= 998);
            for (const char c : line)
                QVERIFY(static_cast<unsigned char>(c) < 0x80);
        }
        const qsizetype blank = data.indexOf("\r\n\r\n");
        const QByteArray head = data.left(blank + 2);
        QVERIFY(head.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
        QVERIFY(head.contains("\r\nContent-Transfer-Encoding: " + encoding + "\r\n"));
        const qsizetype s = head.indexOf("\r\nSubject: ") + 11;
        qsizetype e = s;
        while ((e = head.indexOf("\r\n", e)) >= 0 && head.at(e + 2) == ' ')
            e += 2;
        QCOMPARE(mimetext::DecodeHeaderValue(head.mid(s, e - s)), subject);
        QByteArray sent = data.mid(blank + 4);
        sent.chop(3); // the closing "."
        sent.replace("\r\n..", "\r\n.");
        if (encoding != "7bit")
            sent = mimetext::DecodeQuotedPrintable(sent);
        QCOMPARE(QString::fromUtf8(sent), QString(body).replace(QStringLiteral("\n"), QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    }

    void smtpFailures_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("rejectRcpt");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("errorEvent");
        QTest::newRow("recipient refused") << "smtp.example" << 550 << false << 550 << false;
        QTest::newRow("silent server") << "smtp.example" << 0 << true << 60 << true;
        QTest::newRow("unknown host") << "smtp.nowhere.invalid" << 0 << false << 1001 << true;
    }
    void smtpFailures() {
        QFETCH(QString, host);
        QFETCH(int, rejectRcpt);
        QFETCH(bool, silent);
        QFETCH(int, result);
        QFETCH(bool, errorEvent);
        SmtpRig rig;
        rig.sink->rejectRcpt = rejectRcpt;
        rig.sink->silent = silent;
        rig.smtp.SetHostName(host);
        rig.smtp.SetBody(QStringLiteral("hello"));
        QCOMPARE(rig.smtp.Send(), result);
        QCOMPARE(rig.errors, errorEvent ? QList<int>{result} : QList<int>{});
        QVERIFY(rig.sink->messages.isEmpty());
        if (rejectRcpt)
            QCOMPARE(rig.sink->commands.last(), QByteArray("QUIT")); // ends politely
        // The next message goes through once the server takes it.
        rig.sink->rejectRcpt = 0;
        rig.sink->silent = false;
        rig.smtp.SetHostName(QStringLiteral("smtp.example"));
        QCOMPARE(rig.smtp.Send(), 0);
        QCOMPARE(rig.sink->messages.size(), 1);
    }

    void urlParsing_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("full") << "http://u:p@www.example:8080/dir/page.html?q=1" << "www.example"
                              << "/dir/page.html?q=1" << "" << "u" << "p";
        QTest::newRow("no scheme") << "www.example/news.txt" << "www.example" << "/news.txt" << "" << "" << "";
        QTest::newRow("host only") << "www.example" << "www.example" << "/" << "" << "" << "";
        QTest::newRow("address") << "http://127.0.0.1:81/x" << "127.0.0.1" << "/x" << "127.0.0.1" << "" << "";
        QTest::newRow("user only") << "http://bob@host.example/" << "host.example" << "/" << "" << "bob" << "";
    }
    void urlParsing() {
        QFETCH(QString, url);
        HttpRig rig;
        rig.http.SetURL(url);
        QCOMPARE(rig.http.URL(), url);
        QTEST(rig.http.HostName(), "host");
        QTEST(rig.http.RemotePath(), "path");
        QTEST(rig.http.HostAddress(), "address");
        QTEST(rig.http.User(), "user");
        QTEST(rig.http.Password(), "password");
    }

    // A whole transfer: the request as sent, the events in order, the
    // response header in place of the request header, the document.
    void httpTransfer() {
        HttpRig rig;
        rig.web->respond = [](const QByteArray&) {
            return QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello");
        };
        rig.http.SetURL(QStringLiteral("http://u:p@www.example/v.txt"));
        rig.http.SetHeader(QStringLiteral("Cookie: a=1\r\n"));
        QVERIFY(rig.http.Connect() >= 1);
        QVERIFY(rig.wait());
        QCOMPARE(rig.events, (QStringList{"connected", "sent", "server closed", "file closed", "socket closed"}));
        QCOMPARE(rig.web->requests.value(0),
                 QByteArray("GET /v.txt HTTP/1.0\r\nHost: www.example\r\nAuthorization: Basic dTpw\r\n"
                            "Cookie: a=1\r\n\r\n"));
        QCOMPARE(rig.http.Header(),
                 QStringLiteral("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"));
        QCOMPARE(rig.http.Document(), QStringLiteral("hello"));
        QVERIFY(rig.data.endsWith("\r\n\r\nhello"));

        // Through a proxy the request names the whole URL.
        HttpRig viaProxy;
        viaProxy.web->respond = rig.web->respond;
        viaProxy.http.SetURL(QStringLiteral("www.example:8080/v.txt"));
        viaProxy.http.SetProxyServerName(QStringLiteral("proxy.example"));
        viaProxy.http.SetPort(3128);
        QVERIFY(viaProxy.http.Connect() >= 1);
        QVERIFY(viaProxy.wait());
        QVERIFY(viaProxy.web->requests.value(0).startsWith("GET http://www.example:8080/v.txt HTTP/1.0\r\n"));
    }

    void httpFailures_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("number");
        QTest::newRow("refused") << "www.example:81/" << QByteArray() << 61;
        QTest::newRow("unknown host") << "http://www.nowhere.invalid/" << QByteArray() << 1001;
        QTest::newRow("cut in header") << "www.example/" << QByteArray("HTTP/1.0 200 OK\r\nContent-Le") << 53;
        QTest::newRow("cut in body") << "www.example/" << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc")
                                     << 53;
    }
    void httpFailures() {
        QFETCH(QString, url);
        QFETCH(QByteArray, answer);
        QFETCH(int, number);
        HttpRig rig;
        rig.web->respond = [answer](const QByteArray&) { return answer; };
        rig.http.SetURL(url);
        QVERIFY(rig.http.Connect() >= 1);
        QVERIFY(rig.wait());
        QCOMPARE(rig.lastError, number);
        QVERIFY(!rig.closed);
    }

    void httpCannotStartWithoutHost() {
        HttpRig rig;
        rig.http.SetURL(QString());
        QVERIFY(rig.http.Connect() < 1);
    }
};

QTEST_GUILESS_MAIN(TestSmtpHttpClients)
#include "test_smtp_http_clients.moc"
