// Webwire against real local servers: Python's http.server on 127.0.0.1
// (tests/tools/http_test_server.py), over plain HTTP and over TLS with a
// certificate the test makes with openssl, and the example host webfetch.

#include "tests/integration/peers.h"

#include <webwire/chttp.h>

#include <QElapsedTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;
using webwire::CHTTP;

namespace {

// Starts the server script and returns its port (0 when it did not start).
quint16 startServer(PeerProcess& peer, EventPump& pump, const QStringList& extra = {}) {
    peer.start(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral(TESSALY_TOOLS_DIR "/http_test_server.py")} + extra);
    QProcess& p = peer.process();
    pump.waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 15, nullptr);
    const QByteArray line = p.readLine().trimmed();
    return line.startsWith("PORT ") ? static_cast<quint16>(line.mid(5).toUInt()) : 0;
}

} // namespace

class TestWebwireHttp : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    PeerProcess server_;
    quint16 port_ = 0;

    QString at(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path); }

private slots:
    void initTestCase() {
        port_ = startServer(server_, pump_);
        QVERIFY2(port_ != 0, "the HTTP test server did not start");
    }

    void answersRedirectsAndCookies() {
        CHTTP http;
        QStringList errors;
        connect(&http, &CHTTP::HTTPError, this, [&](const QString& m) { errors << m; });

        QString url = at(QStringLiteral("/ok"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("hello from the test server"));
        QVERIFY(http.HTTPHeader().startsWith(QLatin1String("HTTP/1.0 200 OK\r\n")));
        QCOMPARE(http.GetLastModifiedDate(url), QStringLiteral(" 06 Dec 1999 10:00:00 "));

        url = at(QStringLiteral("/missing"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("<html><body>No such page</body></html>"));
        QCOMPARE(errors, QStringList{"HTTP Error 404 for 127.0.0.1/missing"});
        errors.clear();

        http.SetEnableRedirection(true);
        url = at(QStringLiteral("/redirect/1"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("landed"));
        QCOMPARE(url, at(QStringLiteral("/redirect/0")));
        url = at(QStringLiteral("/redirect/6"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("moved 2")); // five requests: 6, 5, 4, 3, 2
        QCOMPARE(url, at(QStringLiteral("/redirect/1")));
        QVERIFY(errors.isEmpty());

        http.SetEnableCookies(true);
        url = at(QStringLiteral("/setcookie"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("cookie set"));
        url = at(QStringLiteral("/showcookie"));
        QCOMPARE(http.GetURLData(url), QStringLiteral("cookie=id=42"));
        QVERIFY(errors.isEmpty());
    }

    void slowServerTimesOut() {
        CHTTP http;
        QStringList errors;
        connect(&http, &CHTTP::HTTPError, this, [&](const QString& m) { errors << m; });
        http.SetHTTPTimeout(2);
        QElapsedTimer clock;
        clock.start();
        QString url = at(QStringLiteral("/slow"));
        QCOMPARE(http.GetURLData(url), QString());
        QCOMPARE(errors, QStringList{"HTTP timeout while connecting to 127.0.0.1/slow"});
        QVERIFY(clock.elapsed() >= 1500 && clock.elapsed() < 10000);

        // A refused port is reported, not waited for.
        errors.clear();
        url = QStringLiteral("http://127.0.0.1:%1/").arg(freePort());
        QCOMPARE(http.GetURLData(url), QString());
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QLatin1String("HTTP Winsock Error 61, WSAECONNREFUSED")));
    }

    void httpsWithTestCertificate() {
        QTemporaryDir dir;
        const QString cert = dir.filePath(QStringLiteral("cert.pem"));
        const QString key = dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                       "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key, "-out", cert});
        QVERIFY(pump_.waitUntil([&] { return openssl.state() == QProcess::NotRunning; }, 60, nullptr));
        QCOMPARE(openssl.exitCode(), 0);
        PeerProcess tlsServer;
        const quint16 port = startServer(tlsServer, pump_, {"--cert", cert, "--key", key});
        QVERIFY(port != 0);

        CHTTP http;
        QStringList errors;
        connect(&http, &CHTTP::HTTPError, this, [&](const QString& m) { errors << m; });
        const QString address = QStringLiteral("https://localhost:%1/ok").arg(port);
        QString url = address;
        QCOMPARE(http.GetURLData(url), QString());
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QLatin1String("HTTP TLS Error: Secure connection to localhost failed: ")),
                 qPrintable(errors.first()));

        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificates(QSslCertificate::fromPath(cert));
        QSslConfiguration::setDefaultConfiguration(trusted);
        errors.clear();
        url = address;
        QCOMPARE(http.GetURLData(url), QStringLiteral("hello from the test server"));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('|'))));
    }

    void exampleHost() {
        QProcess fetch;
        fetch.start(QStringLiteral(WEBFETCH_BINARY), {at(QStringLiteral("/ok"))});
        QVERIFY(pump_.waitUntil([&] { return fetch.state() == QProcess::NotRunning; }, 30, nullptr));
        QCOMPARE(fetch.exitCode(), 0);
        QCOMPARE(fetch.readAllStandardOutput(), QByteArray("Status: HTTP/1.0 200 OK\nhello from the test server"));

        QProcess missing;
        missing.start(QStringLiteral(WEBFETCH_BINARY), {QStringLiteral("--timeout"), QStringLiteral("5"),
                                                        at(QStringLiteral("/missing"))});
        QVERIFY(pump_.waitUntil([&] { return missing.state() == QProcess::NotRunning; }, 30, nullptr));
        QCOMPARE(missing.readAllStandardOutput(),
                 QByteArray("Status: HTTP/1.0 404 Not Found\n<html><body>No such page</body></html>"));
        QCOMPARE(missing.readAllStandardError(), QByteArray("HTTP Error 404 for 127.0.0.1/missing\n"));
    }
};

QTEST_MAIN(TestWebwireHttp)
#include "test_webwire_http.moc"
