#include "features/paging/manualpage.h"

#include "features/connection/connection.h"
#include "features/paging/cpagermessage.h"
#include "ground/tessalyerror.h"
#include "platform/prompter.h"
#include "state/commstatus.h"
#include "state/livesettings.h"

namespace tessaly::manualpage {

namespace {

// The activity lines the box of an undelivered page quotes: the last few,
// each cut short.
constexpr int kWhyLines = 4;
constexpr int kWhyLineLength = 200;

struct Sent {
    bool delivered = false; // every page of the queue went out
    bool cancelled = false;
    QStringList lines; // the activity lines written while sending
};

// The communication status window around one SendQueue. An e-mail page ends
// the dial-up connection too (which also closes the status window).
Sent send(ManualPageContext& ctx, bool hangUp) {
    Sent sent;
    const int pages = ctx.queue.Count();
    int delivered = 0;
    const MessageQueue::PageOutcome outcome = [&delivered](int, bool ok) {
        if (ok)
            ++delivered;
    };
    const ManualPageContext::LineSink told = [&sent](const QString& line) {
        if (sent.lines.size() == kWhyLines)
            sent.lines.removeFirst();
        sent.lines << line.left(kWhyLineLength);
    };
    ctx.status.Load();
    if (ctx.settings.statusWindowFlag)
        ctx.status.Show();
    try {
        ctx.sendQueue(outcome, told);
    } catch (const TessalyError& e) {
        // A page naming a service the profile does not hold.
        ctx.queue.ClearQueue();
        const QString line = QStringLiteral("Page not sent: ") + e.description();
        told(line);
        if (ctx.logActivity)
            ctx.logActivity(line);
    }
    sent.delivered = pages > 0 && delivered == pages;
    sent.cancelled = ctx.cancel && *ctx.cancel;
    if (hangUp && ctx.settings.connectionType != ConnDirect && ctx.connection)
        ctx.connection->HangUp();
    ctx.status.Close();
    return sent;
}

// The field a test page of this type cannot go without, when it is empty:
// the message that says so.
QString missingField(const TestPager& t, const ServiceList& services) {
    const CPagerService* service = services.Find(t.service);
    if (!service)
        return kTestNoService.arg(t.service.left(kWhyLineLength));
    switch (t.type) {
    case PagerAlphaDialUp:
        if (t.pagerId.trimmed().isEmpty())
            return kTestNeedsPagerId;
        if (service->Phone().trimmed().isEmpty())
            return kTestNeedsServicePhone;
        return {};
    case PagerAlphaSMTP: return t.emailAddress.trimmed().isEmpty() ? kTestNeedsEmail : QString();
    case PagerNumeric: return t.numericPhone.trimmed().isEmpty() ? kTestNeedsNumber : QString();
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP:
        if (t.pagerId.trimmed().isEmpty())
            return kTestNeedsPagerId;
        if (service->Address().trimmed().isEmpty())
            return kTestNeedsServiceAddress;
        return {};
    }
    return {};
}

} // namespace

AfterSend SendImmediateMessage(ManualPageContext& ctx, const QString& text) {
    if (ctx.pagers.Count() == 0)
        return AfterSend::Nothing;
    if (text.trimmed().isEmpty()) {
        ctx.prompter.messageBox(kEmptyMessage, MsgButtons::OK);
        return AfterSend::Nothing;
    }
    const CPager& p = ctx.pagers.Item(1);
    switch (p.PagerType()) {
    case PagerAlphaDialUp:
        ctx.queue.Add(p.ServiceName(), p.ID(), text, false, PagerAlphaDialUp);
        send(ctx, false);
        return AfterSend::Hide;
    case PagerAlphaSMTP:
        ctx.queue.Add(p.ServiceName(), p.EmailAddress(), text, false, PagerAlphaSMTP, p.FromAddress());
        send(ctx, true);
        return AfterSend::Stay;
    case PagerNumeric:
        ctx.queue.Add(p.ServiceName(), p.DigitalNumber(), text + QLatin1Char('#'), false, PagerNumeric);
        send(ctx, false);
        return AfterSend::Stay;
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP:
        ctx.queue.Add(p.ServiceName(), p.ID(), text, false, p.PagerType());
        send(ctx, true);
        return AfterSend::Stay;
    }
    return AfterSend::Nothing;
}

TestOutcome SendTestPage(ManualPageContext& ctx, const TestPager& t, const ServiceList& services) {
    if (const QString missing = missingField(t, services); !missing.isEmpty()) {
        ctx.prompter.messageBox(missing, MsgButtons::OK);
        return TestOutcome::Refused;
    }
    Sent sent;
    QString confirmation = kTestConfirmation;
    switch (t.type) {
    case PagerAlphaDialUp:
        ctx.queue.Add(t.service, t.pagerId, kTestText, false, PagerAlphaDialUp);
        sent = send(ctx, false);
        break;
    case PagerAlphaSMTP:
        ctx.queue.Add(t.service, t.emailAddress, kTestText, false, PagerAlphaSMTP, t.fromAddress,
                      QStringLiteral("test"));
        sent = send(ctx, true);
        break;
    case PagerNumeric:
        ctx.queue.Add(t.service, t.numericPhone, kNumericTestText, false, PagerNumeric);
        sent = send(ctx, false);
        confirmation = kNumericTestConfirmation;
        break;
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP:
        ctx.queue.Add(t.service, t.pagerId, kTestText, false, t.type);
        sent = send(ctx, true);
        break;
    }
    // A page the service took counts even when Cancel came during the hang-up.
    if (sent.delivered) {
        ctx.prompter.messageBox(confirmation, MsgButtons::OK);
        return TestOutcome::Delivered;
    }
    if (sent.cancelled) {
        ctx.prompter.messageBox(kTestCancelled, MsgButtons::OK);
        return TestOutcome::Cancelled;
    }
    QString text = kTestNotDelivered;
    if (!sent.lines.isEmpty())
        text += QStringLiteral("\n\n") + sent.lines.join(QLatin1Char('\n'));
    ctx.prompter.messageBox(text, MsgButtons::OK, MsgIcon::Warning);
    return TestOutcome::NotDelivered;
}

} // namespace tessaly::manualpage
