// The HTTP client control against a small HTTP server in the test
// (QTcpServer on 127.0.0.1): the request on the wire, the response header
// and document, a document of several megabytes, and HEAD.

#include "ground/sockerr.h"
#include "platform/httpcontrol.h"
#include "tests/integration/badserver.h"
#include "tests/integration/peers.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

class TestHttpServer : public QObject {
    Q_OBJECT
    RealEventPump pump_;

    struct Transfer {
        QStringList events;
        int error = sockerr::NoError;
        bool closed = false;
        qint64 bytes = 0;
    };

    // Runs one request; the server answers `answer` once it has the header.
    Transfer fetch(HttpClient& http, ScriptServer& server, const QByteArray& answer, bool headOnly) {
        server.onData = [answer](QTcpSocket* s, const QByteArray&) {
            if (!s->property("answered").toBool()) {
                s->setProperty("answered", true);
                s->write(answer);
                s->disconnectFromHost();
            }
        };
        Transfer t;
        QObject guard;
        connect(&http, &HttpControl::connected, &guard, [&] {
            t.events << QStringLiteral("connected");
            headOnly ? http.RequestHeader() : http.RequestDocument();
        });
        connect(&http, &HttpControl::packetSent, &guard, [&] { t.events << QStringLiteral("sent"); });
        connect(&http, &HttpControl::dataReceived, &guard, [&](const QString&, int n) { t.bytes += n; });
        connect(&http, &HttpControl::stateChanged, &guard, [&](int s) { t.events << QStringLiteral("state %1").arg(s); });
        connect(&http, &HttpControl::socketClosed, &guard, [&] {
            t.events << QStringLiteral("socket closed");
            t.closed = true;
        });
        connect(&http, &HttpControl::error, &guard, [&](int e) { t.error = e; });
        if (http.Connect() < 1)
            return t;
        pump_.waitUntil([&] { return t.closed || t.error != sockerr::NoError; }, 30, nullptr);
        return t;
    }

private slots:
    void documentAndHeader() {
        ScriptServer server;
        const quint16 port = server.start();
        TcpLinkFactory links;
        HttpClient http(pump_, links);
        http.SetURL(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(port));
        http.SetHeader(QStringLiteral("Cookie: id=42"));
        const Transfer t = fetch(http, server,
                                 "HTTP/1.0 200 OK\r\nServer: test\r\nSet-Cookie: id=43\r\n\r\nversion=1.1\r\n", false);
        QCOMPARE(t.error, sockerr::NoError);
        QVERIFY(t.closed);
        QCOMPARE(t.events.mid(0, 5), (QStringList{"state 1", "state 2", "connected", "state 3", "sent"}));
        QCOMPARE(t.events.mid(t.events.size() - 3), (QStringList{"state 4", "state 5", "socket closed"}));
        QCOMPARE(server.received, QStringLiteral("GET /version.txt HTTP/1.0\r\nHost: 127.0.0.1:%1\r\nCookie: id=42\r\n\r\n")
                                      .arg(port)
                                      .toLatin1());
        QCOMPARE(http.Header(), QStringLiteral("HTTP/1.0 200 OK\r\nServer: test\r\nSet-Cookie: id=43\r\n"));
        QCOMPARE(http.Document(), QStringLiteral("version=1.1\r\n"));
    }

    void severalMegabyteDocument() {
        ScriptServer server;
        const quint16 port = server.start();
        TcpLinkFactory links;
        HttpClient http(pump_, links);
        http.SetURL(QStringLiteral("127.0.0.1:%1/big").arg(port));
        QByteArray body;
        for (int i = 0; body.size() < (6 << 20); ++i)
            body += "line " + QByteArray::number(i) + "\r\n";
        const QByteArray answer = "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        const Transfer t = fetch(http, server, answer, false);
        QCOMPARE(t.error, sockerr::NoError);
        QVERIFY(t.closed);
        QCOMPARE(t.bytes, answer.size());
        QCOMPARE(http.Document().size(), body.size());
        QVERIFY(http.Document().toLatin1() == body);
    }

    void headRequest() {
        ScriptServer server;
        const quint16 port = server.start();
        TcpLinkFactory links;
        HttpClient http(pump_, links);
        http.SetURL(QStringLiteral("http://localhost:%1/page.html").arg(port));
        const Transfer t = fetch(http, server, "HTTP/1.0 404 Not Found\r\nContent-Length: 100\r\n\r\n", true);
        QCOMPARE(t.error, sockerr::NoError);
        QVERIFY(server.received.startsWith("HEAD /page.html HTTP/1.0\r\n"));
        QCOMPARE(http.Header(), QStringLiteral("HTTP/1.0 404 Not Found\r\nContent-Length: 100\r\n"));
        QVERIFY(http.Document().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "test_http_server.moc"
