#pragma once
// What the mail-sending controls report while they talk to the server: the
// server's lines and the closing go to the terminal window, socket errors to
// the terminal window and the activity log.

#include <QString>
#include <functional>

class QObject;

namespace tessaly {

class SmtpControl;

struct SmtpEventSinks {
    std::function<void(const QString&)> terminalAppend;
    std::function<void(const QString&)> logActivity;
    // Marks the mail check's internet error.
    std::function<void()> internetError;
};

// Connects the control's events for as long as `context` lives.
void AttachSmtpEvents(SmtpControl& smtp, QObject* context, SmtpEventSinks sinks);

// The terminal line for a socket error: "SMTP Winsock Error 61, WSAECONNREFUSED: ..." CR LF.
QString SmtpErrorTerminalLine(int number, const QString& description);

} // namespace tessaly
