// WctpSender against the WCTP carrier simulator on 127.0.0.1: what reaches
// the carrier, over HTTP and over HTTPS with the test CA, and how each kind
// of answer (or none) comes out: delivered, refused for good, or worth
// another try.

#include "features/paging/wctp.h"
#include "tests/integration/testcerts.h"
#include "tests/integration/wctpserver.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;
using tessaly::wctp::SendResult;

Q_DECLARE_METATYPE(tessaly::wctp::SendResult::Kind)

namespace {

wctp::SubmitValues page(const QString& text) {
    wctp::SubmitValues v;
    v.senderId = QStringLiteral("tessaly");
    v.securityCode = QStringLiteral("pw-7");
    v.recipientId = QStringLiteral("5550100");
    v.text = text;
    v.messageId = QStringLiteral("TS-1");
    v.notifyWhenDelivered = true;
    v.submitted = QDateTime::currentDateTimeUtc();
    return v;
}

} // namespace

class TestWctpServer : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    TestCertificates certs_;
    WctpServer plain_;
    WctpServer secure_;

    QUrl plainUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/wctp").arg(plain_.port())); }

private slots:
    void initTestCase() {
        QVERIFY(certs_.make());
        QVERIFY(plain_.start(pump_));
        QVERIFY(secure_.start(pump_, {certs_.serverCert(), certs_.serverKey()}));
    }
    void cleanupTestCase() {
        plain_.stop();
        secure_.stop();
    }

    // The body the carrier gets is the operation as built, posted as XML.
    void postsTheOperation() {
        QVERIFY(plain_.setMode(pump_, QStringLiteral("success")));
        const int before = plain_.received().size();
        wctp::WctpSender sender;
        sender.SetEndpoint(plainUrl());
        sender.SetTimeout(10);
        const QByteArray body = wctp::SubmitRequest(page(QStringLiteral("Disk <full> & hot")));
        const SendResult r = sender.SendAndWait(pump_, body);
        QCOMPARE(r.kind, SendResult::Delivered);
        QCOMPARE(r.code, 200);
        QVERIFY(!r.trackingId.isEmpty());
        const QList<QJsonObject> got = plain_.received();
        QCOMPARE(got.size(), before + 1);
        QCOMPARE(got.last().value(QLatin1String("path")).toString(), QStringLiteral("/wctp"));
        QVERIFY(got.last().value(QLatin1String("content_type")).toString().startsWith(QLatin1String("text/xml")));
        QCOMPARE(got.last().value(QLatin1String("body")).toString().toUtf8(), body);
    }

    // Asked for delivery notice, the page shows up as delivered in a poll.
    void pollsDeliveryNotice() {
        QVERIFY(plain_.setMode(pump_, QStringLiteral("success")));
        wctp::WctpSender sender;
        sender.SetEndpoint(plainUrl());
        sender.SetTimeout(10);
        QCOMPARE(sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("x")))).kind, SendResult::Delivered);
        wctp::PollValues poll;
        poll.pollerId = QStringLiteral("tessaly");
        const SendResult r = sender.SendAndWait(pump_, wctp::PollForMessages(poll));
        QCOMPARE(r.httpStatus, 200);
        const QList<wctp::StatusNotice> notices = wctp::ReadPollResponse(r.answer);
        QCOMPARE(wctp::StatusOf(notices, QStringLiteral("TS-1")), wctp::Delivery::ToHandset);
        QCOMPARE(wctp::StatusOf(notices, QStringLiteral("TS-2")), wctp::Delivery::Unknown);
    }

    void outcomes_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<SendResult::Kind>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("recipient refused") << "failure 403 Invalid recipientID" << SendResult::PermanentFailure << 403
                                           << "Invalid recipientID";
        QTest::newRow("security code refused")
            << "failure 402 Invalid security code" << SendResult::PermanentFailure << 402 << "Invalid security code";
        QTest::newRow("carrier trouble") << "failure 604 Internal server error" << SendResult::TemporaryFailure << 604
                                         << "Internal server error";
        QTest::newRow("HTTP 500") << "http500" << SendResult::TemporaryFailure << 0 << "HTTP 500";
        QTest::newRow("closed without answer") << "close" << SendResult::TemporaryFailure << 0 << "127.0.0.1";
        QTest::newRow("answer too long") << "big" << SendResult::TemporaryFailure << 0 << "longer than 65536 bytes";
    }
    void outcomes() {
        QFETCH(QString, mode);
        QFETCH(SendResult::Kind, kind);
        QFETCH(int, code);
        QFETCH(QString, text);
        QVERIFY(plain_.setMode(pump_, mode));
        wctp::WctpSender sender;
        sender.SetEndpoint(plainUrl());
        sender.SetTimeout(10);
        const SendResult r = sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("p"))));
        QCOMPARE(r.kind, kind);
        QCOMPARE(r.code, code);
        QVERIFY2(r.text.contains(text), qPrintable(r.text));
    }

    // A carrier that does not answer costs the time-out, not its delay.
    void timeOut() {
        QVERIFY(plain_.control(pump_, QStringLiteral("delay 6")));
        QVERIFY(plain_.setMode(pump_, QStringLiteral("slow")));
        wctp::WctpSender sender;
        sender.SetEndpoint(plainUrl());
        sender.SetTimeout(1);
        QElapsedTimer clock;
        clock.start();
        const SendResult r = sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("p"))));
        QCOMPARE(r.kind, SendResult::TemporaryFailure);
        QVERIFY2(r.text.contains(QLatin1String("no answer")), qPrintable(r.text));
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(plain_.setMode(pump_, QStringLiteral("success")));
    }

    void nobodyListening() {
        wctp::WctpSender sender;
        sender.SetEndpoint(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(freePort())));
        sender.SetTimeout(5);
        const SendResult r = sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("p"))));
        QCOMPARE(r.kind, SendResult::TemporaryFailure);
        QVERIFY(!r.text.isEmpty());
    }

    // HTTPS: trusted through the CA file; without it, or under a name the
    // certificate does not carry, the certificate check stops the page.
    void https_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("trust");
        QTest::addColumn<SendResult::Kind>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("trusted CA") << "localhost" << true << SendResult::Delivered << "";
        QTest::newRow("unknown issuer") << "localhost" << false << SendResult::TemporaryFailure << "secure connection";
        QTest::newRow("wrong host name") << "127.0.0.1" << true << SendResult::TemporaryFailure << "secure connection";
    }
    void https() {
        QFETCH(QString, host);
        QFETCH(bool, trust);
        QFETCH(SendResult::Kind, kind);
        QFETCH(QString, text);
        wctp::WctpSender sender;
        sender.SetEndpoint(QUrl(QStringLiteral("https://%1:%2/wctp").arg(host).arg(secure_.port())));
        sender.SetTimeout(10);
        if (trust)
            sender.SetCaFile(certs_.ca());
        const int before = secure_.received().size();
        const SendResult r = sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("secure"))));
        QCOMPARE(r.kind, kind);
        QVERIFY2(r.text.contains(text), qPrintable(r.text));
        QCOMPARE(secure_.received().size(), before + (kind == SendResult::Delivered ? 1 : 0));
    }

    void unreadableCaFile() {
        wctp::WctpSender sender;
        sender.SetEndpoint(QUrl(QStringLiteral("https://localhost:%1/wctp").arg(secure_.port())));
        sender.SetCaFile(QStringLiteral("/nonexistent/ca.pem"));
        const SendResult r = sender.SendAndWait(pump_, wctp::SubmitRequest(page(QStringLiteral("p"))));
        QCOMPARE(r.kind, SendResult::TemporaryFailure);
        QVERIFY2(r.text.contains(QLatin1String("CA file")), qPrintable(r.text));
    }
};

QTEST_GUILESS_MAIN(TestWctpServer)
#include "test_wctp_server.moc"
