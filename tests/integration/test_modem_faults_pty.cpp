// The modem line under faults, with the real serial port control on the
// simulator's pseudo-terminal: a device that hangs up in the middle of a
// frame, and page text that must reach a 7-bit terminal intact.

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

class TestModemFaultsPty : public QObject {
    Q_OBJECT

    ModemSimulator sim;

private slots:
    void cleanup() { sim.stop(); }

    // Line faults: the device goes away while the second block arrives.
    void hangUpMidFrame() {
        if (!sim.start({QStringLiteral("--hangup-mid-frame"), QStringLiteral("2")}))
            QSKIP("python3 is needed for the modem simulator");
        ModemLine line(sim.device(), 2);
        QtSerialControl& port = *line.port;
        CPagerService service;
        setUpTapService(service, QStringLiteral("5551234"), 2);
        service.SetMaxPageChar(80);

        // Two calls: the settings the pseudo-terminal refuses are logged once.
        for (int call = 1; call <= 2; ++call) {
            QVERIFY(service.Logon(line.ctx, port));
            service.SendTo(line.ctx, port, QStringLiteral("1234"), QStringLiteral("page %1").arg(call), call);
            if (call == 1)
                service.Logoff(line.ctx, port);
        }
        QCOMPARE(service.ResultState(), pagestate::LineLost);
        QVERIFY(!port.PortOpen());
        // The page after it in the same call is not delivered either.
        service.SendTo(line.ctx, port, QStringLiteral("1234"), QStringLiteral("page 3"), 3);
        QCOMPARE(service.ResultState(), pagestate::LineLost);
        service.Logoff(line.ctx, port);

        const QString lost = QStringLiteral("COM2 closed: the device %1 hung up or went away (hang-up)").arg(sim.device());
        QCOMPARE(line.pagingLines(), (QStringList{"Message #1 (1 of 1) sent successfully", lost,
                                                  "Message #2 (1 of 1) not acknowledged: the modem line was lost",
                                                  "Message #3 (1 of 1) not sent: the modem line was lost"}));
        QCOMPARE(line.log.size() - line.pagingLines().size(), 1);
        QVERIFY(line.log.first().startsWith(QStringLiteral("COM2: the device %1 refused ").arg(sim.device())));
        QVERIFY(line.terminal.Text().contains(lost));

        // The device is gone for good: the next call finds no port.
        QVERIFY(!service.Logon(line.ctx, port));
        QCOMPARE(line.log.last(), QStringLiteral("Comm Port Unavailable"));

        const QJsonObject s = sim.summary();
        QCOMPARE(s.value(QStringLiteral("hangups")).toArray()[0].toObject().value(QStringLiteral("block")).toInt(), 2);
        QCOMPARE(sim.goodBlocks(), QStringList{QStringLiteral("1234:page 1")});
    }

    // Text mapping and checksums: a terminal on a 7-bit line, mail text with
    // ETX and accented letters, an oversized block and a refused one.
    void textOnASevenBitLine() {
        if (!sim.start({QStringLiteral("--seven-bit"), QStringLiteral("--block-answers"), QStringLiteral("ack,ack,nak")}))
            QSKIP("python3 is needed for the modem simulator");
        ModemLine line(sim.device(), 2);
        QtSerialControl& port = *line.port;
        CPagerService service;
        setUpTapService(service, QStringLiteral("5551234"), 2);
        service.SetMaxPageChar(400);

        QVERIFY(service.Logon(line.ctx, port));
        QList<std::int16_t> states;
        const QString long300 = QString(300, QLatin1Char('L'));
        for (const QString& text : {QStringLiteral("Subject: caf\u00e9 \x03 na\u00efve Stra\u00dfe\r\nend"), long300,
                                    QStringLiteral("refused")}) {
            service.SendTo(line.ctx, port, QStringLiteral("1234"), text, static_cast<int>(states.size()) + 1);
            states << service.ResultState();
        }
        service.Logoff(line.ctx, port);
        QCOMPARE(states, (QList<std::int16_t>{pagestate::OK, pagestate::OK, pagestate::NotAcknowledged}));
        QCOMPARE(line.pagingLines(), (QStringList{"Message #1 (1 of 1) sent successfully",
                                                  "Message #2 (1 of 1) cut from 300 to 244 characters to fit one block",
                                                  "Message #2 (1 of 1) sent successfully",
                                                  "Message #3 (1 of 1) was not acknowledged by the paging service"}));

        const QJsonArray blocks = sim.summary().value(QStringLiteral("blocks")).toArray();
        QCOMPARE(blocks.size(), 3);
        for (const auto& b : blocks) {
            // The terminal summed the 7-bit bytes it received: the same sum.
            QVERIFY(b.toObject().value(QStringLiteral("checksum_ok")).toBool());
            QVERIFY(b.toObject().value(QStringLiteral("printable")).toBool());
        }
        QCOMPARE(blocks[0].toObject().value(QStringLiteral("message")).toString(),
                 QStringLiteral("Subject: cafe ? naive Strasse  end"));
        QCOMPARE(blocks[1].toObject().value(QStringLiteral("frame_length")).toInt(), 256);
        QCOMPARE(blocks[1].toObject().value(QStringLiteral("message")).toString(), long300.left(244));
        QCOMPARE(blocks[2].toObject().value(QStringLiteral("answer")).toString(), QStringLiteral("nak"));
    }
};

QTEST_GUILESS_MAIN(TestModemFaultsPty)
#include "test_modem_faults_pty.moc"
