#pragma once
// Waiting and time. Every wait in the program goes through an EventPump so
// that it sleeps in the event loop (real) or jumps ahead in time (tests).

#include <QDateTime>
#include <QObject>
#include <functional>
#include <memory>

namespace tessaly {

// A repeating timer as the program uses them: interval, start, stop, tick.
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Timer() override = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    void setEnabled(bool on) { on ? start() : stop(); }

signals:
    void timeout();
};

// The local date and time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class EventPump : public Clock {
public:
    // Milliseconds on a clock that only moves forward, for deadlines and
    // time-outs (the local time may jump). Virtual pumps keep their own time.
    virtual qint64 steadyMs() const { return now().toMSecsSinceEpoch(); }
    // One pass of the event loop: posted events and due timers are handled.
    virtual void yield() = 0;
    // Waits until done() holds (true), or `seconds` pass or *cancel becomes
    // true (false). done() is tested before the first sleep.
    virtual bool waitUntil(const std::function<bool()>& done, double seconds, const bool* cancel) = 0;
    // Sleeps `seconds` in the event loop; ends early when *cancel becomes true.
    virtual void pause(double seconds, const bool* cancel) = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
};

// The real pump: sleeps in the Qt event loop until an event or the deadline.
class RealEventPump : public EventPump {
public:
    void yield() override;
    bool waitUntil(const std::function<bool()>& done, double seconds, const bool* cancel) override;
    void pause(double seconds, const bool* cancel) override;
    QDateTime now() const override;
    qint64 steadyMs() const override;
    std::unique_ptr<Timer> createTimer() override;
};

} // namespace tessaly
