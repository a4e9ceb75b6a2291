// Numeric pages: dial the pager's number, wait through pause commas, key the
// digits, and listen for a failure answer (busy, no dial tone, no carrier,
// no answer, error); silence means the page went out.

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "features/paging/pagingcontext.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/serialcontrol.h"

namespace tessaly {

namespace {

QString digitalLine(std::int16_t state) {
    if (state == pagestate::OK)
        return QStringLiteral("Digital Pager: Message Sent");
    if (state == pagestate::PortUnavailable)
        return QStringLiteral("Comm Port Unavailable");
    const QString reason = pagestate::Reason(state);
    return reason.isEmpty() ? reason : QStringLiteral("Digital Pager: ") + reason;
}

} // namespace

void CPagerService::SendDigitalPage(PagingContext& ctx, SerialControl& port, const QString& phone,
                                    const QString& digits) {
    Comm& comm = ctx.comm;
    const bool& cancel = comm.CancelFlag();
    if (!ctx.status.IsLoaded())
        ctx.status.Load();
    if (ctx.settings.statusWindowFlag)
        ctx.status.Show();

    for (int attempt = 0; attempt <= ctx.settings.retries; ++attempt) {
        std::int16_t state = pagestate::OK;
        bool failedUnexpectedly = false;
        try {
            if (attempt > 0) {
                comm.ShowCommStatus(QStringLiteral("Retrying"));
                comm.Pause(ctx.settings.retryWait);
                if (cancel)
                    state = pagestate::Cancelled;
            }
            if (state == pagestate::OK) {
                if (port.PortOpen()) {
                    ctx.logActivity(QStringLiteral("Comm Port is already in use..."));
                    return;
                }
                // One comma for every two seconds of delay, halves to even.
                const QString pauses(roundToInt16(digitalDelay_ / 2.0), QLatin1Char(','));
                port.SetSettings(LineSettings());
                port.SetCommPort(CommPort());
                state = comm.InitModem(port, initstring_);
                if (state == pagestate::OK) {
                    state = comm.DialNumeric(port, phone + pauses + digits, digitalDelay_);
                    if (state == pagestate::OK) {
                        resultState_ = state;
                        ctx.logActivity(digitalLine(state));
                        break;
                    }
                }
            }
        } catch (const TessalyError& e) {
            // An unexpected error is a failed attempt, never a sent page.
            ctx.logActivity(QStringLiteral("Digital Pager: ") + e.description());
            failedUnexpectedly = true;
            if (state == pagestate::OK)
                state = pagestate::InitFailed;
        }
        resultState_ = state;
        if (!failedUnexpectedly)
            ctx.logActivity(digitalLine(state));
        if (state == pagestate::PortUnavailable)
            return;
        comm.HangUp(port);
        if (state == pagestate::Cancelled)
            break;
    }
    comm.Pause(5);
    comm.HangUp(port);
}

} // namespace tessaly
