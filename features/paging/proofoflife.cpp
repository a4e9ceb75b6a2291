#include "features/paging/proofoflife.h"

#include "features/paging/escalation.h"
#include "platform/eventpump.h"
#include "platform/settingsstore.h"

namespace tessaly {

ProofOfLife::ProofOfLife(ProofOfLifeContext ctx) : ctx_(std::move(ctx)), timer_(ctx_.pump.createTimer()) {
    timer_->setInterval(kTickMs);
    connect(timer_.get(), &Timer::timeout, this, &ProofOfLife::Tick);
}

ProofOfLife::~ProofOfLife() = default;

void ProofOfLife::Start() {
    previous_ = ctx_.now();
    timer_->start();
}

void ProofOfLife::Stop() { timer_->stop(); }

bool ProofOfLife::Due(const QDateTime& previous, const QDateTime& now, const QTime& at, const QDate& last) {
    if (!at.isValid() || !now.isValid())
        return false;
    const QDate today = now.date();
    if (last.isValid() && last >= today)
        return false; // went today already, or the clock was set back before that day
    const QDateTime due(today, at);
    return previous.isValid() && previous < due && now >= due;
}

void ProofOfLife::Tick() {
    const QDateTime now = ctx_.now();
    if (!Due(previous_, now, ctx_.time(), LastProofOfLife(ctx_.store))) {
        previous_ = now;
        return;
    }
    const ProofOfLifeContext::Sent sent = ctx_.send ? ctx_.send() : ProofOfLifeContext::Sent::Busy;
    if (sent == ProofOfLifeContext::Sent::Busy)
        return; // the time still counts as not passed: tried at the next tick
    previous_ = now;
    if (const QString why = SetLastProofOfLife(ctx_.store, now.date()); !why.isEmpty() && ctx_.logActivity)
        ctx_.logActivity(QStringLiteral("The day of the daily test page was not saved: %1").arg(why));
}

} // namespace tessaly
