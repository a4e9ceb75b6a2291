// The scripted dial-up service and modem line that later tests drive.

#include "ground/tessalyerror.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/fakeserial.h"

#include <QtTest>

using namespace tessaly;

class TestFakeDevices : public QObject {
    Q_OBJECT
private slots:
    void dialupStatesOnTheVirtualClock() {
        VirtualEventPump pump;
        FakeDialupControl ras(pump);
        QList<QPair<double, int>> seen;
        connect(&ras, &DialupControl::stateChanged, this,
                [&](int s, int) { seen << qMakePair(pump.elapsedSeconds(), s); });
        ras.SetEntryName(QStringLiteral("ISP"));
        ras.Dial();
        QVERIFY(pump.waitUntil([&] { return !ras.active.isEmpty(); }, 60, nullptr));
        QCOMPARE(seen, (QList<QPair<double, int>>{{0.5, 0}, {1.5, 2}, {3.5, 5}, {4.5, 8192}}));
        QCOMPARE(ras.ActiveConnections(), QStringList{QStringLiteral("ISP")});

        // A hang-up in the middle of a dial stops the remaining states.
        ras.script = {{1, 0, 0}, {10, 8192, 0}};
        ras.HangUp();
        seen.clear();
        ras.Dial();
        pump.advance(2);
        ras.HangUp();
        pump.advance(20);
        QCOMPARE(seen.size(), 1);
        QVERIFY(ras.active.isEmpty());

        ras.notInstalled = true;
        try {
            ras.Dial();
            QFAIL("expected the not-installed error");
        } catch (const TessalyError& e) {
            QCOMPARE(e.number(), DialupControl::NotInstalled);
        }
    }

    void modemAnswersCommands() {
        VirtualEventPump pump;
        FakeSerialControl comm(pump);
        comm.answer(QStringLiteral("^AT$"), "\r\nOK\r\n", 0.2);
        comm.answer(QStringLiteral("^ATDT"), "\r\nCONNECT 1200\r\n", 15);
        comm.SetCommPort(7);
        QVERIFY_THROWS_EXCEPTION(TessalyError, comm.SetPortOpen(true)); // COM7 is not there
        comm.SetCommPort(2);
        comm.SetSettings(QStringLiteral("1200,E,7,1"));
        comm.SetPortOpen(true);
        QCOMPARE(comm.openedWith, QStringList{QStringLiteral("1200,E,7,1")});
        comm.SetOutput(QStringLiteral("AT\r"));
        QCOMPARE(comm.InBufferCount(), 0);
        QVERIFY(pump.waitUntil([&] { return comm.InBufferCount() > 0; }, 10, nullptr));
        QCOMPARE(comm.Input(), QStringLiteral("\r\nOK\r\n"));
        comm.SetOutput(QStringLiteral("ATDT5551234\r"));
        QVERIFY(!pump.waitUntil([&] { return comm.InBufferCount() > 0; }, 10, nullptr));
        QVERIFY(pump.waitUntil([&] { return comm.InBufferCount() > 0; }, 10, nullptr));
        QCOMPARE(comm.Input(), QStringLiteral("\r\nCONNECT 1200\r\n"));
        QCOMPARE(comm.written, QByteArray("AT\rATDT5551234\r"));
        // Closing drops answers still on their way.
        comm.SetOutput(QStringLiteral("AT\r"));
        comm.SetPortOpen(false);
        comm.SetPortOpen(true);
        pump.advance(1);
        QCOMPARE(comm.InBufferCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFakeDevices)
#include "test_fake_devices.moc"
