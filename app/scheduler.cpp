#include "app/scheduler.h"

#include "state/livesettings.h"
#include "ground/textfmt.h"

namespace tessaly {

namespace {
QTime wholeSeconds(const QTime& t) { return QTime(t.hour(), t.minute(), t.second()); }
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
    if (!settings_.weekdays[weekday])
        return false;
    if (!badTime_.isEmpty())
        return false;
    const QTime time = wholeSeconds(now.time());
    if (!(time > start) || !(time < stop))
        return false;
    if (!nextCheck_ || !nextCheck_->isValid())
        nextCheck_ = start;
    if (!IsDue(nextCheck_, now.time()))
        return false;
    nextCheck_ = NextCheckTime(now.time(), settings_.checkInterval);
    return true;
}

} // namespace tessaly
