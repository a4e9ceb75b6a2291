#include "features/paging/manualpage.h"

#include "features/connection/connection.h"
#include "features/paging/cpagermessage.h"
#include "ground/tessalyerror.h"
#include "platform/prompter.h"
#include "state/commstatus.h"
#include "state/livesettings.h"

namespace tessaly::manualpage {

namespace {

// The communication status window around one SendQueue. An e-mail page ends
// the dial-up connection too (which also closes the status window).
void send(ManualPageContext& ctx, bool hangUp) {
    ctx.status.Load();
    if (ctx.settings.statusWindowFlag)
        ctx.status.Show();
    try {
        ctx.sendQueue();
    } catch (const TessalyError& e) {
        // A page naming a service the profile does not hold.
        ctx.queue.ClearQueue();
        if (ctx.logActivity)
            ctx.logActivity(QStringLiteral("Page not sent: ") + e.description());
    }
    if (hangUp && ctx.settings.connectionType != ConnDirect && ctx.connection)
        ctx.connection->HangUp();
    ctx.status.Close();
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
    }
    return AfterSend::Nothing;
}

void SendTestPage(ManualPageContext& ctx, const TestPager& t) {
    switch (t.type) {
    case PagerAlphaDialUp:
        ctx.queue.Add(t.service, t.pagerId, kTestText, false, PagerAlphaDialUp);
        send(ctx, false);
        ctx.prompter.messageBox(kTestConfirmation, MsgButtons::OK);
        break;
    case PagerAlphaSMTP:
        ctx.queue.Add(t.service, t.emailAddress, kTestText, false, PagerAlphaSMTP, t.fromAddress,
                      QStringLiteral("test"));
        send(ctx, true);
        ctx.prompter.messageBox(kTestConfirmation, MsgButtons::OK);
        break;
    case PagerNumeric:
        ctx.queue.Add(t.service, t.numericPhone, kNumericTestText, false, PagerNumeric);
        send(ctx, false);
        ctx.prompter.messageBox(kNumericTestConfirmation, MsgButtons::OK);
        break;
    }
}

} // namespace tessaly::manualpage
