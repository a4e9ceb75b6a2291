#include "features/paging/comm.h"

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/pagestate.h"
#include "state/terminal.h"
#include "ground/tessalyerror.h"
#include "platform/eventpump.h"
#include "platform/prompter.h"
#include "platform/serialcontrol.h"

namespace tessaly {

namespace {
const QString kTooLong = QStringLiteral("COMM input exceeded 5000 char");
const QString kCR = QStringLiteral("\r");

double secondsUntil(const QDateTime& now, const QDateTime& deadline) { return now.msecsTo(deadline) / 1000.0; }
} // namespace

QString Comm::SpeakerText() const {
    static const char* const texts[] = {" M0", " M1", " M2", " M3"};
    const int i = settings_.speakerModeIndex;
    return i >= 0 && i < 4 ? QString::fromLatin1(texts[i]) : QString();
}

QString Comm::VolumeText() const {
    static const char* const texts[] = {" L1", " L2", " L3"};
    const int i = settings_.speakerVolumeIndex;
    return i >= 0 && i < 3 ? QString::fromLatin1(texts[i]) : QString();
}

QString Comm::DialTypeText() const {
    switch (settings_.dialTypeIndex) {
    case 0: return QStringLiteral("DT");
    case 1: return QStringLiteral("DP");
    default: return {};
    }
}

void Comm::TerminalAppend(const QString& text) { terminal_.Append(text); }

void Comm::ShowCommStatus(const QString& text) {
    if (!status_.IsLoaded())
        status_.Load();
    status_.SetStatusLine(text);
}

void Comm::Pause(double seconds) { pump_.pause(seconds, &cancel_); }

void Comm::SendText(SerialControl& port, const QString& text) { SendText(port, text, text); }

void Comm::SendText(SerialControl& port, const QString& text, const QString& shown) {
    // A port the device closed under us (it hung up) takes nothing; the
    // next wait ends at once and the routine reports the lost line.
    if (!port.PortOpen())
        return;
    port.SetOutput(text);
    TerminalAppend(QStringLiteral("-->") + shown);
}

bool Comm::waitForData(SerialControl& port, double seconds) {
    if (seconds > 0)
        pump_.waitUntil([&port] { return port.InBufferCount() > 0 || !port.PortOpen(); }, seconds, &cancel_);
    return port.PortOpen() && port.InBufferCount() > 0;
}

QString Comm::rest(SerialControl& port) { return port.PortOpen() ? port.Input() : QString(); }

void Comm::tooLong() { prompter_.messageBox(kTooLong); }

void Comm::WaitForText(SerialControl& port, const QString& expected, double timeoutSeconds, bool& found,
                       QString& reply) {
    TerminalAppend(QStringLiteral("<--:"));
    if (reply.contains(expected)) {
        found = true;
        return;
    }
    for (;;) {
        // The time-out counts silence: every arrival starts it again.
        if (!waitForData(port, timeoutSeconds)) {
            found = false;
            return;
        }
        const QString text = port.Input();
        reply += text;
        TerminalAppend(text);
        if (reply.contains(expected)) {
            found = true;
            return;
        }
        if (reply.size() > kReplyLimit) {
            tooLong();
            found = false;
            return;
        }
    }
}

std::int16_t Comm::InitModem(SerialControl& port, const QString& initString) {
    ShowCommStatus(QStringLiteral("Initializing Modem..."));
    const QString command = initString + SpeakerText() + VolumeText();
    port.SetDTREnable(true);
    try {
        port.SetPortOpen(true);
    } catch (const TessalyError& e) {
        return e.number() == SerialControl::PortUnavailable ? pagestate::PortUnavailable : pagestate::InitFailed;
    }
    port.SetInBufferCount(0);
    QString reply;
    bool found = false;
    SendText(port, QStringLiteral("AT") + kCR);
    Pause(1);
    reply.clear();
    WaitForText(port, QStringLiteral("OK"), 10, found, reply);
    if (!port.PortOpen())
        return pagestate::LineLost;

    SendText(port, command + kCR);
    Pause(1);
    reply.clear();
    WaitForText(port, QStringLiteral("OK"), 10, found, reply);
    if (found)
        return pagestate::OK;
    if (cancel_)
        return pagestate::Cancelled;
    return port.PortOpen() ? pagestate::InitFailed : pagestate::LineLost;
}

// Reads the modem's answer after a dial until a result word arrives, the
// deadline passes, the user cancels or the device hangs up. Returns the state
// a result word (or the lost line) gives, or nothing when the wait ran out (or
// was cancelled) without one.
std::optional<std::int16_t> Comm::listenAfterDial(SerialControl& port, const QDateTime& deadline, bool connectEnds,
                                                  QString& reply) {
    // Each failure word ends the attempt at once rather than at the deadline.
    static const struct {
        const char* word;
        std::int16_t state;
    } failures[] = {{"BUSY", pagestate::Busy},
                    {"NO DIAL", pagestate::NoDialTone},
                    {"NO CARRIER", pagestate::NoCarrier},
                    {"NO ANSWER", pagestate::NoAnswer},
                    {"ERROR", pagestate::DialError}};
    while (waitForData(port, secondsUntil(pump_.now(), deadline))) {
        reply += port.Input();
        if (connectEnds && reply.contains(QLatin1String("CONNECT")))
            return pagestate::OK;
        if (cancel_)
            return pagestate::Cancelled;
        for (const auto& f : failures)
            if (reply.contains(QLatin1String(f.word)))
                return f.state;
        if (reply.size() > kReplyLimit) {
            // Noise on the line, not an answer: the attempt has failed.
            tooLong();
            return pagestate::LineNoise;
        }
    }
    if (!port.PortOpen())
        return pagestate::LineLost;
    return std::nullopt;
}

std::int16_t Comm::DialService(SerialControl& port, const QString& phone) {
    port.SetInBufferCount(0);
    ShowCommStatus(QStringLiteral("Dialing ") + phone);
    SendText(port, QStringLiteral("AT") + DialTypeText() + phone + kCR);
    QString reply;
    // The deadline is fixed here: only the answer words end the wait early.
    const QDateTime deadline = pump_.now().addSecs(60);
    Pause(1);
    const std::int16_t state = listenAfterDial(port, deadline, true, reply).value_or(pagestate::NoConnection);
    pump_.yield();
    Pause(0.5);
    TerminalAppend(QStringLiteral("<--") + reply + rest(port));
    if (state == pagestate::OK)
        ShowCommStatus(QStringLiteral("Connected"));
    return state;
}

std::int16_t Comm::DialNumeric(SerialControl& port, const QString& dialText, double waitSeconds) {
    port.SetInBufferCount(0);
    ShowCommStatus(QStringLiteral("Dialing ") + dialText);
    SendText(port, QStringLiteral("AT") + DialTypeText() + dialText + kCR);
    QString reply;
    Pause(5);
    const QDateTime deadline = pump_.now().addMSecs(static_cast<qint64>(waitSeconds * 1000));
    // A numeric pager gives no answer: silence until the deadline is success.
    const std::int16_t state =
        listenAfterDial(port, deadline, false, reply).value_or(cancel_ ? pagestate::Cancelled : pagestate::OK);
    pump_.yield();
    TerminalAppend(QStringLiteral("<--") + reply + rest(port));
    if (state == pagestate::OK)
        ShowCommStatus(QStringLiteral("Page Sent"));
    return state;
}

void Comm::HangUp(SerialControl& port) {
    port.SetInBufferCount(0);
    if (!port.PortOpen())
        return;
    // Whatever goes wrong on the line, the port is closed in the end. A line
    // without a modem has nothing to escape to: it is only closed.
    if (port.Dials()) {
        try {
            ShowCommStatus(QStringLiteral("Hanging Up"));
            QString reply;
            bool found = false;
            port.SetInBufferCount(0);
            Pause(1);
            // What came during the guard pause (line noise, say) is no answer
            // to the escape.
            port.SetInBufferCount(0);
            SendText(port, QStringLiteral("+++"));
            Pause(0.5);
            WaitForText(port, QStringLiteral("OK"), 2, found, reply);
            SendText(port, QStringLiteral("ATH0") + kCR);
            Pause(0.5);
            WaitForText(port, QStringLiteral("OK"), 5, found, reply);
        } catch (const TessalyError& e) {
            TerminalAppend(QStringLiteral("Hang up: ") + e.description() + kCR);
        }
    }
    try {
        port.SetPortOpen(false);
    } catch (const TessalyError& e) {
        TerminalAppend(QStringLiteral("Hang up: ") + e.description() + kCR);
    }
    ShowCommStatus(QString());
}

} // namespace tessaly
