// Pages through a carrier's network service, as the queue sends them: what
// goes to the carrier, what each outcome leaves on the page (delivered,
// refused for good, left for the next check), the retries, and the lines of
// the activity log.

#include "features/paging/carrierpage.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/pageledger.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/snppscript.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QXmlStreamReader>

using namespace tessaly;

namespace {

// A carrier's WCTP endpoint on the virtual clock: answers each request with
// the next result of the script (the last one repeats).
class ScriptedCarrier : public wctp::Poster {
public:
    ScriptedCarrier(VirtualEventPump& pump, QList<wctp::SendResult> answers, QList<QByteArray>& bodies)
        : pump_(pump), answers_(std::move(answers)), bodies_(bodies) {}
    void Send(const QByteArray& body, Done done) override {
        bodies_ << body;
        const wctp::SendResult r = answers_.size() > 1 ? answers_.takeFirst() : answers_.value(0);
        busy_ = true;
        pump_.schedule(0.2, [this, r, done] {
            busy_ = false;
            done(r);
        });
    }
    bool Busy() const override { return busy_; }
    void Abort() override { busy_ = false; }
    int Timeout() const override { return 30; }

private:
    VirtualEventPump& pump_;
    QList<wctp::SendResult> answers_;
    QList<QByteArray>& bodies_;
    bool busy_ = false;
};

wctp::SendResult result(wctp::SendResult::Kind kind, int code, const QString& text) {
    wctp::SendResult r;
    r.kind = kind;
    r.code = code;
    r.text = text;
    r.httpStatus = 200;
    return r;
}

// The text of the first element named `name`.
QString elementText(const QByteArray& xml, const QString& name) {
    QXmlStreamReader r(xml);
    while (r.readNextStartElement() || !r.atEnd()) {
        if (r.isStartElement() && r.name() == name)
            return r.readElementText(QXmlStreamReader::IncludeChildElements);
        if (r.atEnd())
            break;
    }
    return {};
}
QString attribute(const QByteArray& xml, const QString& element, const QString& name) {
    QXmlStreamReader r(xml);
    while (!r.atEnd())
        if (r.readNext() == QXmlStreamReader::StartElement && r.name() == element)
            return r.attributes().value(name).toString();
    return {};
}

struct CarrierRig : PagingRig {
    ScriptedNet net{pump};
    std::shared_ptr<SnppTerminal> snpp = std::make_shared<SnppTerminal>();
    QList<wctp::SendResult> answers{result(wctp::SendResult::Delivered, 200, QStringLiteral("Accepted"))};
    QList<QByteArray> bodies;
    CPagerService service;
    CarrierPaging carriers{pump, &net, [this](const CPagerService&) {
                               return std::make_unique<ScriptedCarrier>(pump, answers, bodies);
                           }};
    QList<bool> delivered;
    QList<bool> refused;
    QString pagerId = QStringLiteral("5551234");

    CarrierRig() {
        auto t = snpp;
        net.listen(QStringLiteral("snpp.example"), 444, [t] { return makeSnppScript(t); });
        settings.connectionType = ConnDirect;
        settings.retries = 1;
        settings.retryWait = 30;
        service.SetName(QStringLiteral("carrier"));
        service.SetMaxPageChar(240);
        int n = 0;
        carriers.SetIdMaker([n]() mutable { return QStringLiteral("m%1").arg(++n); });
    }
    void send(PagerType type, const QStringList& texts) {
        MessageQueue queue;
        for (const QString& text : texts)
            queue.Add(service.Name(), pagerId, text, false, type);
        FakeSerialControl port{pump};
        MessageQueue::Channels channels{
            .port = port,
            .carrier = [this](CPagerService& s, CPagerMessage& page,
                              int number) { return carriers.Send(ctx, s, page, number); },
        };
        queue.SendQueue(
            ctx, [this](const QString&) -> CPagerService& { return service; }, channels,
            [&](int position, bool ok) {
                delivered << ok;
                refused << queue.Item(position).Refused();
                receipts << queue.Item(position).Receipt();
            });
    }
    QStringList receipts;

};

using Kind = wctp::SendResult::Kind;

} // namespace

class TestCarrierPaging : public QObject {
    Q_OBJECT
private slots:
    void wctpOutcomes_data();
    void wctpOutcomes();
    void wctpCarriesTheAccountAndAsksForReceipts();
    void snppOutcomes_data();
    void snppOutcomes();
    void unusableAddressIsNotSent();
    void ledgerAwaitsReceiptsUntilTheyCome();
};

void TestCarrierPaging::wctpOutcomes_data() {
    QTest::addColumn<QList<wctp::SendResult>>("answers");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("line");
    const auto ok = result(Kind::Delivered, 200, QStringLiteral("Accepted"));
    const auto busy = result(Kind::TemporaryFailure, 604, QStringLiteral("Internal server error"));
    QTest::newRow("accepted") << QList{ok} << true << false << 1
                              << QStringLiteral("WCTP Message #1 delivered to the network");
    QTest::newRow("unknown recipient, not retried")
        << QList{result(Kind::PermanentFailure, 401, QStringLiteral("Invalid recipientID"))} << false << true << 1
        << QStringLiteral("WCTP Message #1 refused by the carrier: 401 Invalid recipientID; not tried again");
    QTest::newRow("temporary, then accepted on the retry")
        << QList{busy, ok} << true << false << 2 << QStringLiteral("WCTP Message #1 delivered to the network");
    QTest::newRow("temporary on every attempt: left for the next check")
        << QList{busy} << false << false << 2
        << QStringLiteral("WCTP Message #1 not delivered: 604 Internal server error");
}

void TestCarrierPaging::wctpOutcomes() {
    QFETCH(QList<wctp::SendResult>, answers);
    QFETCH(bool, delivered);
    QFETCH(bool, refused);
    QFETCH(int, requests);
    QFETCH(QString, line);
    CarrierRig r;
    r.answers = answers;
    r.service.SetAddress(QStringLiteral("https://wctp.example/wctp"));
    const QDateTime start = r.pump.now();
    r.send(PagerWCTP, {QStringLiteral("12/08/2026|From:ops|Subject:disk full")});
    QCOMPARE(r.delivered, QList<bool>{delivered});
    QCOMPARE(r.refused, QList<bool>{refused});
    QCOMPARE(r.bodies.size(), requests);
    QVERIFY2(r.log.contains(line), qPrintable(r.log.join(QLatin1Char('\n'))));
    // A retry waits the retry time; a refusal does not wait at all.
    QCOMPARE(start.secsTo(r.pump.now()) >= 30, requests > 1);
}

void TestCarrierPaging::wctpCarriesTheAccountAndAsksForReceipts() {
    CarrierRig r;
    r.service.SetAddress(QStringLiteral("https://wctp.example/wctp"));
    r.service.SetSenderID(QStringLiteral("gateway-7"));
    r.service.SetSecurityCode(QStringLiteral("s3cret"));
    r.service.SetReceipts(true);
    r.service.SetMaxPageChar(10);
    r.settings.maxPagesPerMessage = 2;
    r.send(PagerWCTP, {QStringLiteral("first line\r\nsecond line")});
    QCOMPARE(r.delivered, QList<bool>{true});
    // Two blocks, each a submission of its own with its own message ID; the
    // page waits for both receipts.
    QCOMPARE(r.bodies.size(), 2);
    QCOMPARE(r.receipts, QStringList{QStringLiteral("m1 m2")});
    QCOMPARE(attribute(r.bodies[0], QStringLiteral("wctp-Originator"), QStringLiteral("senderID")),
             QStringLiteral("gateway-7"));
    QCOMPARE(attribute(r.bodies[0], QStringLiteral("wctp-Originator"), QStringLiteral("securityCode")),
             QStringLiteral("s3cret"));
    QCOMPARE(attribute(r.bodies[0], QStringLiteral("wctp-Recipient"), QStringLiteral("recipientID")),
             QStringLiteral("5551234"));
    QCOMPARE(attribute(r.bodies[1], QStringLiteral("wctp-MessageControl"), QStringLiteral("messageID")),
             QStringLiteral("m2"));
    // The line break goes as one; no terminal control characters reach the carrier.
    const QString all = elementText(r.bodies[0], QStringLiteral("wctp-Alphanumeric")) +
                        elementText(r.bodies[1], QStringLiteral("wctp-Alphanumeric"));
    QVERIFY2(!all.contains(QChar(8)) && !all.contains(QLatin1Char('\r')), qPrintable(all));
    // The security code never reaches the activity log or the terminal window.
    QVERIFY(!r.log.join(QLatin1Char('\n')).contains(QLatin1String("s3cret")));
    QVERIFY(!r.terminal.Text().contains(QLatin1String("s3cret")));
}

void TestCarrierPaging::snppOutcomes_data() {
    QTest::addColumn<QByteArray>("rejectPager");
    QTest::addColumn<int>("refuseSend");
    QTest::addColumn<QByteArray>("dropAfter");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("sessions");
    QTest::newRow("sent") << QByteArray() << 0 << QByteArray() << true << false << 1;
    QTest::newRow("invalid pager ID, not retried") << QByteArray("5551234") << 0 << QByteArray() << false << true << 1;
    QTest::newRow("service unavailable: retried, then left") << QByteArray() << 421 << QByteArray() << false << false
                                                             << 2;
    QTest::newRow("dropped after PAGE: retried, then left")
        << QByteArray() << 0 << QByteArray("PAGE") << false << false << 2;
    // A pager ID SNPP cannot carry is the settings' fault, not the carrier's:
    // not sent, not retried in this round, and tried again once mended.
    QTest::newRow("pager ID with a space") << QByteArray("SPACE") << 0 << QByteArray() << false << false << 0;
}

void TestCarrierPaging::snppOutcomes() {
    QFETCH(QByteArray, rejectPager);
    QFETCH(int, refuseSend);
    QFETCH(QByteArray, dropAfter);
    QFETCH(bool, delivered);
    QFETCH(bool, refused);
    QFETCH(int, sessions);
    CarrierRig r;
    if (rejectPager == "SPACE")
        r.pagerId = QStringLiteral("555 1234");
    else
        r.snpp->rejectPager = rejectPager;
    r.snpp->refuseSend = refuseSend;
    r.snpp->dropAfter = dropAfter;
    r.service.SetAddress(QStringLiteral("snpp.example"));
    r.send(PagerSNPP, {QStringLiteral("disk full on db1")});
    QCOMPARE(r.delivered, QList<bool>{delivered});
    QCOMPARE(r.refused, QList<bool>{refused});
    QCOMPARE(int(r.net.connections().size()), sessions);
    if (delivered)
        QCOMPARE(r.snpp->sent.value(0), qMakePair(QByteArray("5551234"), QByteArray("disk full on db1")));
    QCOMPARE(r.log.size(), 1);
    QVERIFY2(r.log[0].startsWith(QLatin1String("SNPP Message #1 ")), qPrintable(r.log[0]));
}

void TestCarrierPaging::unusableAddressIsNotSent() {
    for (const auto& [type, address] : {std::pair{PagerWCTP, QStringLiteral("wctp.example/wctp")},
                                        std::pair{PagerWCTP, QStringLiteral("ftp://wctp.example/")},
                                        std::pair{PagerSNPP, QStringLiteral("snpp.example:99999")},
                                        std::pair{PagerSNPP, QString()}}) {
        CarrierRig r;
        r.service.SetAddress(address);
        r.send(type, {QStringLiteral("text")});
        QCOMPARE(r.delivered, QList<bool>{false});
        // Not the carrier's refusal: the page is tried again once the address is mended.
        QCOMPARE(r.refused, QList<bool>{false});
        QVERIFY(r.bodies.isEmpty() && r.net.connections().isEmpty());
        QVERIFY2(r.log.value(0).contains(QLatin1String("has no")), qPrintable(r.log.value(0)));
    }
}

void TestCarrierPaging::ledgerAwaitsReceiptsUntilTheyCome() {
    QTemporaryDir dir;
    QDateTime now(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    const QString path = dir.filePath(QStringLiteral("page-ledger.jsonl"));
    using Event = PageLedger::Event;
    {
        PageLedger ledger(path, [&] { return now; });
        QVERIFY(ledger.Open(nullptr));
        QVERIFY(ledger.Append(Event::Delivered, {QStringLiteral("<a@x>")}, QStringLiteral("carrier 1"),
                              QStringLiteral("carrier"), QStringLiteral("m1"), nullptr));
        now = now.addDays(6);
        QVERIFY(ledger.Append(Event::Delivered, {QStringLiteral("<b@x>")}, QStringLiteral("carrier 1"),
                              QStringLiteral("carrier"), QStringLiteral("m2 m3"), nullptr));
        QVERIFY(ledger.Append(Event::Delivered, {QStringLiteral("<c@x>")}, QStringLiteral("carrier 1"),
                              QStringLiteral("carrier"), QStringLiteral("m4"), nullptr));
        // A delivery without a receipt awaits nothing.
        QVERIFY(ledger.Append(Event::Delivered, {QStringLiteral("<d@x>")}, QStringLiteral("carrier 1"), nullptr));
        QVERIFY(ledger.Append(Event::Handset, {QStringLiteral("<c@x>")}, QStringLiteral("carrier 1"),
                              QStringLiteral("carrier"), QStringLiteral("m4"), nullptr));
        // Awaited from the delivery on, within the same run.
        QCOMPARE(ledger.AwaitedReceipts().size(), 2);
    }
    now = now.addDays(2); // the first receipt is more than a week old by now
    PageLedger ledger(path, [&] { return now; });
    QVERIFY(ledger.Open(nullptr));
    QCOMPARE(ledger.AwaitedReceipts().size(), 1);
    const PageLedger::Awaited& a = ledger.AwaitedReceipts().first();
    QCOMPARE(a.receipt, QStringLiteral("m2 m3"));
    QCOMPARE(a.service, QStringLiteral("carrier"));
    QCOMPARE(a.ids, QStringList{QStringLiteral("<b@x>")});
    QCOMPARE(PageLedger::Summarize(path, now.addDays(-30)).handset, 1);
}

QTEST_GUILESS_MAIN(TestCarrierPaging)
#include "test_carrierpaging.moc"
