// WCTP operations as built for a carrier and the carrier's answers as read
// back: element paths and attributes of what goes out, and every class of
// answer, including hostile ones.

#include "features/paging/wctp.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTest>
#include <QXmlStreamReader>

using namespace tessaly;
using namespace tessaly::wctp;

Q_DECLARE_METATYPE(tessaly::wctp::Outcome)
Q_DECLARE_METATYPE(tessaly::wctp::Delivery)

namespace {

// Every element of a document as "path attr=value ...", in document order,
// plus the text of elements that have any; the DTD line as "!DTD <text>".
QStringList flatten(const QByteArray& xml, QString* error = nullptr) {
    QStringList out, path;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::DTD: out << QStringLiteral("!DTD ") + r.text().toString(); break;
        case QXmlStreamReader::StartElement: {
            path << r.name().toString();
            QString line = path.join(QLatin1Char('/'));
            for (const QXmlStreamAttribute& a : r.attributes())
                line += QStringLiteral(" %1=%2").arg(a.name().toString(), a.value().toString());
            out << line;
            break;
        }
        case QXmlStreamReader::Characters:
            if (!r.isWhitespace())
                out << path.join(QLatin1Char('/')) + QStringLiteral(" text=") + r.text().toString();
            break;
        case QXmlStreamReader::EndElement: path.removeLast(); break;
        default: break;
        }
    }
    if (error)
        *error = r.hasError() ? r.errorString() : QString();
    return out;
}

QByteArray operation(const QByteArray& inner) {
    return "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">\n"
           "<wctp-Operation wctpVersion=\"wctp-dtd-v1r3\">" +
           inner + "</wctp-Operation>";
}

// Answers each exchange after `delay` virtual seconds, or never when negative.
class ScriptedPoster : public Poster {
public:
    ScriptedPoster(VirtualEventPump& pump, double delay) : pump_(pump), delay_(delay) {}
    void Send(const QByteArray&, Done done) override {
        busy_ = true;
        if (delay_ >= 0)
            id_ = pump_.schedule(delay_, [this, done] {
                busy_ = false;
                SendResult r;
                r.kind = SendResult::Delivered;
                done(r);
            });
    }
    bool Busy() const override { return busy_; }
    void Abort() override {
        pump_.cancel(id_);
        busy_ = false;
        ++aborts;
    }
    int Timeout() const override { return 10; }
    int aborts = 0;

private:
    VirtualEventPump& pump_;
    double delay_;
    int id_ = 0;
    bool busy_ = false;
};

const QString kOp = QStringLiteral("wctp-Operation");
const QString kHeader = QStringLiteral("wctp-Operation/wctp-SubmitRequest/wctp-SubmitHeader");

} // namespace

class TestWctp : public QObject {
    Q_OBJECT
private slots:
    void submitRequest_data();
    void submitRequest();
    void submitRequestDeclarations();
    void confirmation_data();
    void confirmation();
    void errorClasses_data();
    void errorClasses();
    void pollForMessages();
    void pollResponse_data();
    void pollResponse();
    void sendAndWait_data();
    void sendAndWait();
};

void TestWctp::submitRequest_data() {
    QTest::addColumn<QString>("securityCode");
    QTest::addColumn<QString>("messageId");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    const QString ts = QStringLiteral(" submitTimestamp=2026-12-08T14:04:05");
    const QStringList start = {kOp + QStringLiteral(" wctpVersion=wctp-dtd-v1r3"),
                               QStringLiteral("wctp-Operation/wctp-SubmitRequest"), kHeader + ts};
    const QString recipient = kHeader + QStringLiteral("/wctp-Recipient recipientID=5551234");
    const QString payload = QStringLiteral("wctp-Operation/wctp-SubmitRequest/wctp-Payload");
    const QString alpha = payload + QStringLiteral("/wctp-Alphanumeric");

    QTest::newRow("plain, no security code, no control")
        << QString() << QString() << false << QStringLiteral("Server down")
        << start + QStringList{kHeader + QStringLiteral("/wctp-Originator senderID=gateway"), recipient, payload,
                               alpha, alpha + QStringLiteral(" text=Server down")};
    QTest::newRow("security code and delivery notice")
        << QStringLiteral("s3cr\"et") << QStringLiteral("TS-17") << true << QStringLiteral("Hi")
        << start + QStringList{kHeader + QStringLiteral("/wctp-Originator senderID=gateway securityCode=s3cr\"et"),
                               kHeader + QStringLiteral("/wctp-MessageControl messageID=TS-17 notifyWhenDelivered=true"),
                               recipient, payload, alpha, alpha + QStringLiteral(" text=Hi")};
    QTest::newRow("message ID without notice")
        << QString() << QStringLiteral("7") << false << QStringLiteral("x")
        << start + QStringList{kHeader + QStringLiteral("/wctp-Originator senderID=gateway"),
                               kHeader + QStringLiteral("/wctp-MessageControl messageID=7"), recipient, payload,
                               alpha, alpha + QStringLiteral(" text=x")};
    // Markup characters in the page stay text; an element in the text would
    // change the operation.
    QTest::newRow("markup in the page")
        << QString() << QString() << false << QStringLiteral("a<b> & </wctp-Alphanumeric><x/> ]]> é")
        << start + QStringList{kHeader + QStringLiteral("/wctp-Originator senderID=gateway"), recipient, payload,
                               alpha, alpha + QStringLiteral(" text=a<b> & </wctp-Alphanumeric><x/> ]]> é")};
    // Control characters from a mail would make the document unparsable
    // for the carrier; tab and line ends stay.
    QTest::newRow("characters XML cannot carry")
        << QString() << QString() << false << QStringLiteral("a\x01" "b\x1b\tc\n") + QChar(0xd800) + QChar(0xfffe)
        << start + QStringList{kHeader + QStringLiteral("/wctp-Originator senderID=gateway"), recipient, payload,
                               alpha, alpha + QStringLiteral(" text=a b \tc\n  ")};
}

void TestWctp::submitRequest() {
    QFETCH(QString, securityCode);
    QFETCH(QString, messageId);
    QFETCH(bool, notify);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);

    SubmitValues v;
    v.senderId = QStringLiteral("gateway");
    v.securityCode = securityCode;
    v.recipientId = QStringLiteral("5551234");
    v.text = text;
    v.messageId = messageId;
    v.notifyWhenDelivered = notify;
    v.submitted = QDateTime(QDate(2026, 12, 8), QTime(15, 4, 5), Qt::OffsetFromUTC, 3600); // 14:04:05 UTC

    QString error;
    QStringList got = flatten(SubmitRequest(v), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!got.isEmpty() && got.first().startsWith(QLatin1String("!DTD")));
    got.removeFirst();
    QCOMPARE(got, expected);
}

void TestWctp::submitRequestDeclarations() {
    SubmitValues v;
    v.senderId = QStringLiteral("g");
    v.recipientId = QStringLiteral("1");
    v.submitted = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const QByteArray xml = SubmitRequest(v);
    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    QVERIFY(xml.contains("\n<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">\n"));
    QVERIFY(xml.indexOf("<!DOCTYPE") < xml.indexOf("<wctp-Operation"));
}

void TestWctp::confirmation_data() {
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tracking");

    QTest::newRow("success with tracking number")
        << operation("<wctp-Confirmation><wctp-Success successCode=\"200\" successText=\"Accepted\" "
                     "trackingNumber=\" 4711 \">queued</wctp-Success></wctp-Confirmation>")
        << Outcome::Success << 200 << QStringLiteral("Accepted") << QStringLiteral("4711");
    QTest::newRow("success, text only in the element")
        << operation("<wctp-Confirmation><wctp-Success successCode=\"200\">Message &amp; all</wctp-Success>"
                     "</wctp-Confirmation>")
        << Outcome::Success << 200 << QStringLiteral("Message & all") << QString();
    QTest::newRow("no DOCTYPE, no declaration")
        << QByteArray("<wctp-Operation wctpVersion=\"wctp-dtd-v1r1\"><wctp-Confirmation><wctp-Success "
                      "successCode=\"200\"/></wctp-Confirmation></wctp-Operation>")
        << Outcome::Success << 200 << QString() << QString();
    QTest::newRow("recipient refused: permanent")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"403\" errorText=\"Invalid recipientID\"/>"
                     "</wctp-Confirmation>")
        << Outcome::Permanent << 403 << QStringLiteral("Invalid recipientID") << QString();
    QTest::newRow("security code refused: permanent")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"402\">bad code</wctp-Failure>"
                     "</wctp-Confirmation>")
        << Outcome::Permanent << 402 << QStringLiteral("bad code") << QString();
    QTest::newRow("carrier busy: temporary")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"604\" errorText=\"Internal error\"/>"
                     "</wctp-Confirmation>")
        << Outcome::Temporary << 604 << QStringLiteral("Internal error") << QString();
    QTest::newRow("failure without a code: temporary")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"x\" errorText=\"?\"/></wctp-Confirmation>")
        << Outcome::Temporary << 0 << QStringLiteral("?") << QString();

    const Outcome bad = Outcome::Unreadable;
    QTest::newRow("empty") << QByteArray() << bad << 0 << QString() << QString();
    QTest::newRow("HTML error page") << QByteArray("<html><body>502 Bad Gateway</body></html>") << bad << 0
                                     << QString() << QString();
    QTest::newRow("confirmation without result")
        << operation("<wctp-Confirmation/>") << bad << 0 << QString() << QString();
    QTest::newRow("other operation")
        << operation("<wctp-SubmitRequest/>") << bad << 0 << QString() << QString();
    QTest::newRow("success nested too deep")
        << operation("<wctp-Confirmation><x><wctp-Success successCode=\"200\"/></x></wctp-Confirmation>") << bad << 0
        << QString() << QString();
    QTest::newRow("truncated")
        << operation("<wctp-Confirmation><wctp-Success successCode=\"200\"/>").left(150) << bad << 0 << QString()
        << QString();
    QTest::newRow("garbage after a good answer")
        << operation("<wctp-Confirmation><wctp-Success successCode=\"200\"/></wctp-Confirmation>") + "<x" << bad << 0
        << QString() << QString();
    QTest::newRow("internal entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE wctp-Operation [<!ENTITY a \"aaaaaaaaaa\">]>"
                      "<wctp-Operation><wctp-Confirmation><wctp-Success successText=\"&a;\"/>"
                      "</wctp-Confirmation></wctp-Operation>")
        << bad << 0 << QString() << QString();
    QTest::newRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE wctp-Operation [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                      "<wctp-Operation><wctp-Confirmation><wctp-Failure errorCode=\"403\">&x;</wctp-Failure>"
                      "</wctp-Confirmation></wctp-Operation>")
        << bad << 0 << QString() << QString();
    QTest::newRow("undeclared entity")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"403\">&x;</wctp-Failure></wctp-Confirmation>")
        << bad << 0 << QString() << QString();
    const QByteArray good =
        operation("<wctp-Confirmation><wctp-Success successCode=\"200\"/></wctp-Confirmation>");
    QTest::newRow("oversized") << good + QByteArray(kMaxAnswer - good.size() + 1, ' ') << bad << 0 << QString()
                               << QString();
    QTest::newRow("just within the limit")
        << good + QByteArray(kMaxAnswer - good.size(), ' ') << Outcome::Success << 200 << QString() << QString();
}

void TestWctp::confirmation() {
    QFETCH(QByteArray, xml);
    QFETCH(Outcome, outcome);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, tracking);
    const Confirmation c = ReadConfirmation(xml);
    QCOMPARE(c.outcome, outcome);
    QCOMPARE(c.code, code);
    QCOMPARE(c.text, text);
    QCOMPARE(c.trackingId, tracking);
}

void TestWctp::errorClasses_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("permanent");
    QTest::newRow("300 operation not supported") << 300 << true;
    QTest::newRow("301 cannot be parsed") << 301 << true;
    QTest::newRow("303 version") << 303 << true;
    QTest::newRow("304 poll first") << 304 << false;
    QTest::newRow("401 invalid sender") << 401 << true;
    QTest::newRow("402 security code") << 402 << true;
    QTest::newRow("403 invalid recipient") << 403 << true;
    QTest::newRow("404 authorization") << 404 << true;
    QTest::newRow("499 end of content series") << 499 << true;
    QTest::newRow("500 message processing") << 500 << false;
    QTest::newRow("604 system") << 604 << false;
    QTest::newRow("200 is no failure code") << 200 << false;
    QTest::newRow("unknown") << 0 << false;
}

void TestWctp::errorClasses() {
    QFETCH(int, code);
    QFETCH(bool, permanent);
    QCOMPARE(IsPermanent(code), permanent);
}

void TestWctp::pollForMessages() {
    PollValues v;
    v.pollerId = QStringLiteral("gateway");
    v.securityCode = QStringLiteral("<pw>");
    v.maxMessages = 5;
    QString error;
    const QStringList got = flatten(PollForMessages(v), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(got.mid(1), QStringList({kOp + QStringLiteral(" wctpVersion=wctp-dtd-v1r3"),
                                      QStringLiteral("wctp-Operation/wctp-PollForMessages pollerID=gateway "
                                                     "securityCode=<pw> maxMessagesInBatch=5")}));
}

void TestWctp::pollResponse_data() {
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<Delivery>("page7");
    QTest::addColumn<int>("notices");

    auto status = [](const char* id, const char* type) {
        return QByteArray("<wctp-Message><wctp-StatusInfo><wctp-ResponseHeader responseTimestamp=\"2026-12-08T14:00:00\">"
                          "<wctp-Originator senderID=\"c\"/><wctp-MessageControl messageID=\"") +
               id + "\"/><wctp-Recipient recipientID=\"g\"/></wctp-ResponseHeader><wctp-Notification type=\"" + type +
               "\"/></wctp-StatusInfo></wctp-Message>";
    };
    QTest::newRow("queued") << operation("<wctp-PollResponse>" + status("7", "QUEUED") + "</wctp-PollResponse>")
                            << Delivery::ToNetwork << 1;
    QTest::newRow("queued then delivered, other page between")
        << operation("<wctp-PollResponse>" + status("7", "QUEUED") + status("8", "DELIVERED") +
                     status("7", "DELIVERED") + "</wctp-PollResponse>")
        << Delivery::ToHandset << 3;
    QTest::newRow("read counts as delivered")
        << operation("<wctp-PollResponse>" + status("7", "read") + "</wctp-PollResponse>") << Delivery::ToHandset << 1;
    QTest::newRow("only another page")
        << operation("<wctp-PollResponse>" + status("8", "DELIVERED") + "</wctp-PollResponse>") << Delivery::Unknown
        << 1;
    QTest::newRow("returned") << operation("<wctp-PollResponse>" + status("7", "RETURNED") + "</wctp-PollResponse>")
                              << Delivery::Failed << 1;
    QTest::newRow("empty response") << operation("<wctp-PollResponse/>") << Delivery::Unknown << 0;
    QTest::newRow("a failure instead")
        << operation("<wctp-Confirmation><wctp-Failure errorCode=\"402\"/></wctp-Confirmation>") << Delivery::Unknown
        << 0;
    QTest::newRow("malformed") << operation("<wctp-PollResponse>" + status("7", "DELIVERED")) << Delivery::Unknown
                               << 0;
}

void TestWctp::pollResponse() {
    QFETCH(QByteArray, xml);
    QFETCH(Delivery, page7);
    QFETCH(int, notices);
    const QList<StatusNotice> got = ReadPollResponse(xml);
    QCOMPARE(got.size(), notices);
    QCOMPARE(StatusOf(got, QStringLiteral("7")), page7);
}

// The wait ends with the answer, at the sender's time-out (plus the grace
// for its own abort) or at a cancel, never later, and nothing is left
// running after it.
void TestWctp::sendAndWait_data() {
    QTest::addColumn<double>("answerAfter");
    QTest::addColumn<double>("cancelAfter");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("elapsed");
    QTest::newRow("answer") << 2.0 << -1.0 << int(SendResult::Delivered) << QString() << 2.0;
    QTest::newRow("no answer") << -1.0 << -1.0 << int(SendResult::TemporaryFailure) << "no answer in time" << 15.0;
    QTest::newRow("cancelled") << 30.0 << 3.0 << int(SendResult::TemporaryFailure) << "cancelled" << 3.0;
}

void TestWctp::sendAndWait() {
    QFETCH(double, answerAfter);
    QFETCH(double, cancelAfter);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(double, elapsed);
    VirtualEventPump pump;
    ScriptedPoster poster(pump, answerAfter);
    bool cancel = false;
    if (cancelAfter >= 0)
        pump.schedule(cancelAfter, [&] { cancel = true; });
    const SendResult r = poster.SendAndWait(pump, "<x/>", &cancel);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(r.text, text);
    QVERIFY(qAbs(pump.elapsedSeconds() - elapsed) < 0.5);
    QVERIFY(!poster.Busy());
    QCOMPARE(poster.aborts, kind == int(SendResult::Delivered) ? 0 : 1);
}

QTEST_APPLESS_MAIN(TestWctp)
#include "test_wctp.moc"
