#include "features/remote/countdown.h"

#include "platform/eventpump.h"
#include "platform/quitsignals.h"

#include <cstdio>

namespace tessaly {

bool ShutdownCountdown::Run(EventPump& pump, CountdownView& view, bool restart) {
    int counter = kSeconds;
    bool cancelled = false;
    bool closed = false;
    std::unique_ptr<Timer> timer = pump.createTimer();
    timer->setInterval(kTickMs);
    QObject::connect(timer.get(), &Timer::timeout, [&] {
        if (closed)
            return;
        --counter;
        view.ShowSeconds(counter);
        if (counter <= 0)
            closed = true;
    });
    view.Open(restart, counter, [&] {
        cancelled = true;
        closed = true;
    });
    timer->start();
    // The timer ends the wait; the limit only guards against a stalled timer.
    pump.waitUntil([&] { return closed; }, kSeconds * 2, &cancelled);
    timer->stop();
    view.Close();
    return !cancelled;
}

void ConsoleCountdownView::Open(bool restart, int seconds, std::function<void()> cancel) {
    setTerminationSignalHook(std::move(cancel));
    std::printf("Remote command: the computer will be %s in %d seconds. "
                "Press Ctrl+C or send SIGTERM to cancel.\n",
                restart ? "restarted" : "shut down", seconds);
    std::fflush(stdout);
}

void ConsoleCountdownView::ShowSeconds(int seconds) {
    std::printf("%d seconds\n", seconds);
    std::fflush(stdout);
}

void ConsoleCountdownView::Close() { setTerminationSignalHook({}); }

} // namespace tessaly
