#include "tests/fakes/virtualeventpump.h"

#include <QCoreApplication>
#include <cmath>

namespace tessaly {

namespace {

class VirtualTimer : public Timer {
public:
    explicit VirtualTimer(VirtualEventPump& pump) : pump_(pump) {}
    ~VirtualTimer() override { stop(); }
    void setInterval(int ms) override {
        interval_ = ms;
        if (isActive())
            start();
    }
    int interval() const override { return interval_; }
    void start() override {
        stop();
        arm();
    }
    void stop() override {
        if (id_) {
            pump_.cancel(id_);
            id_ = 0;
        }
    }
    bool isActive() const override { return id_ != 0; }

private:
    void arm() {
        id_ = pump_.schedule(std::max(interval_, 1) / 1000.0, [this] {
            id_ = 0;
            arm(); // a repeating timer is re-armed before its tick runs
            emit timeout();
        });
    }
    VirtualEventPump& pump_;
    int interval_ = 0;
    int id_ = 0;
};

qint64 toMs(double seconds) { return static_cast<qint64>(std::llround(seconds * 1000.0)); }

} // namespace

VirtualEventPump::VirtualEventPump(QDateTime start) : origin_(std::move(start)) {}

VirtualEventPump::~VirtualEventPump() = default;

QDateTime VirtualEventPump::now() const { return origin_.addMSecs(nowMs_); }

int VirtualEventPump::schedule(double delaySeconds, std::function<void()> fn) {
    const int id = nextId_++;
    queue_.emplace(Key{nowMs_ + std::max<qint64>(0, toMs(delaySeconds)), seq_++}, Entry{id, std::move(fn)});
    return id;
}

int VirtualEventPump::scheduleAt(const QDateTime& when, std::function<void()> fn) {
    return schedule(std::max<qint64>(0, origin_.msecsTo(when) - nowMs_) / 1000.0, std::move(fn));
}

void VirtualEventPump::cancel(int id) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->second.id == id) {
            queue_.erase(it);
            return;
        }
    }
}

bool VirtualEventPump::runOneDue() {
    if (queue_.empty() || queue_.begin()->first.first > nowMs_)
        return false;
    auto node = queue_.extract(queue_.begin());
    node.mapped().fn();
    return true;
}

void VirtualEventPump::runDue() {
    while (runOneDue()) {
    }
}

void VirtualEventPump::yield() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    runDue();
}

bool VirtualEventPump::waitUntil(const std::function<bool()>& done, double seconds,
                                 const bool* cancel) {
    const qint64 deadline = nowMs_ + std::max<qint64>(0, toMs(seconds));
    for (;;) {
        if (done && done())
            return true;
        if (cancel && *cancel)
            return false;
        if (nowMs_ >= deadline)
            return false;
        yield();
        if (done && done())
            return true;
        if (cancel && *cancel)
            return false;
        const qint64 next = queue_.empty() ? deadline : queue_.begin()->first.first;
        if (next > nowMs_)
            nowMs_ = std::min(next, deadline);
    }
}

void VirtualEventPump::pause(double seconds, const bool* cancel) { waitUntil(nullptr, seconds, cancel); }

std::unique_ptr<Timer> VirtualEventPump::createTimer() { return std::make_unique<VirtualTimer>(*this); }

void VirtualEventPump::advance(double seconds) { advanceTo(now().addMSecs(toMs(seconds))); }

void VirtualEventPump::advanceTo(const QDateTime& when) {
    const qint64 target = origin_.msecsTo(when);
    for (;;) {
        yield();
        if (queue_.empty() || queue_.begin()->first.first > target)
            break;
        nowMs_ = std::max(nowMs_, queue_.begin()->first.first);
    }
    nowMs_ = std::max(nowMs_, target);
    yield();
}

} // namespace tessaly
