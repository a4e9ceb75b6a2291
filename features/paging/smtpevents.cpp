#include "features/paging/smtpevents.h"

#include "ground/sockerr.h"
#include "platform/smtpcontrol.h"

#include <memory>

namespace tessaly {

QString SocketErrorTerminalLine(const QString& control, int number, const QString& text) {
    return control + QStringLiteral(" Winsock Error ") + QString::number(number) + QStringLiteral(", ") +
           sockerr::Name(number) + QStringLiteral(": ") + text + QStringLiteral("\r\n");
}

QString SmtpErrorTerminalLine(int number, const QString& description) {
    return SocketErrorTerminalLine(QStringLiteral("SMTP"), number, description);
}

void AttachSmtpEvents(SmtpControl& smtp, QObject* context, SmtpEventSinks sinks) {
    auto shared = std::make_shared<SmtpEventSinks>(std::move(sinks));
    QObject::connect(&smtp, &SmtpControl::dataReceived, context, [shared](const QString& text) {
        if (shared->terminalAppend)
            shared->terminalAppend(QStringLiteral("SMTP Recv: ") + text + QStringLiteral("\r\n"));
    });
    QObject::connect(&smtp, &SmtpControl::socketClosed, context, [shared] {
        if (shared->terminalAppend)
            shared->terminalAppend(QStringLiteral("SMTP Socket Closed: \r\n"));
    });
    QObject::connect(&smtp, &SmtpControl::error, context, [shared](int number, const QString& description) {
        if (shared->terminalAppend)
            shared->terminalAppend(SmtpErrorTerminalLine(number, description));
        if (shared->logActivity)
            shared->logActivity(QStringLiteral("Winsock Error using SMTP: ") + description);
        if (shared->internetError)
            shared->internetError();
    });
}

} // namespace tessaly
