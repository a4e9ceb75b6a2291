#include "features/mail/mailviewer.h"

#include "features/mail/cmail.h"
#include "ground/tessalyerror.h"
#include "platform/prompter.h"
#include "platform/shell.h"

namespace tessaly {

MailViewer::MailViewer(MailViewerContext ctx) : ctx_(std::move(ctx)) {}

int MailViewer::Count() const { return ctx_.inbox.Count(); }

std::optional<MailViewer::Shown> MailViewer::DisplayMessage(int number) {
    const int count = ctx_.inbox.Count();
    if (number < 1 || number > count)
        return std::nullopt;
    try {
        CMail& mail = ctx_.inbox.Item(number);
        Shown s;
        s.number = number;
        s.counter = QStringLiteral("Message: %1 of %2").arg(number).arg(count);
        s.date = mail.DateSent();
        s.from = mail.From();
        s.subject = mail.Subject();
        s.to = mail.MailTo();
        s.body = mail.Body();
        mail.SetNewMessage(false);
        current_ = s;
        return s;
    } catch (const TessalyError& e) {
        ctx_.prompter.messageBox(e.description());
    }
    return std::nullopt;
}

std::optional<MailViewer::Reply> MailViewer::ReplyFields() const {
    if (!current_)
        return std::nullopt;
    return Reply{current_->from, QStringLiteral("RE: ") + current_->subject, current_->to};
}

void MailViewer::OpenEmailClient() {
    const QString path = ctx_.emailClientPath ? ctx_.emailClientPath() : QString();
    try {
        if (!ctx_.shell)
            throw TessalyError(err::FileNotFound, QStringLiteral("File not found"));
        ctx_.shell->StartProgram(path);
    } catch (const TessalyError& e) {
        ctx_.prompter.messageBox(e.number() == err::FileNotFound ? kClientNotFound : e.description());
    }
}

void MailViewer::Closed() {
    if (ctx_.updateEmailDisplay)
        ctx_.updateEmailDisplay(ctx_.inbox.Count());
}

} // namespace tessaly
