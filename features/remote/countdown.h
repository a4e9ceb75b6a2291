#pragma once
// The 30-second countdown before the computer is shut down or restarted.
// The logic counts on the event pump's timer; a view shows it (the
// frmShutdown window, or lines on standard output in a run without windows).

#include <functional>
#include <memory>

namespace tessaly {

class EventPump;

class CountdownView {
public:
    virtual ~CountdownView() = default;
    // Shows the countdown, modal. `cancel` is what the view calls when the
    // person at the computer cancels.
    virtual void Open(bool restart, int seconds, std::function<void()> cancel) = 0;
    // The counter after a tick of the one-second timer.
    virtual void ShowSeconds(int seconds) = 0;
    virtual void Close() = 0;
};

using CountdownViewFactory = std::function<std::unique_ptr<CountdownView>()>;

class ShutdownCountdown {
public:
    static constexpr int kSeconds = 30;
    static constexpr int kTickMs = 1000;
    // Counts down from kSeconds, one a second, waiting in the event loop.
    // True when the counter ran out, false when the view cancelled.
    static bool Run(EventPump& pump, CountdownView& view, bool restart);
};

// Writes the countdown to standard output; SIGINT or SIGTERM cancels it.
class ConsoleCountdownView : public CountdownView {
public:
    void Open(bool restart, int seconds, std::function<void()> cancel) override;
    void ShowSeconds(int seconds) override;
    void Close() override;
};

} // namespace tessaly
