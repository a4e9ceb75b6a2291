#include "features/paging/failurenotice.h"

#include "features/paging/smtpevents.h"

#include "state/livesettings.h"
#include "platform/eventpump.h"
#include "platform/smtpcontrol.h"

namespace tessaly {

namespace {
constexpr int kAttempts = 3;
constexpr double kRetryWait = 5; // seconds between attempts
// A notice names at most this many pages; the rest are counted.
constexpr qsizetype kMostPages = 20;
} // namespace

bool SendFailureNotice(NoticeContext& ctx, const QString& to, const QString& from,
                       const QList<UndeliveredPage>& pages) {
    const LiveSettings& s = ctx.settings;
    if (s.connectionType != ConnDirect && ctx.connectInternet && !ctx.connectInternet()) {
        ctx.logActivity(QStringLiteral("Failure notice to %1 not sent: no internet connection").arg(to));
        return false;
    }
    const QDateTime now = ctx.pump.now();
    QString text = FailureNoticeText(pages.mid(0, kMostPages), now);
    if (pages.size() > kMostPages)
        text += QStringLiteral("\r\n... and %1 more\r\n").arg(pages.size() - kMostPages);
    SmtpControl& smtp = ctx.smtp;
    smtp.SetDomain(s.domainName);
    smtp.SetHostName(s.smtpHostName);
    smtp.SetHostAddress(s.smtpHostAddress);
    smtp.SetPort(s.smtpPort > 0 ? s.smtpPort : 25);
    ApplyMailSecurity(smtp, ctx.mailSecurity ? ctx.mailSecurity() : MailSecurity{});
    smtp.SetSender(from.trimmed().isEmpty() ? to : from);
    smtp.SetRecipient(to);
    smtp.SetSubject(FailureNoticeSubject(pages));
    smtp.SetBody(text);
    // A refusal met by the pages must not stop the notice before it is tried.
    smtp.ClearRefusedForGood();
    for (int attempt = 0; attempt < kAttempts && !smtp.RefusedForGood(); ++attempt) {
        if (attempt > 0)
            ctx.pump.pause(kRetryWait, nullptr);
        if (smtp.Send() == 0) {
            ctx.logActivity(QStringLiteral("Failure notice sent to %1").arg(to));
            return true;
        }
    }
    ctx.logActivity(QStringLiteral("Failure notice to %1 could not be sent").arg(to));
    return false;
}

} // namespace tessaly
