// `tessly --status` from the files of a program directory: the check
// record, the page ledger's counts and pending pages, and when the
// schedule runs the next check.

#include "app/checkrecord.h"
#include "app/scheduler.h"
#include "app/statusreport.h"
#include "features/paging/pageledger.h"
#include "state/livesettings.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {
const QDateTime kNow(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);

void writeLedger(const QString& dir, const QList<QByteArray>& lines) {
    QFile f(dir + QLatin1Char('/') + kPageLedgerFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    for (const QByteArray& l : lines)
        f.write(l + '\n');
}
QByteArray ledgerLine(const char* at, const char* what, const char* id = nullptr) {
    QByteArray l = QByteArray("{\"at\":\"") + at + "\",\"event\":\"" + what + "\"";
    if (id)
        l += QByteArray(",\"ids\":[\"") + id + "\"]";
    return l + '}';
}
} // namespace

class TestStatusReport : public QObject {
    Q_OBJECT
private slots:
    // The exit status follows the last check's record; the page counts
    // start at its start; a page whose last event is "sending" is pending.
    void reportFollowsTheFiles_data() {
        QTest::addColumn<QByteArray>("record"); // empty: none; "junk": unreadable
        QTest::addColumn<int>("rc");
        QTest::addColumn<QStringList>("lines");
        const QByteArray clean = "{\"started\":\"2026-12-08T09:30:00Z\",\"ended\":\"2026-12-08T09:31:00Z\","
                                 "\"status\":0,\"resident\":true,\"nextCheck\":\"2026-12-08T09:45:00Z\"}";
        const QByteArray errors = "{\"started\":\"2026-12-08T09:30:00Z\",\"ended\":\"2026-12-08T09:31:00Z\","
                                  "\"status\":1,\"accountsNotRead\":1,\"pagesNotDelivered\":2}";
        QTest::newRow("clean, resident") << clean << 0
                                         << QStringList{"ran clean", "Pages of the last check and since: 1 delivered, "
                                                                     "1 failed, 0 given up",
                                                        "Pages in the last 24 hours: 2 delivered, 1 failed, 1 given up",
                                                        "Pending pages: 1 page on its way when a run ended (<c@x>)",
                                                        QStringLiteral("Next scheduled check: ") +
                                                            QDateTime(QDate(2026, 12, 8), QTime(9, 45), Qt::UTC)
                                                                .toLocalTime()
                                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
        QTest::newRow("errors, by --check")
            << errors << 1
            << QStringList{"ran with errors (status 1): 1 account not read, 2 pages not delivered",
                           "whatever runs tessly --check decides"};
        QTest::newRow("no record yet") << QByteArray() << 3 << QStringList{"Last check: none recorded yet"};
        QTest::newRow("unreadable record") << QByteArray("{\"status\":") << 2 << QStringList{"cannot be read"};
    }
    void reportFollowsTheFiles() {
        QFETCH(QByteArray, record);
        QFETCH(int, rc);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        writeLedger(dir.path(), {ledgerLine("2026-12-07T08:00:00Z", "delivered", "<old@x>"),
                                 ledgerLine("2026-12-07T12:00:00Z", "delivered", "<a@x>"),
                                 ledgerLine("2026-12-07T12:00:01Z", "given-up", "<g@x>"), "not json",
                                 ledgerLine("2026-12-08T09:30:10Z", "sending", "<b@x>"),
                                 ledgerLine("2026-12-08T09:30:20Z", "failed", "<b@x>"),
                                 ledgerLine("2026-12-08T09:30:30Z", "sending", "<b@x>"),
                                 ledgerLine("2026-12-08T09:30:40Z", "delivered", "<b@x>"),
                                 ledgerLine("2026-12-08T09:30:50Z", "sending", "<c@x>")});
        if (!record.isEmpty()) {
            QFile f(dir.path() + QLatin1Char('/') + kLastCheckFile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(record);
        }
        QString out;
        QCOMPARE(StatusReport(dir.path(), kNow, out), rc);
        for (const QString& l : lines)
            QVERIFY2(out.contains(l), qPrintable(l + QStringLiteral("\n---\n") + out));
    }

    void recordRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(kLastCheckFile);
        CheckRecord r{kNow.addSecs(-60), kNow, 4, QStringLiteral("the inbox state could not be saved"), 1, 2, true,
                      true, kNow.addSecs(600)};
        QString error;
        QVERIFY(WriteCheckRecord(path, r, &error));
        const std::optional<CheckRecord> back = ReadCheckRecord(path, &error);
        QVERIFY(back);
        QCOMPARE(back->started, r.started);
        QCOMPARE(back->status, 4);
        QCOMPARE(back->detail, r.detail);
        QCOMPARE(back->pagesNotDelivered, 2);
        QVERIFY(back->cancelled && back->resident);
        QCOMPARE(*back->nextCheck, *r.nextCheck);
    }

    // The next check the minute tick would find due, across the window's
    // end, a day left out and midnight.
    void nextDueFollowsTheSchedule_data() {
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("expected"); // invalid: none
        QTest::addColumn<bool>("noMonday");
        const QDate monday(2026, 12, 7);
        QTest::newRow("inside the window") << QDateTime(monday, QTime(9, 0, 30)) << QDateTime(monday, QTime(9, 1, 30))
                                           << false;
        QTest::newRow("after the window: next morning")
            << QDateTime(monday, QTime(18, 0)) << QDateTime(monday.addDays(1), QTime(8, 1)) << false;
        QTest::newRow("Monday left out") << QDateTime(monday, QTime(7, 0))
                                         << QDateTime(monday.addDays(1), QTime(8, 1)) << true;
    }
    void nextDueFollowsTheSchedule() {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, expected);
        QFETCH(bool, noMonday);
        LiveSettings s;
        s.startTime = QStringLiteral("8:00 AM");
        s.stopTime = QStringLiteral("5:00 PM");
        s.checkInterval = 15;
        for (bool& d : s.weekdays)
            d = true;
        if (noMonday)
            s.weekdays[2] = false;
        Scheduler scheduler(s);
        // Nothing checked yet today: the first tick inside the window is due.
        const std::optional<QDateTime> next = scheduler.NextDue(from);
        QVERIFY(next);
        QCOMPARE(*next, expected);
        // Asking changes nothing: the same answer again.
        QCOMPARE(*scheduler.NextDue(from), expected);
        for (bool& d : s.weekdays)
            d = false;
        QVERIFY(!scheduler.NextDue(from));
    }
};

QTEST_GUILESS_MAIN(TestStatusReport)
#include "test_statusreport.moc"
