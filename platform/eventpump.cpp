#include "platform/eventpump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace tessaly {

namespace {

class RealTimer : public Timer {
public:
    RealTimer() { connect(&timer_, &QTimer::timeout, this, &Timer::timeout); }
    void setInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
    int interval() const override { return timer_.interval(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

// While a cancel flag is watched the loop wakes at least this often, since
// the flag is a plain variable and setting it posts no event of its own.
constexpr qint64 kCancelPollMs = 100;

} // namespace

void RealEventPump::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool RealEventPump::waitUntil(const std::function<bool()>& done, double seconds, const bool* cancel) {
    QElapsedTimer elapsed;
    elapsed.start();
    const qint64 limitMs = static_cast<qint64>(std::max(0.0, seconds) * 1000.0);
    QTimer wake;
    wake.setSingleShot(true);
    for (;;) {
        if (done && done())
            return true;
        if (cancel && *cancel)
            return false;
        const qint64 left = limitMs - elapsed.elapsed();
        if (left <= 0)
            return false;
        wake.start(static_cast<int>(cancel ? std::min(left, kCancelPollMs) : left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void RealEventPump::pause(double seconds, const bool* cancel) { waitUntil(nullptr, seconds, cancel); }

QDateTime RealEventPump::now() const { return QDateTime::currentDateTime(); }

// Reading the local time looks up the time zone every time; a command's
// deadline needs none of that.
qint64 RealEventPump::steadyMs() const {
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

std::unique_ptr<Timer> RealEventPump::createTimer() { return std::make_unique<RealTimer>(); }

} // namespace tessaly
