#pragma once
// The real serial port control on the modem simulator's pseudo-terminal,
// with the modem routines and a paging context around it, wired as the
// program wires its port: terminal lines to the transcript, device faults
// to the activity log (here the list `log`).

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/terminal.h"
#include "features/paging/comm.h"
#include "features/paging/pagingcontext.h"
#include "platform/eventpump.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"
#include "tests/fakes/scriptedprompter.h"

#include <memory>

namespace tessaly::testing {

struct ModemLine {
    RealEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    std::unique_ptr<QtSerialControl> port;
    LiveSettings settings;
    bool cancel = false;
    Terminal terminal;
    StatusWindow status{store, QSize(15360, 11520), cancel};
    Comm comm{pump, prompter, terminal, status, settings, cancel};
    QStringList log;
    PagingContext ctx{comm, settings, status, [this](const QString& l) { log << l; }};

    // COM`com` opens `device`; one attempt per call or page.
    ModemLine(const QString& device, int com) {
        store.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM%1").arg(com), device);
        port = std::make_unique<QtSerialControl>(store, kAppTitle);
        settings.applyFactoryValues();
        settings.retries = 0;
        QObject::connect(port.get(), &SerialControl::terminalLine,
                         [this](const QString& l) { terminal.Append(l + QLatin1Char('\r')); });
        QObject::connect(port.get(), &SerialControl::deviceFault, [this](const QString& l) { log << l; });
    }

    // The activity lines without the one about line settings the
    // pseudo-terminal cannot take (a real modem takes them).
    QStringList pagingLines() const {
        QStringList out;
        for (const QString& l : log)
            if (!l.contains(QLatin1String(" refused ")))
                out << l;
        return out;
    }
};

} // namespace tessaly::testing
