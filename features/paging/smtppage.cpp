// Pages by e-mail: each page block goes as one short mail to the pager's
// address at its carrier's gateway.

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagingcontext.h"
#include "features/paging/pagestate.h"
#include "features/paging/smtpevents.h"
#include "state/mailsecurity.h"
#include "platform/eventpump.h"
#include "platform/smtpcontrol.h"

namespace tessaly {

void CPagerService::SendSMTPPage(PagingContext& ctx, SmtpControl& smtp, const QString& recipient,
                                 const QString& message, const std::optional<QString>& from,
                                 const std::optional<QString>& subject, int messageNumber) {
    Comm& comm = ctx.comm;
    const bool& cancel = comm.CancelFlag();
    const LiveSettings& s = ctx.settings;
    // Delivered only once every block of one attempt was accepted.
    resultState_ = pagestate::NoConnection;

    if (s.statusWindowFlag)
        ctx.status.Show();
    if (s.connectionType != ConnDirect && ctx.connectInternet) {
        // The dial-up routine reports its own outcome.
        const bool connected = ctx.connectInternet();
        if (!connected || cancel) {
            resultState_ = cancel ? pagestate::Cancelled : pagestate::NoConnection;
            return;
        }
    }

    smtp.SetCancelFlag(&cancel);
    smtp.SetRecipient(recipient);
    smtp.SetSender(from.value_or(QString()));
    smtp.SetHostAddress(s.smtpHostAddress);
    smtp.SetHostName(s.smtpHostName);
    smtp.SetPort(s.smtpPort > 0 ? s.smtpPort : 25);
    smtp.SetDomain(s.domainName);
    ApplyMailSecurity(smtp, ctx.mailSecurity ? ctx.mailSecurity() : MailSecurity{});
    SplitMessage(message, s.maxPagesPerMessage);
    if (subject)
        smtp.SetSubject(*subject);

    const int count = BlockCount();
    const QString n = QString::number(messageNumber);
    if (smtp.RefusedForGood()) {
        // Failed for good once in this round of pages: not tried again.
        resultState_ = pagestate::NotAcknowledged;
        ctx.logActivity(QStringLiteral("SMTP Message #") + n +
                        QStringLiteral(" not sent: it cannot go with the current outgoing mail settings "
                                       "(see the line above)"));
        return;
    }
    const QString ofCount = QStringLiteral(" of %1)").arg(count);
    int errorFlag = 0;
    for (int attempt = 0; attempt < kSmtpAttempts; ++attempt) {
        errorFlag = 0;
        comm.ShowCommStatus(QStringLiteral("Connecting to SMTP Server"));
        // A failed block sends the whole page again: the pager shows the
        // blocks in order, so a gap would garble it.
        for (int j = 1; j <= count; ++j) {
            if (cancel) {
                resultState_ = pagestate::Cancelled;
                return;
            }
            smtp.SetBody(Block(j));
            const QString part = QStringLiteral(" (%1").arg(j) + ofCount;
            comm.ShowCommStatus(QStringLiteral("Sending Message #") + n + part);
            const int result = smtp.Send();
            comm.Pump().yield();
            if (result != 0) {
                errorFlag = 1;
                if (smtp.RefusedForGood())
                    break;
            } else {
                comm.ShowCommStatus(QStringLiteral("Message #") + n + QStringLiteral(" sent successfully"));
                ctx.logActivity(QStringLiteral("SMTP Message #") + n + part + QStringLiteral(" sent successfully"));
            }
            comm.Pump().yield();
        }
        if (errorFlag == 0) {
            resultState_ = pagestate::OK;
            return;
        }
        if (smtp.RefusedForGood())
            break; // the same login would be refused again
    }
    resultState_ = pagestate::NotAcknowledged;
    comm.ShowCommStatus(QStringLiteral("Unable to send message"));
    ctx.logActivity(QStringLiteral("Unable to send message: Error") + QString::number(errorFlag));
}

} // namespace tessaly
