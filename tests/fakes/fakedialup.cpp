#include "tests/fakes/fakedialup.h"

#include "ground/tessalyerror.h"

namespace tessaly {

void FakeDialupControl::check() const {
    if (notInstalled)
        throw TessalyError(NotInstalled, QStringLiteral("ActiveX component can't create object"));
}

void FakeDialupControl::Dial() {
    check();
    calls << QStringLiteral("dial %1 %2 %3").arg(EntryName(), User(), Password());
    double at = 0;
    const QString entry = EntryName();
    for (const Step& step : script) {
        at += step.delay;
        pending_ << pump_.schedule(at, [this, step, entry] {
            if (step.state == StateConnected && step.error < 601 && !active.contains(entry))
                active << entry;
            emit stateChanged(step.state, step.error);
        });
    }
}

void FakeDialupControl::HangUp() {
    check();
    calls << QStringLiteral("hangup");
    for (int id : pending_)
        pump_.cancel(id);
    pending_.clear();
    active.clear();
}

} // namespace tessaly
