#pragma once
// The scheduler: on each tick of the one-minute timer it decides from the
// weekday, the daily window and the next check time whether a check is due.

#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

namespace tessaly {

struct LiveSettings;

class Scheduler {
public:
    explicit Scheduler(const LiveSettings& settings) : settings_(settings) {}

    // One evaluation at `now`. True when a check is due; the next check
    // time has then already moved on by the check interval, but never past
    // the end of today (23:59:59).
    bool ScheduleTick(const QDateTime& now);

    // True when `now` is strictly later than the next check time (seconds
    // count; equal is not due). The next check time is kept as a pure time
    // of day; an invalid or missing one is never due.
    static bool IsDue(std::optional<QTime>& nextCheck, const QTime& now);
    // The current hour and minute plus `interval` minutes, seconds zero;
    // minutes carry into hours and hours wrap past midnight.
    static QTime NextCheckTime(const QTime& now, int interval);

    // 1 = Sunday .. 7 = Saturday.
    static int WeekdayNumber(const QDate& date) { return date.dayOfWeek() % 7 + 1; }

    // True when `now` falls on a checked weekday and strictly inside the
    // daily window (never when a window time cannot be read).
    bool InWindow(const QDateTime& now) const;

    // When the one-minute tick would first find a check due after `from`
    // (ticks taken a minute apart), looking up to eight days ahead; none
    // when no check falls in that time. Changes nothing.
    std::optional<QDateTime> NextDue(const QDateTime& from) const;

    std::optional<int> LastWeekday() const { return lastWeekday_; }
    std::optional<QTime> NextCheck() const { return nextCheck_; }
    // A start or stop time that cannot be read as a time of day (empty when
    // both are fine). Such a window never runs a check.
    QString BadTimeText() const { return badTime_; }

private:
    const LiveSettings& settings_;
    std::optional<int> lastWeekday_;
    std::optional<QTime> nextCheck_;
    QString badTime_;
};

} // namespace tessaly
