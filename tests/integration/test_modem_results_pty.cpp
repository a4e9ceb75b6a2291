// Result codes after the dial, with the real serial port control on the
// simulator's pseudo-terminal: every failure answer ends the attempt at the
// answer with its own activity line, for a paging service and a numeric
// pager, and endless noise is no connection.

#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/integration/modemline.h"
#include "tests/integration/modemsim.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

class TestModemResultsPty : public QObject {
    Q_OBJECT

    ModemSimulator sim;

private slots:
    void cleanup() { sim.stop(); }

    void failureAnswers_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line");
        const QString number = QStringLiteral("5551234");
        QTest::newRow("service, NO CARRIER") << QStringList{"--no-carrier", number} << false << int(pagestate::NoCarrier) << "Pager: No Carrier";
        QTest::newRow("service, NO ANSWER") << QStringList{"--no-answer", number} << false << int(pagestate::NoAnswer) << "Pager: No Answer";
        QTest::newRow("service, NO DIALTONE") << QStringList{"--no-dialtone", number} << false << int(pagestate::NoDialTone) << "Pager: No Dialtone";
        QTest::newRow("service, ERROR") << QStringList{"--dial-error", number} << false << int(pagestate::DialError) << "Pager: Modem Error";
        QTest::newRow("service, endless noise") << QStringList{"--noise", number} << false << int(pagestate::LineNoise) << "Pager: Line Noise";
        QTest::newRow("numeric, ERROR") << QStringList{"--numeric-reply", "ERROR"} << true << int(pagestate::DialError) << "Digital Pager: Modem Error";
        QTest::newRow("numeric, NO CARRIER") << QStringList{"--numeric-reply", "NO CARRIER"} << true << int(pagestate::NoCarrier) << "Digital Pager: No Carrier";
    }
    void failureAnswers() {
        QFETCH(QStringList, options);
        QFETCH(bool, numeric);
        QFETCH(int, state);
        QFETCH(QString, line);
        if (!sim.start(options))
            QSKIP("python3 is needed for the modem simulator");
        ModemLine modem(sim.device(), 3);
        CPagerService service;
        setUpTapService(service, QStringLiteral("5551234"), 3);
        service.SetDigitalDelay(2);
        if (numeric) {
            service.SendDigitalPage(modem.ctx, *modem.port, QStringLiteral("5551234"), QStringLiteral("111*2#"));
            QVERIFY(modem.status.StatusLine() != QStringLiteral("Page Sent"));
        } else {
            QVERIFY(!service.Logon(modem.ctx, *modem.port));
        }
        QCOMPARE(int(service.ResultState()), state);
        QCOMPARE(modem.pagingLines(), QStringList{line});
        QVERIFY(!modem.port->PortOpen());
        const bool noise = state == pagestate::LineNoise;
        QCOMPARE(modem.prompter.messageTexts(),
                 noise ? QStringList{QStringLiteral("COMM input exceeded 5000 char")} : QStringList{});

        const QJsonObject s = sim.summary();
        const QJsonArray dials = s.value(QStringLiteral("dials")).toArray();
        QCOMPARE(dials.size(), 1); // one attempt, ended at the answer
        if (noise)
            QVERIFY(s.value(QStringLiteral("noise_bytes")).toInt() > 5000);
        QVERIFY(s.value(QStringLiteral("calls")).toArray().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestModemResultsPty)
#include "test_modem_results_pty.moc"
