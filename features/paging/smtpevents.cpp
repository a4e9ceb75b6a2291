#include "features/paging/smtpevents.h"

#include "ground/sockerr.h"
#include "platform/smtpcontrol.h"
#include "state/mailsecurity.h"

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
    QObject::connect(&smtp, &SmtpControl::commandSent, context, [shared](const QString& text) {
        if (shared->terminalAppend)
            shared->terminalAppend(QStringLiteral("SMTP Send: ") + text + QStringLiteral("\r\n"));
    });
    QObject::connect(&smtp, &SmtpControl::secureFailed, context, [shared](const QString& text) {
        if (shared->logActivity)
            shared->logActivity(text);
    });
    auto told = std::make_shared<bool>(false);
    QObject::connect(&smtp, &SmtpControl::clearText, context, [shared, told, &smtp] {
        if (*told || !shared->logActivity)
            return;
        *told = true;
        const QString host = smtp.HostAddress().trimmed().isEmpty() ? smtp.HostName() : smtp.HostAddress();
        if (shared->clearTextNoticeDue && !shared->clearTextNoticeDue(QStringLiteral("SMTP"), host))
            return;
        shared->logActivity(QStringLiteral("SMTP: ") + host.trimmed() +
                            QStringLiteral(" offers no TLS; mail is sent without encryption"));
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

void ApplyMailSecurity(SmtpControl& smtp, const MailSecurity& security) {
    smtp.SetSecurity(security.smtp);
    smtp.SetSecurityProblem(security.smtpSecurityUnreadable);
    smtp.SetCaFile(security.caFile);
    smtp.SetAuthUser(security.smtpUser);
    smtp.SetAuthPassword(security.smtpPassword);
    smtp.SetPasswordCommand(security.smtpPasswordCommand);
}

} // namespace tessaly
