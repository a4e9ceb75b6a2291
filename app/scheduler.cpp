#include "app/scheduler.h"

#include "state/livesettings.h"
#include "ground/textfmt.h"

namespace tessaly {

namespace {
QTime wholeSeconds(const QTime& t) { return QTime(t.hour(), t.minute(), t.second()); }
const QTime kEndOfDay(23, 59, 59);
} // namespace

bool Scheduler::IsDue(std::optional<QTime>& nextCheck, const QTime& now) {
    if (!nextCheck || !nextCheck->isValid())
        return false;
    nextCheck = QTime(nextCheck->hour(), nextCheck->minute(), nextCheck->second());
    return wholeSeconds(now) > *nextCheck;
}

QTime Scheduler::NextCheckTime(const QTime& now, int interval) {
    constexpr int kMinutesPerDay = 24 * 60;
    const long long minutes = now.hour() * 60LL + now.minute() + interval;
    const int wrapped = static_cast<int>(((minutes % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay);
    return QTime(wrapped / 60, wrapped % 60, 0);
}

bool Scheduler::ScheduleTick(const QDateTime& now) {
    const QTime start = parseTimeOfDay(settings_.startTime);
    const QTime stop = parseTimeOfDay(settings_.stopTime);
    badTime_.clear();
    if (!start.isValid())
        badTime_ = settings_.startTime;
    else if (!stop.isValid())
        badTime_ = settings_.stopTime;

    const int weekday = WeekdayNumber(now.date());
    if (lastWeekday_ != weekday) {
        nextCheck_ = start.isValid() ? std::optional<QTime>(start) : std::nullopt;
        lastWeekday_ = weekday;
    }
    if (!InWindow(now))
        return false;
    const QTime time = wholeSeconds(now.time());
    if (!nextCheck_ || !nextCheck_->isValid())
        nextCheck_ = start;
    if (!IsDue(nextCheck_, now.time()))
        return false;
    // A next check past midnight would read as earlier than every later
    // tick of today and make each of them due: it is held at the last second
    // of the day instead, so today's window runs no more checks and the
    // first tick of tomorrow starts again at the start time.
    const QTime next = NextCheckTime(now.time(), settings_.checkInterval);
    nextCheck_ = next > time ? next : kEndOfDay;
    return true;
}

bool Scheduler::InWindow(const QDateTime& now) const {
    const QTime start = parseTimeOfDay(settings_.startTime);
    const QTime stop = parseTimeOfDay(settings_.stopTime);
    if (!start.isValid() || !stop.isValid() || !settings_.weekdays[WeekdayNumber(now.date())])
        return false;
    const QTime time = wholeSeconds(now.time());
    return time > start && time < stop;
}

std::optional<QDateTime> Scheduler::NextDue(const QDateTime& from) const {
    constexpr int kMinutesAhead = 8 * 24 * 60;
    Scheduler probe(*this);
    for (int minute = 1; minute <= kMinutesAhead; ++minute) {
        const QDateTime at = from.addSecs(60LL * minute);
        if (probe.ScheduleTick(at))
            return at;
    }
    return std::nullopt;
}

} // namespace tessaly
