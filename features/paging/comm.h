#pragma once
// The modem routines: initialise a Hayes modem, dial, wait for text, send
// text, hang up. Every wait sleeps in the event loop, ends on the cancel flag,
// and copies the traffic into the terminal transcript.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

namespace tessaly {

class EventPump;
class Prompter;
class SerialControl;
class StatusWindow;
class Terminal;
struct LiveSettings;

class Comm {
public:
    // Replies longer than this end a wait.
    static constexpr int kReplyLimit = 5000;

    Comm(EventPump& pump, Prompter& prompter, Terminal& terminal, StatusWindow& status, const LiveSettings& settings,
         const bool& cancel)
        : pump_(pump), prompter_(prompter), terminal_(terminal), status_(status), settings_(settings), cancel_(cancel) {
    }

    // Opens the port and sends "AT", then the initialisation text with the
    // speaker pieces. States 0, 1, 6, 9 or 14 (the device hung up).
    std::int16_t InitModem(SerialControl& port, const QString& initString);
    // Dials a paging terminal and waits up to 60 s for CONNECT; BUSY, NO
    // DIALTONE, NO CARRIER, NO ANSWER and ERROR end the wait at once. States
    // 0, 2, 6, 7, 8 and 14 to 18 (pagestate.h).
    std::int16_t DialService(SerialControl& port, const QString& phone);
    // Dials a numeric pager (number, pauses and digits) and listens `waitSeconds`
    // for a failure answer; silence is success. States 0, 6, 7, 8 and 14 to 18.
    std::int16_t DialNumeric(SerialControl& port, const QString& dialText, double waitSeconds);
    // Waits until `reply` holds `expected`; the time-out counts silence. A
    // port that closes under the wait (the device hung up) ends it at once.
    void WaitForText(SerialControl& port, const QString& expected, double timeoutSeconds, bool& found, QString& reply);
    // Sends `text`; nothing when the port has been closed by a hang-up.
    void SendText(SerialControl& port, const QString& text);
    // Sends `text` but shows `shown` in the terminal (a logon with its password masked).
    void SendText(SerialControl& port, const QString& text, const QString& shown);
    // "+++", "ATH0", then the port is closed; a closed port is left alone.
    void HangUp(SerialControl& port);
    void Pause(double seconds);
    void ShowCommStatus(const QString& text);
    void TerminalAppend(const QString& text);

    // " M0".." M3", " L1".." L3", "DT"/"DP" from the modem settings.
    QString SpeakerText() const;
    QString VolumeText() const;
    QString DialTypeText() const;

    EventPump& Pump() { return pump_; }
    const bool& CancelFlag() const { return cancel_; }

private:
    // Waits up to `seconds` for received data; false on deadline or cancel.
    bool waitForData(SerialControl& port, double seconds);
    // What the port still holds; nothing once it is closed.
    static QString rest(SerialControl& port);
    void tooLong();
    std::optional<std::int16_t> listenAfterDial(SerialControl& port, const QDateTime& deadline, bool connectEnds,
                                                QString& reply);

    EventPump& pump_;
    Prompter& prompter_;
    Terminal& terminal_;
    StatusWindow& status_;
    const LiveSettings& settings_;
    const bool& cancel_;
};

} // namespace tessaly
