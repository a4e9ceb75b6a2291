// A page queue delivered end to end: the real serial port control on a
// pseudo-terminal, with the modem and paging terminal simulator on the other
// side checking every byte and checksum itself.

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "features/paging/pagingcontext.h"
#include "state/terminal.h"
#include "platform/eventpump.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/modemline.h"
#include "tests/integration/modemsim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include "tests/fakes/pagingsetup.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;


class TestModemPty : public QObject {
    Q_OBJECT

    ModemSimulator sim;
    QString device;

    bool startSimulator(const QStringList& options) {
        if (!sim.start(options))
            return false;
        device = sim.device();
        return true;
    }
    QJsonObject summary() { return sim.summary(); }

private slots:
    void cleanup() { sim.stop(); }

    void twoPageQueueArrivesWithGoodChecksums() {
        if (!startSimulator({QStringLiteral("--cr-before-id"), QStringLiteral("2")}))
            QSKIP("python3 is needed for the modem simulator");

        ModemLine line(device, 2);
        QtSerialControl& port = *line.port;
        PagingContext& ctx = line.ctx;
        Terminal& terminal = line.terminal;

        CPagerService service;
        service.SetName(QStringLiteral("Default"));
        setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
        service.SetMaxPageChar(80);

        MessageQueue queue;
        queue.Add(QStringLiteral("Default"), QStringLiteral("1234"), QStringLiteral("HELLO"), false, PagerAlphaDialUp);
        queue.Add(QStringLiteral("Default"), QStringLiteral("1234"), QStringLiteral("From: ann|Subject: lunch?"), false, PagerAlphaDialUp);
        queue.SendQueue(ctx, [&](const QString&) -> CPagerService& { return service; }, port, {});

        QCOMPARE(queue.Count(), 0);
        QVERIFY(!port.PortOpen());
        QCOMPARE(line.pagingLines(), (QStringList{"Message #1 (1 of 1) sent successfully", "Message #2 (1 of 1) sent successfully"}));

        const QJsonObject s = summary();
        const QJsonArray blocks = s.value(QStringLiteral("blocks")).toArray();
        QCOMPARE(blocks.size(), 2);
        QCOMPARE(blocks[0].toObject().value(QStringLiteral("pager_id")).toString(), QStringLiteral("1234"));
        QCOMPARE(blocks[0].toObject().value(QStringLiteral("message")).toString(), QStringLiteral("HELLO"));
        QCOMPARE(blocks[0].toObject().value(QStringLiteral("checksum")).toString(), QStringLiteral("25="));
        QCOMPARE(blocks[1].toObject().value(QStringLiteral("message")).toString(), QStringLiteral("From: ann|Subject: lunch?"));
        for (const auto& b : blocks)
            QVERIFY(b.toObject().value(QStringLiteral("checksum_ok")).toBool());
        // One call: two CRs before the prompt, one logon, one logoff.
        QCOMPARE(s.value(QStringLiteral("dials")).toArray().size(), 1);
        QCOMPARE(s.value(QStringLiteral("logons")).toArray().size(), 1);
        QVERIFY(s.value(QStringLiteral("logons")).toArray()[0].toObject().value(QStringLiteral("accepted")).toBool());
        QCOMPARE(s.value(QStringLiteral("logoffs")).toArray().size(), 1);
        QCOMPARE(s.value(QStringLiteral("calls")).toArray()[0].toObject().value(QStringLiteral("crs")).toInt(), 2);
        // The pseudo-terminal cannot take 7 data bits with parity: noted, not fatal.
        QVERIFY(terminal.Text().contains(QStringLiteral("-->ATDT5551234")));
    }

    void busyLineAndNumericPage() {
        if (!startSimulator({QStringLiteral("--busy"), QStringLiteral("5550000")}))
            QSKIP("python3 is needed for the modem simulator");
        ModemLine line(device, 3);
        QtSerialControl& port = *line.port;
        PagingContext& ctx = line.ctx;
        QStringList& log = line.log;
        CPagerService service;
        service.SetBaud(QStringLiteral("2400"));
        service.SetParity(QStringLiteral("NONE"));
        service.SetDataBits(QStringLiteral("8"));
        service.SetStopBits(QStringLiteral("1"));
        service.SetCommPort(3);
        service.SetInitstring(QStringLiteral("ATZ"));
        service.SetDigitalDelay(2);

        service.SendDigitalPage(ctx, port, QStringLiteral("5550000"), QStringLiteral("111*2#"));
        QCOMPARE(line.pagingLines(), QStringList{QStringLiteral("Digital Pager: Busy")});
        log.clear();
        service.SendDigitalPage(ctx, port, QStringLiteral("5557777"), QStringLiteral("111*2#"));
        QCOMPARE(line.pagingLines(), QStringList{QStringLiteral("Digital Pager: Message Sent")});
        QVERIFY(!port.PortOpen());
        const QJsonArray pages = summary().value(QStringLiteral("numeric_pages")).toArray();
        QVERIFY(!pages.isEmpty());
        QCOMPARE(pages.last().toObject().value(QStringLiteral("digits")).toString(), QStringLiteral("111*2#"));
        QCOMPARE(pages.last().toObject().value(QStringLiteral("number")).toString(), QStringLiteral("5557777"));
    }
};

QTEST_GUILESS_MAIN(TestModemPty)
#include "test_modem_pty.moc"
