// The main cycle in virtual time: the one-minute tick, the schedule window,
// the next check time, the switches and the manual commands.

#include "app/headlessmainview.h"
#include "app/maincycle.h"
#include "app/mainprogram.h"
#include "app/scheduler.h"
#include "platform/settingsstore.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {
const QDate kMonday(2026, 12, 7);
constexpr int kMondayNumber = 2;
constexpr int kTuesdayNumber = 3;
} // namespace

class TestMainCycle : public QObject {
    Q_OBJECT

    struct Rig : ProgramRig {
        QList<QDateTime> checks;
        QList<std::pair<bool, bool>> modes;

        explicit Rig(const QDateTime& start) : ProgramRig(start) {
            store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
            create();
            program->Cycle().SetCheckEntry([this](bool download, bool page) {
                checks << pump.now();
                modes << std::pair{download, page};
            });
            program->Startup(QString());
            LiveSettings& s = program->Settings();
            s.scheduleEnabled = true;
            s.weekdays[kMondayNumber] = true;
        }
        QList<QTime> checkTimes() const {
            QList<QTime> out;
            for (const auto& c : checks)
                out << c.time();
            return out;
        }
    };

private slots:
    void firstCheckAfterStartThenEveryInterval() {
        Rig rig(QDateTime(kMonday, QTime(7, 30, 40)));
        rig.pump.advanceTo(QDateTime(kMonday, QTime(10, 0, 0)));
        // Ticks come at hh:mm:40: the first one later than 8:00:00 checks, and
        // the next check time is 9:00:00 with the seconds dropped.
        QCOMPARE(rig.checkTimes(), (QList<QTime>{QTime(8, 0, 40), QTime(9, 0, 40)}));
        QCOMPARE(rig.program->Cycle().GetScheduler().NextCheck(), std::optional<QTime>(QTime(10, 0)));
        // Scheduled checks download and page as the switches say.
        QCOMPARE(rig.modes.first(), (std::pair{true, false}));
    }

    void equalTimeIsNotDue() {
        Rig rig(QDateTime(kMonday, QTime(7, 30, 0)));
        rig.pump.advanceTo(QDateTime(kMonday, QTime(9, 30, 0)));
        // 8:00:00 is not strictly after the start; 9:01:00 equals the next check time.
        QCOMPARE(rig.checkTimes(), (QList<QTime>{QTime(8, 1, 0), QTime(9, 2, 0)}));
    }

    void windowAndWeekdays() {
        Rig rig(QDateTime(kMonday, QTime(7, 30, 0)));
        LiveSettings& s = rig.program->Settings();
        s.checkInterval = 240;
        s.startTime = QStringLiteral("8:00 AM");
        s.stopTime = QStringLiteral("4:04 pm");
        // Through Monday night into Tuesday, which is off.
        rig.pump.advanceTo(QDateTime(kMonday.addDays(1), QTime(18, 0)));
        // 8:01 sets 12:01, which its own tick only equals: 12:02 checks, then
        // 16:03 (still before 4:04 pm); nothing more that day.
        QCOMPARE(rig.checkTimes(), (QList<QTime>{QTime(8, 1), QTime(12, 2), QTime(16, 3)}));
        QCOMPARE(rig.checks.last().date(), kMonday);

        // Wednesday on: the day change resets the next check time to the start.
        s.weekdays[kTuesdayNumber + 1] = true;
        rig.pump.advanceTo(QDateTime(kMonday.addDays(2), QTime(9, 0)));
        QCOMPARE(rig.checks.last(), QDateTime(kMonday.addDays(2), QTime(8, 1)));
        QCOMPARE(rig.checks.size(), 4);
    }

    void scheduleOffOrPortBusyDoesNothing() {
        Rig rig(QDateTime(kMonday, QTime(7, 59, 30)));
        bool portOpen = true;
        rig.program->Cycle().SetPortBusyTest([&] { return portOpen; });
        rig.pump.advanceTo(QDateTime(kMonday, QTime(8, 30)));
        QVERIFY(rig.checks.isEmpty());
        portOpen = false;
        rig.program->Settings().scheduleEnabled = false;
        rig.pump.advanceTo(QDateTime(kMonday, QTime(9, 0)));
        QVERIFY(rig.checks.isEmpty());
        rig.program->Settings().scheduleEnabled = true;
        rig.pump.advance(60);
        // The port-busy ticks never advanced the schedule, so the check is late, not lost.
        QCOMPARE(rig.checkTimes(), (QList<QTime>{QTime(9, 0, 30)}));
    }

    void checkLongerThanTheInterval() {
        Rig rig(QDateTime(kMonday, QTime(7, 59, 10)));
        rig.program->Cycle().SetCheckEntry([&](bool, bool) {
            rig.checks << rig.pump.now();
            // A check stops the minute timer for its duration.
            rig.program->MinuteTimer().stop();
            rig.pump.pause(90 * 60, nullptr);
            rig.program->MinuteTimer().start();
        });
        rig.pump.advanceTo(QDateTime(kMonday, QTime(11, 0)));
        // 8:00:10 runs 90 minutes; next check time 9:00 has passed, so the
        // first tick after the end (9:31:10) checks again, and so on.
        QCOMPARE(rig.checkTimes(), (QList<QTime>{QTime(8, 0, 10), QTime(9, 31, 10)}));
    }

    void nextCheckNeverWrapsPastMidnight_data() {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QList<QTime>>("expected");
        // Window 6:00 pm to 11:59 pm. A next check past midnight must not
        // make every later tick of the evening due.
        QTest::newRow("120") << 120 << QList<QTime>{QTime(18, 1), QTime(20, 2), QTime(22, 3)};
        QTest::newRow("the whole day") << 1440 << QList<QTime>{QTime(18, 1)};
    }
    void nextCheckNeverWrapsPastMidnight() {
        QFETCH(int, interval);
        QFETCH(QList<QTime>, expected);
        Rig rig(QDateTime(kMonday, QTime(17, 55)));
        LiveSettings& s = rig.program->Settings();
        s.startTime = QStringLiteral("6:00 pm");
        s.stopTime = QStringLiteral("11:59 pm");
        s.checkInterval = static_cast<std::int16_t>(interval);
        s.weekdays[kTuesdayNumber] = true;
        rig.pump.advanceTo(QDateTime(kMonday.addDays(1), QTime(18, 30)));
        // Tuesday starts again at its start time.
        expected << QTime(18, 1);
        QCOMPARE(rig.checkTimes(), expected);
    }

    void unreadableWindowNeverChecksAndSaysSo() {
        Rig rig(QDateTime(kMonday, QTime(9, 0, 0)));
        rig.program->Settings().startTime = QStringLiteral("eight-ish");
        rig.pump.advance(600);
        QVERIFY(rig.checks.isEmpty());
        QCOMPARE(rig.program->ActivityText().count(QStringLiteral("\"eight-ish\" is not a time of day")), 1);
    }

    void isDueAndNextCheckTime() {
        std::optional<QTime> next = QTime(9, 0, 0, 250);
        QVERIFY(!Scheduler::IsDue(next, QTime(9, 0, 0, 900))); // same second: not later
        QCOMPARE(next, std::optional<QTime>(QTime(9, 0, 0)));
        QVERIFY(Scheduler::IsDue(next, QTime(9, 0, 1)));
        std::optional<QTime> none;
        QVERIFY(!Scheduler::IsDue(none, QTime(23, 0)));
        QCOMPARE(Scheduler::NextCheckTime(QTime(8, 0, 40), 60), QTime(9, 0));
        QCOMPARE(Scheduler::NextCheckTime(QTime(8, 45, 59), 30), QTime(9, 15));
        QCOMPARE(Scheduler::NextCheckTime(QTime(23, 30), 45), QTime(0, 15));
        QCOMPARE(Scheduler::NextCheckTime(QTime(22, 0), 32767), QTime(16, 7));
        QCOMPARE(Scheduler::WeekdayNumber(QDate(2026, 12, 6)), 1); // Sunday
        QCOMPARE(Scheduler::WeekdayNumber(QDate(2026, 12, 12)), 7); // Saturday
    }

    void switchesAndManualCommands() {
        Rig rig(QDateTime(kMonday, QTime(7, 0)));
        MainCycle& cycle = rig.program->Cycle();
        LiveSettings& s = rig.program->Settings();
        s.scheduleEnabled = false;
        rig.program->SetProfileChanged(false);

        // The program sets a check box to its current state: nothing happens.
        cycle.SetScheduleCheckBox(false);
        QVERIFY(!rig.program->ProfileChanged());
        // The user ticks "Run Schedule".
        rig.program->MinuteTimer().stop();
        cycle.ScheduleCheckBoxClicked(true);
        QVERIFY(s.scheduleEnabled);
        QVERIFY(rig.view.ScheduleMenuCheck());
        QVERIFY(rig.program->MinuteTimer().isActive());
        QVERIFY(rig.program->ProfileChanged());

        // "Enable Paging" from the tray menu: flag, box, menu and labels follow.
        rig.program->SetProfileChanged(false);
        cycle.EnablePagingChosen();
        QVERIFY(s.pagingEnabled);
        QVERIFY(cycle.PagingCheckBox());
        QVERIFY(rig.view.PagingSwitch());
        QVERIFY(rig.view.PagingMenuCheck());
        QVERIFY(rig.program->ProfileChanged());
        QCOMPARE(rig.view.SettingsLabels().at(1), QStringLiteral("Download and Notify"));
        cycle.EnablePagingChosen();
        QVERIFY(!s.pagingEnabled && !cycle.PagingCheckBox() && !rig.view.PagingMenuCheck());
        QCOMPARE(rig.view.SettingsLabels().at(2), QStringLiteral("None"));

        // Unticking "Run Schedule" clears the flag but leaves the timer running.
        cycle.ScheduleCheckBoxClicked(false);
        QVERIFY(!s.scheduleEnabled && !rig.view.ScheduleMenuCheck());
        QVERIFY(rig.program->MinuteTimer().isActive());

        // Manual commands: the menu never pages, the toolbar follows the switches.
        s.pagingEnabled = true;
        s.downloadFlag = false;
        rig.modes.clear();
        cycle.CheckMailNow();
        cycle.TrayCheckMail();
        cycle.ToolbarCheckMail();
        QCOMPARE(rig.modes, (QList<std::pair<bool, bool>>{{true, false}, {false, false}, {false, true}}));
    }

    void settingsLabels() {
        Rig rig(QDateTime(kMonday, QTime(7, 0)));
        LiveSettings& s = rig.program->Settings();
        auto labels = [&] {
            rig.program->UpdateSettings();
            return rig.view.SettingsLabels();
        };
        s.connectionType = ConnDialUp;
        s.dialUpEntry = QStringLiteral("My ISP");
        s.downloadFlag = false;
        QCOMPARE(labels().mid(0, 2), (QStringList{"My ISP", "Notify Only"}));
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        QCOMPARE(labels().mid(0, 2), (QStringList{"Direct", "Download Messages"}));
        s.connectionType = ConnExternalDialer;
        s.pagingEnabled = true;
        s.pageHeaders = true;
        QCOMPARE(labels().mid(0, 2), (QStringList{"External Dialer", "Download, Page MSG Header"}));
        s.checkMailFlag = false;
        QCOMPARE(labels().at(1), QString());
        // The paging switch changed through the labels refresh: box and menu follow.
        QVERIFY(rig.view.PagingSwitch());
    }
};

QTEST_GUILESS_MAIN(TestMainCycle)
#include "test_maincycle.moc"
