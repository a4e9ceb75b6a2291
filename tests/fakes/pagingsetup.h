#pragma once
// A paging service as the tests use it: a terminal reached at 1200 baud,
// even parity, 7 data bits, 1 stop bit; and the objects a paging run uses.

#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagingcontext.h"
#include "platform/settingsstore.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/terminal.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

namespace tessaly {

inline void setUpTapService(CPagerService& service, const QString& phone, int port,
                            const QString& init = QStringLiteral("AT&F")) {
    service.SetBaud(QStringLiteral("1200"));
    service.SetParity(QStringLiteral("EVEN"));
    service.SetDataBits(QStringLiteral("7"));
    service.SetStopBits(QStringLiteral("1"));
    service.SetCommPort(static_cast<std::int16_t>(port));
    service.SetInitstring(init);
    service.SetPhone(phone);
}

// The objects a paging run uses, wired as the program wires them, on the
// virtual clock, with the factory settings; activity lines collect in `log`.
struct PagingRig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    LiveSettings settings;
    bool cancel = false;
    Terminal terminal;
    StatusWindow status{store, QSize(15360, 11520), cancel};
    Comm comm{pump, prompter, terminal, status, settings, cancel};
    QStringList log;
    PagingContext ctx{comm, settings, status, [this](const QString& line) { log << line; }};

    PagingRig() { settings.applyFactoryValues(); }
};

} // namespace tessaly
