// The POP3, SMTP and HTTP clients against servers that misbehave: nobody
// listening, an unknown host, a server that never answers, a reply cut off
// in mid-line, and a reply line of several megabytes. Each gives the
// failure result and an error event with the table's text, never a hang;
// waiting for a silent server costs next to no CPU.

#include "ground/sockerr.h"
#include "platform/httpcontrol.h"
#include "platform/pop3client.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/popreplyrecorder.h"
#include "tests/integration/badserver.h"
#include "tests/integration/peers.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

enum Mode { Refused, UnknownHost, Silent, CutMidLine, HugeLine };

constexpr double kSilentWait = 5.0;

// Sets up the server side for a mode; returns host and port to use.
std::pair<QString, quint16> serve(ScriptServer& server, Mode mode, const QByteArray& cut) {
    switch (mode) {
    case Refused:
        return {QStringLiteral("127.0.0.1"), freePort()};
    case UnknownHost:
        return {QStringLiteral("mail.tessaly-test.invalid"), 110};
    case Silent:
        break;
    case CutMidLine:
        server.onConnect = [cut](QTcpSocket* s) {
            s->write(cut);
            s->disconnectFromHost();
        };
        break;
    case HugeLine:
        server.onConnect = [](QTcpSocket* s) { s->write(QByteArray(4 << 20, 'x')); };
        break;
    }
    return {QStringLiteral("127.0.0.1"), server.start()};
}

int expectedNumber(Mode mode) {
    switch (mode) {
    case Refused: return sockerr::ConnectionRefused;
    case UnknownHost: return sockerr::HostNotFound;
    case Silent: return sockerr::TimedOut;
    case CutMidLine: return sockerr::ConnectionReset;
    case HugeLine: return sockerr::MessageTooLong;
    }
    return 0;
}

void addModes() {
    QTest::addColumn<int>("mode");
    QTest::newRow("refused") << int(Refused);
    QTest::newRow("unknown host") << int(UnknownHost);
    QTest::newRow("silent") << int(Silent);
    QTest::newRow("cut mid-line") << int(CutMidLine);
    QTest::newRow("huge line") << int(HugeLine);
}

} // namespace

class TestBadPeers : public QObject {
    Q_OBJECT
    RealEventPump pump_;

private slots:
    void pop3_data() { addModes(); }
    void pop3() {
        QFETCH(int, mode);
        ScriptServer server;
        const auto [host, port] = serve(server, Mode(mode), "+OK POP3 rea");
        SocketRegistry registry;
        TcpLinkFactory links;
        Pop3Client pop(pump_, links, registry);
        PopReplyRecorder rec;
        rec.attach(pop);
        pop.SetServer(host);
        pop.SetPort(port);
        pop.SetTimeout(kSilentWait);
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuSeconds();
        QCOMPARE(pop.Connect(), 0);
        const double used = cpuSeconds() - cpu;
        const int n = expectedNumber(Mode(mode));
        QCOMPARE(rec.errors, QList<int>{n});
        QVERIFY(rec.events.contains(QStringLiteral("error:%1:%2").arg(n).arg(sockerr::Text(n))));
        QVERIFY(wall.elapsed() < (kSilentWait + 3) * 1000);
        if (mode == Silent) {
            QVERIFY(wall.elapsed() >= kSilentWait * 1000 - 50);
            qInfo("POP3 waited %.1f s for a silent server using %.3f s of CPU", wall.elapsed() / 1000.0, used);
            QVERIFY2(used < 0.25, "waiting must sleep, not spin");
        }
        QCOMPARE(pop.Socket(), 0);
    }

    void smtp_data() { addModes(); }
    void smtp() {
        QFETCH(int, mode);
        ScriptServer server;
        const auto [host, port] = serve(server, Mode(mode), "220 smtp.test ES");
        TcpLinkFactory links;
        SmtpClient smtp(pump_, links);
        QList<int> errors;
        QStringList texts;
        connect(&smtp, &SmtpControl::error, this, [&](int e, const QString& t) {
            errors << e;
            texts << t;
        });
        smtp.SetHostName(host);
        smtp.SetPort(port);
        smtp.SetTimeout(kSilentWait);
        smtp.SetRecipient(QStringLiteral("a@b.test"));
        const double cpu = cpuSeconds();
        const int n = expectedNumber(Mode(mode));
        QCOMPARE(smtp.Send(), n);
        QCOMPARE(errors, QList<int>{n});
        QCOMPARE(texts, QStringList{sockerr::Text(n)});
        if (mode == Silent)
            QVERIFY2(cpuSeconds() - cpu < 0.25, "waiting must sleep, not spin");
    }

    void http_data() { addModes(); }
    void http() {
        QFETCH(int, mode);
        ScriptServer server;
        const auto [host, port] = serve(server, Mode(mode), "HTTP/1.0 200 OK\r\nContent-Ty");
        TcpLinkFactory links;
        HttpClient http(pump_, links);
        int error = sockerr::NoError;
        bool closed = false;
        connect(&http, &HttpControl::connected, this, [&] { http.RequestDocument(); });
        connect(&http, &HttpControl::error, this, [&](int e) { error = e; });
        connect(&http, &HttpControl::socketClosed, this, [&] { closed = true; });
        http.SetURL(QStringLiteral("http://%1:%2/index.html").arg(host).arg(port));
        QVERIFY(http.Connect() >= 1);
        const double cpu = cpuSeconds();
        const bool ended = pump_.waitUntil([&] { return closed || error != sockerr::NoError; }, kSilentWait, nullptr);
        QVERIFY(!closed);
        if (mode == Silent) {
            // The HTTP control has no time-out of its own: its user gives up and aborts.
            QVERIFY(!ended);
            QVERIFY2(cpuSeconds() - cpu < 0.25, "waiting must sleep, not spin");
            http.Abort();
            return;
        }
        const int n = mode == CutMidLine ? sockerr::ConnectionAborted : expectedNumber(Mode(mode));
        QCOMPARE(error, n);
    }
};

QTEST_GUILESS_MAIN(TestBadPeers)
#include "test_bad_peers.moc"
