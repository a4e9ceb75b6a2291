#pragma once
// Stand-ins for what remote commands reach outside the program: the desktop
// opener, the session's power-off and restart, and the countdown's view.
// Nothing here opens a file or ends a session.

#include "features/remote/countdown.h"
#include "platform/shell.h"
#include "platform/sessioncontrol.h"

#include <QStringList>

namespace tessaly {

// Records every path; opening succeeds unless the path contains "missing".
class FakeDesktopShell : public Shell {
public:
    bool Open(const QString& path) override {
        opened << path;
        return !path.contains(QLatin1String("missing"));
    }
    void StartProgram(const QString&) override {}
    QStringList opened;
};

// Records every request; answers with `refusal` (empty: accepted).
class FakeSessionControl : public SessionControl {
public:
    QString EndSession(Ending ending) override {
        endings << ending;
        return refusal;
    }
    QList<Ending> endings;
    QString refusal;
};

// Records what the countdown shows; cancels after `cancelAfterTicks` ticks
// (never when negative).
class RecordingCountdownView : public CountdownView {
public:
    void Open(bool restart, int seconds, std::function<void()> cancel) override {
        opened = true;
        this->restart = restart;
        shown << seconds;
        cancel_ = std::move(cancel);
        if (cancelAfterTicks == 0)
            cancel_();
    }
    void ShowSeconds(int seconds) override {
        shown << seconds;
        if (cancelAfterTicks > 0 && shown.size() - 1 == cancelAfterTicks)
            cancel_();
    }
    void Close() override { closed = true; }

    int cancelAfterTicks = -1;
    bool opened = false, closed = false, restart = false;
    QList<int> shown; // the opening value, then each tick's

private:
    std::function<void()> cancel_;
};

// A view handed out by a factory that reports to a view the test keeps.
class ForwardingCountdownView : public CountdownView {
public:
    explicit ForwardingCountdownView(CountdownView& to) : to_(to) {}
    void Open(bool restart, int seconds, std::function<void()> cancel) override { to_.Open(restart, seconds, std::move(cancel)); }
    void ShowSeconds(int seconds) override { to_.ShowSeconds(seconds); }
    void Close() override { to_.Close(); }

private:
    CountdownView& to_;
};

} // namespace tessaly
