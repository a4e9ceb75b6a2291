#pragma once
// The daily proof of life: at the chosen time, one test page through every
// pager of the chain, so that a dead channel is found before a real alert
// needs it. It goes once a day, when the clock passes its time while the
// program runs: not at a start after that time, and not again when the
// clock is set back over it (the day it went is kept in the settings file).

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QTime>
#include <functional>
#include <memory>

namespace tessaly {

class EventPump;
class SettingsStore;
class Timer;

struct ProofOfLifeContext {
    EventPump& pump; // its minute timer
    SettingsStore& store;
    // The wall clock (local time).
    std::function<QDateTime()> now;
    // The chosen time; invalid: off.
    std::function<QTime()> time;
    // Sends the test pages; none when it cannot run now (a mail check
    // holds the line), then it is tried at the next tick.
    enum class Sent { All, NotAll, Busy };
    std::function<Sent()> send;
    std::function<void(const QString&)> logActivity;
};

class ProofOfLife : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 60000;

    explicit ProofOfLife(ProofOfLifeContext ctx);
    ~ProofOfLife() override;

    // Starts the minute tick; the time passed before this does not count.
    void Start();
    void Stop();
    // One tick: sends the test pages when they are due.
    void Tick();

    // Whether the pages are due at `now`, the tick before having been at
    // `previous`, when they last went on `last`: the clock passed `at`
    // today, and they have not gone today or on a later day.
    static bool Due(const QDateTime& previous, const QDateTime& now, const QTime& at, const QDate& last);

private:
    ProofOfLifeContext ctx_;
    std::unique_ptr<Timer> timer_;
    QDateTime previous_;
};

} // namespace tessaly
