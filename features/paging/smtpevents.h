#pragma once
// What the mail-sending controls report while they talk to the server: the
// server's lines and the closing go to the terminal window, socket errors to
// the terminal window and the activity log.

#include <QString>
#include <functional>

class QObject;

namespace tessaly {

class SmtpControl;
struct MailSecurity;

struct SmtpEventSinks {
    std::function<void(const QString&)> terminalAppend;
    std::function<void(const QString&)> logActivity;
    // Marks the mail check's internet error.
    std::function<void()> internetError;
    // Whether the line on a server without TLS is due (none: once per attachment).
    std::function<bool(const QString& who, const QString& server)> clearTextNoticeDue = {};
};

// Connects the control's events for as long as `context` lives. A refused
// secure connection or login is one activity line; a server without TLS is
// reported once.
void AttachSmtpEvents(SmtpControl& smtp, QObject* context, SmtpEventSinks sinks);

// Gives the control the security choice, the extra certificates and the login.
void ApplyMailSecurity(SmtpControl& smtp, const MailSecurity& security);

// The terminal line for a control's socket error, e.g.
// "POP Winsock Error 61, WSAECONNREFUSED: Connection refused" CR LF.
QString SocketErrorTerminalLine(const QString& control, int number, const QString& text);
// The same for the mail-sending control ("SMTP Winsock Error ...").
QString SmtpErrorTerminalLine(int number, const QString& description);

} // namespace tessaly
