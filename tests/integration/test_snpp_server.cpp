// The SNPP client against tests/tools/snpp_server.py on 127.0.0.1: the
// command sequence the server logged, TLS with a test certificate
// authority, a refused pager ID, a temporary refusal, a dropped connection
// and a slow greeting.

#include "ground/sockerr.h"
#include "platform/snppclient.h"
#include "tests/integration/peers.h"
#include "tests/integration/testcerts.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;
using Kind = SnppOutcome::Kind;

Q_DECLARE_METATYPE(SnppOutcome::Kind)

namespace {

// One simulator process with its own log.
class SnppServer {
public:
    bool start(EventPump& pump, const QStringList& options) {
        log_ = dir_.path() + QStringLiteral("/snpp.jsonl");
        port_ = startPortTool(process_, pump, QStringLiteral("snpp_server.py"),
                              QStringList{QStringLiteral("--log"), log_} + options);
        return port_ != 0;
    }
    quint16 port() const { return port_; }
    // The log's records of `event` ("command", "data", "sent").
    QList<QJsonObject> records(const QString& event) const {
        QList<QJsonObject> out;
        QFile f(log_);
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty()) {
                    const QJsonObject o = QJsonDocument::fromJson(line).object();
                    if (o[QStringLiteral("event")].toString() == event)
                        out << o;
                }
        return out;
    }
    QStringList commands() const {
        QStringList out;
        for (const QJsonObject& o : records(QStringLiteral("command")))
            out << o[QStringLiteral("line")].toString();
        return out;
    }
    void clear() { QFile::remove(log_); }

private:
    QTemporaryDir dir_;
    QString log_;
    quint16 port_ = 0;
    PeerProcess process_;
};

} // namespace

class TestSnppServer : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    TcpLinkFactory links_;

    SnppOutcome page(SnppServer& server, const QString& text, QStringList* shown = nullptr,
                     const QString& host = QStringLiteral("127.0.0.1"), bool tls = false, const QString& ca = {},
                     double timeout = 10, const QString& password = {}) {
        SnppClient snpp(pump_, links_);
        snpp.SetHost(host);
        snpp.SetPort(server.port());
        snpp.SetTls(tls);
        snpp.SetCaFile(ca);
        snpp.SetTimeout(timeout);
        snpp.SetMessLimit(80);
        if (shown)
            connect(&snpp, &SnppClient::commandSent, this, [shown](const QString& s) { *shown << s; });
        return snpp.SendPage(QStringLiteral("5551234"), password, text);
    }

private slots:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("python3 is not installed");
    }

    void messAndData() {
        SnppServer server;
        QVERIFY2(server.start(pump_, {QStringLiteral("--password"), QStringLiteral("pin42")}), "no SNPP server");
        QStringList shown;
        SnppOutcome out = page(server, QStringLiteral("Mail from Ann: lunch at 12?"), &shown, QStringLiteral("127.0.0.1"),
                               false, {}, 10, QStringLiteral("pin42"));
        QVERIFY2(out.Delivered(), qPrintable(out.reason));
        QCOMPARE(server.commands(), (QStringList{QStringLiteral("PAGE 5551234 pin42"),
                                                 QStringLiteral("MESS Mail from Ann: lunch at 12?"),
                                                 QStringLiteral("SEND"), QStringLiteral("QUIT")}));
        QCOMPARE(shown.first(), QStringLiteral("PAGE 5551234 ****"));

        server.clear();
        out = page(server, QStringLiteral("From: Ann\n.dot line\n") + QString(100, QLatin1Char('x')), nullptr,
                   QStringLiteral("127.0.0.1"), false, {}, 10, QStringLiteral("pin42"));
        QVERIFY2(out.Delivered(), qPrintable(out.reason));
        QCOMPARE(server.commands(), (QStringList{QStringLiteral("PAGE 5551234 pin42"), QStringLiteral("DATA"),
                                                 QStringLiteral("SEND"), QStringLiteral("QUIT")}));
        const QList<QJsonObject> data = server.records(QStringLiteral("data"));
        QCOMPARE(data.size(), 3);
        QCOMPARE(data[1][QStringLiteral("line")].toString(), QStringLiteral("..dot line"));
        const QList<QJsonObject> sent = server.records(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0][QStringLiteral("message")].toString(),
                 QStringLiteral("From: Ann\n.dot line\n") + QString(100, QLatin1Char('x')));
    }

    void tlsWithTestCa() {
        TestCertificates certs;
        QVERIFY2(certs.make(), "openssl could not make the test certificates");
        SnppServer server;
        QVERIFY(server.start(pump_, {QStringLiteral("--tls-cert"), certs.serverCert(), QStringLiteral("--tls-key"),
                                     certs.serverKey()}));
        SnppOutcome out = page(server, QStringLiteral("over TLS"), nullptr, QStringLiteral("localhost"), true, certs.ca());
        QVERIFY2(out.Delivered(), qPrintable(out.reason));
        QCOMPARE(server.records(QStringLiteral("sent")).size(), 1);

        // Without the CA file the certificate does not verify: no command is sent.
        server.clear();
        out = page(server, QStringLiteral("over TLS"), nullptr, QStringLiteral("localhost"), true);
        QCOMPARE(out.kind, Kind::Permanent);
        QVERIFY2(out.reason.startsWith(QStringLiteral("No secure connection to localhost:")), qPrintable(out.reason));
        QVERIFY(server.commands().isEmpty());
    }

    void failures_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("socketError");
        QTest::addColumn<QStringList>("commands");
        const QString page = QStringLiteral("PAGE 5551234");
        QTest::newRow("invalid pager ID") << QStringList{QStringLiteral("--mode"), QStringLiteral("reject-pager")} << 10.0
                                          << Kind::Permanent << 550 << 0 << QStringList{page, QStringLiteral("QUIT")};
        QTest::newRow("421 at SEND") << QStringList{QStringLiteral("--mode"), QStringLiteral("temp-send")} << 10.0
                                     << Kind::Temporary << 421 << 0
                                     << QStringList{page, QStringLiteral("MESS hello"), QStringLiteral("SEND")};
        QTest::newRow("554 at SEND") << QStringList{QStringLiteral("--mode"), QStringLiteral("temp-send"),
                                                    QStringLiteral("--send-code"), QStringLiteral("554")}
                                     << 10.0 << Kind::Permanent << 554 << 0
                                     << QStringList{page, QStringLiteral("MESS hello"), QStringLiteral("SEND"),
                                                    QStringLiteral("QUIT")};
        QTest::newRow("dropped after PAGE") << QStringList{QStringLiteral("--mode"), QStringLiteral("drop-page")} << 10.0
                                            << Kind::Temporary << 0 << int(sockerr::ConnectionReset)
                                            << QStringList{page};
        QTest::newRow("slow greeting") << QStringList{QStringLiteral("--mode"), QStringLiteral("slow-greeting"),
                                                      QStringLiteral("--greeting-delay"), QStringLiteral("3")}
                                       << 0.5 << Kind::Temporary << 0 << int(sockerr::TimedOut) << QStringList{};
    }
    void failures() {
        QFETCH(QStringList, options);
        QFETCH(double, timeout);
        QFETCH(int, socketError);
        SnppServer server;
        QVERIFY(server.start(pump_, options));
        const SnppOutcome out = page(server, QStringLiteral("hello"), nullptr, QStringLiteral("127.0.0.1"), false, {},
                                     timeout);
        QTEST(out.kind, "kind");
        if (!socketError)
            QTEST(out.code, "code");
        QCOMPARE(out.socketError, socketError);
        QVERIFY(server.records(QStringLiteral("sent")).isEmpty());
        // The server logs each line as it reads it; give it a moment after the close.
        pump_.pause(0.2, nullptr);
        QTEST(server.commands(), "commands");
    }

    void unreachable() {
        SnppClient snpp(pump_, links_);
        snpp.SetHost(QStringLiteral("127.0.0.1"));
        snpp.SetPort(freePort());
        snpp.SetTimeout(5);
        const SnppOutcome out = snpp.SendPage(QStringLiteral("1"), {}, QStringLiteral("x"));
        QCOMPARE(out.kind, Kind::Temporary);
        QCOMPARE(out.socketError, int(sockerr::ConnectionRefused));
    }
};

QTEST_GUILESS_MAIN(TestSnppServer)
#include "test_snpp_server.moc"
