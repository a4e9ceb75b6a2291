#pragma once
// Virtual time for tests. The clock starts at a chosen date and time and only
// moves when a wait has nothing to do: it then jumps to the next scheduled
// callback or to the wait's deadline. A 60-second time-out takes microseconds.

#include "platform/eventpump.h"

#include <map>
#include <memory>

namespace tessaly {

class VirtualEventPump : public EventPump {
public:
    explicit VirtualEventPump(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    ~VirtualEventPump() override;

    void yield() override;
    bool waitUntil(const std::function<bool()>& done, double seconds, const bool* cancel) override;
    void pause(double seconds, const bool* cancel) override;
    QDateTime now() const override;
    std::unique_ptr<Timer> createTimer() override;

    // Runs `fn` when the clock reaches now + delay. Returns an id for cancel().
    int schedule(double delaySeconds, std::function<void()> fn);
    int scheduleAt(const QDateTime& when, std::function<void()> fn);
    void cancel(int id);
    // Moves the clock forward by `seconds`, running everything due on the way in order.
    void advance(double seconds);
    // Moves the clock to `when` (forward only), running what is due on the way.
    void advanceTo(const QDateTime& when);
    // Total virtual time passed since construction.
    double elapsedSeconds() const { return (nowMs_ - startMs_) / 1000.0; }
    int pendingCount() const { return static_cast<int>(queue_.size()); }

private:
    struct Entry {
        int id;
        std::function<void()> fn;
    };
    using Key = std::pair<qint64, qint64>; // time in ms, sequence
    bool runOneDue();
    void runDue();

    QDateTime origin_;
    qint64 startMs_ = 0;
    qint64 nowMs_ = 0;
    qint64 seq_ = 0;
    int nextId_ = 1;
    std::map<Key, Entry> queue_;
};

} // namespace tessaly
