// CPU cost of a modem wait: dials through the real serial port control on a
// pseudo-terminal whose other end never answers, so the dial waits its full
// 60 seconds, and reports the CPU time the process used meanwhile.
//   bench_silent_dial [seconds-limit-for-the-report]

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "state/terminal.h"
#include "platform/eventpump.h"
#include "platform/headlessprompter.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include "tests/fakes/cputime.h"
#include <unistd.h>

using namespace tessaly;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    MemorySettingsStore store;
    store.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM1"), QString::fromLocal8Bit(ptsname(master)));
    QtSerialControl port(store, kAppTitle);
    port.SetCommPort(1);
    port.SetPortOpen(true);

    RealEventPump pump;
    HeadlessPrompter prompter;
    LiveSettings settings;
    settings.applyFactoryValues();
    bool cancel = false;
    Terminal terminal;
    StatusWindow status(store, QSize(15360, 11520), cancel);
    Comm comm(pump, prompter, terminal, status, settings, cancel);

    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    const int state = comm.DialService(port, QStringLiteral("5551234"));
    const double used = cpuSeconds() - before;
    std::printf("silent dial: state %d after %.1f s wall, %.4f s CPU\n", state, wall.elapsed() / 1000.0, used);
    port.SetPortOpen(false);
    ::close(master);
    return 0;
}
