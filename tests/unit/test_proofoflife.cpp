// The daily test page in virtual time: once a day at its time, not at a
// start after that time, not twice when the clock is set back over it, and
// late but once when a check held the line or the clock jumped forward.

#include "features/paging/escalation.h"
#include "features/paging/proofoflife.h"
#include "platform/settingsstore.h"
#include "tests/fakes/virtualeventpump.h"

#include <QtTest>

using namespace tessaly;

namespace {
const QDate kDay1(2026, 12, 7);
}

class TestProofOfLife : public QObject {
    Q_OBJECT

    // A program run: its own object over the shared settings file, on a
    // wall clock that reads the virtual clock plus `shift` seconds.
    struct Run {
        Run(VirtualEventPump& pump, SettingsStore& store, const qint64& shift, int& sent, bool& busy)
            : pol(ProofOfLifeContext{
                  .pump = pump,
                  .store = store,
                  .now = [&pump, &shift] { return pump.now().addSecs(shift); },
                  .time = [] { return QTime(7, 30); },
                  .send =
                      [&sent, &busy] {
                          if (busy)
                              return ProofOfLifeContext::Sent::Busy;
                          ++sent;
                          return ProofOfLifeContext::Sent::All;
                      },
                  .logActivity = [](const QString&) {},
              }) {
            pol.Start();
        }
        ProofOfLife pol;
    };

private slots:
    void dueRule_data() {
        QTest::addColumn<QDateTime>("previous");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDate>("last");
        QTest::addColumn<bool>("due");
        const auto at = [](int h, int m, int day = 0) { return QDateTime(kDay1.addDays(day), QTime(h, m)); };
        QTest::newRow("before the time") << at(7, 28) << at(7, 29) << QDate() << false;
        QTest::newRow("passing it") << at(7, 29) << at(7, 30) << QDate() << true;
        QTest::newRow("passing it, sent yesterday") << at(7, 29) << at(7, 31) << kDay1.addDays(-1) << true;
        QTest::newRow("passing it, sent today") << at(7, 29) << at(7, 31) << kDay1 << false;
        QTest::newRow("long after it") << at(9, 0) << at(9, 1) << QDate() << false;
        QTest::newRow("over midnight") << at(23, 59, -1) << at(7, 31) << kDay1.addDays(-1) << true;
        QTest::newRow("clock back a day, sent on the later day") << at(7, 29) << at(7, 31) << kDay1.addDays(1) << false;
        QTest::newRow("clock set back before it") << at(8, 0) << at(6, 0) << QDate() << false;
        QTest::newRow("first tick, no earlier one") << QDateTime() << at(7, 31) << QDate() << false;
    }
    void dueRule() {
        QFETCH(QDateTime, previous);
        QFETCH(QDateTime, now);
        QFETCH(QDate, last);
        QFETCH(bool, due);
        QCOMPARE(ProofOfLife::Due(previous, now, QTime(7, 30), last), due);
        QVERIFY(!ProofOfLife::Due(previous, now, QTime(), last)); // off
    }

    void onceADayAtItsTime() {
        VirtualEventPump pump(QDateTime(kDay1, QTime(7, 0, 20)));
        MemorySettingsStore store;
        qint64 shift = 0;
        int sent = 0;
        bool busy = false;
        auto run = std::make_unique<Run>(pump, store, shift, sent, busy);
        pump.advance(28 * 60);
        QCOMPARE(sent, 0); // 07:28
        pump.advance(3 * 60);
        QCOMPARE(sent, 1); // 07:31
        QCOMPARE(LastProofOfLife(store), kDay1);
        pump.advance(16 * 3600);
        QCOMPARE(sent, 1); // the rest of the day
        pump.advance(8 * 3600 + 60);
        QCOMPARE(sent, 2); // the next day, 07:32

        // A start after the time sends nothing that day; the next day it goes.
        run.reset();
        pump.advance(24 * 3600 + 30 * 60); // day 3, 08:02, the program was not running
        run = std::make_unique<Run>(pump, store, shift, sent, busy);
        pump.advance(3600);
        QCOMPARE(sent, 2);
        pump.advance(23 * 3600);
        QCOMPARE(sent, 3); // day 4, 08:02: it passed 07:30
        QCOMPARE(LastProofOfLife(store), kDay1.addDays(3));

        // A restart on the same day, before the time again (the clock set
        // back an hour and a half with it), does not send a second one.
        run.reset();
        shift = -90 * 60; // the wall clock reads 06:32
        run = std::make_unique<Run>(pump, store, shift, sent, busy);
        pump.advance(2 * 3600);
        QCOMPARE(sent, 3);
        // Set back a whole day: that earlier day does not get one either.
        shift -= 24 * 3600;
        pump.advance(24 * 3600 - 60);
        QCOMPARE(sent, 3);
        // The clock is right again, day 5 at 10:01: that day's page goes,
        // late, once; day 6 gets its own.
        shift = 0;
        pump.advance(120);
        QCOMPARE(sent, 4);
        QCOMPARE(LastProofOfLife(store), kDay1.addDays(4));
        pump.advance(23 * 3600);
        QCOMPARE(sent, 5);
        QCOMPARE(LastProofOfLife(store), kDay1.addDays(5));
    }

    void lateButOnceWhenBusyOrTheClockJumps() {
        VirtualEventPump pump(QDateTime(kDay1, QTime(7, 0, 20)));
        MemorySettingsStore store;
        qint64 shift = 0;
        int sent = 0;
        bool busy = true;
        Run run(pump, store, shift, sent, busy);
        pump.advance(40 * 60);
        QCOMPARE(sent, 0); // a check holds the line
        busy = false;
        pump.advance(60);
        QCOMPARE(sent, 1);
        pump.advance(3600);
        QCOMPARE(sent, 1);
        // The next morning the clock jumps from 06:41 to 08:41.
        pump.advance(22 * 3600);
        shift = 2 * 3600;
        pump.advance(120);
        QCOMPARE(sent, 2);
        pump.advance(3600);
        QCOMPARE(sent, 2);
    }
};

QTEST_GUILESS_MAIN(TestProofOfLife)
#include "test_proofoflife.moc"
