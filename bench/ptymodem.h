#pragma once
// The modem routines on the real serial port control, over a pseudo-terminal
// whose other end the benchmark holds (`master`): what the modem-wait
// benchmarks measure. `ok` is false when no pseudo-terminal could be made.

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/terminal.h"
#include "features/paging/comm.h"
#include "platform/eventpump.h"
#include "platform/headlessprompter.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"

#include <fcntl.h>
#include <unistd.h>

namespace tessaly {

struct PtyModem {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    bool ok = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0;
    MemorySettingsStore store;
    QtSerialControl port{store, kAppTitle};
    RealEventPump pump;
    HeadlessPrompter prompter;
    LiveSettings settings;
    bool cancel = false;
    Terminal terminal;
    StatusWindow status{store, QSize(15360, 11520), cancel};
    Comm comm{pump, prompter, terminal, status, settings, cancel};

    PtyModem() {
        settings.applyFactoryValues();
        if (!ok)
            return;
        store.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM1"),
                    QString::fromLocal8Bit(ptsname(master)));
        port.SetCommPort(1);
        port.SetPortOpen(true);
    }
    // The other end goes away, as a modem pulled out does.
    void HangUp() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    ~PtyModem() { HangUp(); }
};

} // namespace tessaly
