#include "features/paging/quicknote.h"

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/appstate.h"
#include "state/mailsecurity.h"
#include "features/connection/connection.h"
#include "features/paging/smtpevents.h"
#include "platform/eventpump.h"
#include "platform/prompter.h"
#include "platform/smtpcontrol.h"

namespace tessaly {

QuickNote::QuickNote(QuickNoteContext ctx, SmtpControl& smtp) : ctx_(std::move(ctx)), smtp_(smtp) {
    AttachSmtpEvents(smtp_, &smtp_, ctx_.sinks);
    smtp_.SetCancelFlag(&ctx_.state.cancel);
}

QString QuickNote::pagerFromAddress() const {
    const PagerList& pagers = ctx_.pagers;
    return pagers.Count() > 0 ? pagers.Item(1).FromAddress() : QString();
}

void QuickNote::status(const QString& text) {
    StatusWindow& s = ctx_.status;
    if (!s.IsLoaded())
        s.Load();
    s.SetStatusLine(text);
}

QString QuickNote::Load() {
    const LiveSettings& s = ctx_.state.settings;
    smtp_.SetDomain(s.domainName);
    smtp_.SetHostName(s.smtpHostName);
    smtp_.SetHostAddress(s.smtpHostAddress);
    smtp_.SetMailer(kMailer);
    ApplyMailSecurity(smtp_, ctx_.mailSecurity ? ctx_.mailSecurity() : MailSecurity{});
    // The note goes to the same server port as the pages; a server that is
    // not on port 25 would otherwise take pages but refuse every note.
    if (s.smtpPort > 0)
        smtp_.SetPort(s.smtpPort);
    return pagerFromAddress();
}

QuickNote::Outcome QuickNote::Send(const Note& note) {
    QString sender;
    if (!note.replyTo.isEmpty() && !pagerFromAddress().isEmpty()) {
        sender = note.replyTo;
    } else {
        const std::optional<QString> answer = ctx_.prompter.inputBox(kReplyToPrompt, QString(), QString());
        // Without an address there is nobody to reply to and most servers
        // refuse the mail; pager 1's stored address is left as it was.
        if (!answer || answer->trimmed().isEmpty())
            return Outcome::NoSender;
        sender = *answer;
        if (ctx_.pagers.Count() > 0) {
            ctx_.pagers.Item(1).SetFromAddress(sender);
            ctx_.state.profileChanged = true;
        }
    }
    smtp_.SetSender(sender);
    smtp_.SetRecipient(note.to);
    smtp_.SetSubject(note.subject);
    smtp_.SetBody(note.body);

    const LiveSettings& s = ctx_.state.settings;
    Connection& connection = ctx_.connection;
    // A new note starts uncancelled; a Cancel left over from an earlier send
    // would otherwise stop it on a direct connection, where nothing dials.
    bool& cancel = ctx_.state.cancel;
    cancel = false;
    if (s.statusWindowFlag)
        ctx_.status.Show();
    if (s.connectionType != ConnDirect && !connection.Connect()) {
        connection.HangUp();
        return Outcome::NoConnection;
    }

    int errorFlag = 0;
    smtp_.ClearRefusedForGood();
    for (int attempt = 0; attempt < kAttempts && !smtp_.RefusedForGood(); ++attempt) {
        errorFlag = 0;
        status(QStringLiteral("Connecting to SMTP Server"));
        if (cancel) {
            connection.HangUp();
            return Outcome::Cancelled;
        }
        status(QStringLiteral("Sending Message"));
        const int result = smtp_.Send();
        ctx_.pump.yield();
        if (result == 0) {
            const QString sent = QStringLiteral("Message sent successfully");
            status(sent);
            ctx_.activity.LogActivity(sent);
            connection.HangUp();
            return Outcome::Sent;
        }
        errorFlag = 1;
    }
    status(QStringLiteral("Unable to send message"));
    ctx_.activity.LogActivity(QStringLiteral("Unable to send message: Error") + QString::number(errorFlag));
    connection.HangUp();
    return Outcome::Failed;
}

} // namespace tessaly
