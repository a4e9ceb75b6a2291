#pragma once
// The internet connection: taken as it is with a direct connection, or made
// through dial-up networking with up to four attempts, and ended afterwards.
// Also the name tables by which dial-up states and errors are reported.

#include <QObject>
#include <QString>

namespace tessaly {

class ActivityLog;
class DialupControl;
class EventPump;
class StatusWindow;
struct AppState;

// What the connection works with.
struct ConnectionContext {
    EventPump& pump;
    AppState& state;
    StatusWindow& status;
    ActivityLog& activity;
};

class Connection : public QObject {
    Q_OBJECT
public:
    static constexpr int kAttempts = 4;      // the first dial and three retries
    static constexpr double kRetryWait = 30; // seconds between attempts

    // `dialup`: the dial-up control, or none on a computer without one.
    Connection(ConnectionContext ctx, DialupControl* dialup);

    // True when the computer is on the internet.
    bool Connect();
    // Ends the dial-up connection (unless direct) and closes the status window.
    void HangUp();
    // The dial-up control's progress report.
    void OnStateChanged(int state, int error);

    bool ConnectedFlag() const { return connected_; }
    bool DialErrorFlag() const { return dialError_; }

    // "OpenPort" .. "Disconnected" for 0..24; empty otherwise.
    static QString StateName(int state);
    // "SUCCESS" for 0, the RAS error names for 600..750; empty otherwise.
    static QString DialErrorName(int error);

private:
    void notInstalled();

    ConnectionContext ctx_;
    DialupControl* dialup_;
    bool connected_ = false;
    bool dialError_ = false;
};

} // namespace tessaly
