// CPU cost of waiting on a serial device that has hung up: the real serial
// port control opens a pseudo-terminal, the other end goes away (as a USB
// modem pulled out mid-page does), and the modem routines then wait for an
// answer with a 10-second time-out. The measured window is always the full
// period (default 10 s): the wait itself, then a pause for whatever is left,
// so the figure is the CPU used per period of waiting whether the wait ends
// at the hang-up or runs out its time-out.
//   bench_hangup_wait [seconds]

#include "state/appinfo.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "state/terminal.h"
#include "platform/eventpump.h"
#include "platform/headlessprompter.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"
#include "tests/fakes/cputime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace tessaly;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 10.0;
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

    ::close(master); // the device hangs up

    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    QString reply;
    bool found = false;
    comm.WaitForText(port, QStringLiteral("OK"), seconds, found, reply);
    const double waitEnded = wall.elapsed() / 1000.0;
    const bool closed = !port.PortOpen();
    comm.Pause(seconds - waitEnded);
    const double used = cpuSeconds() - before;
    const double perTen = used * 10.0 / std::max(seconds, 0.001);
    std::printf("hung-up device: wait ended after %.2f s (port %s), %.4f s CPU over %.1f s = %.4f s CPU per 10 s\n",
                waitEnded, closed ? "closed" : "still open", used, wall.elapsed() / 1000.0, perTen);
    return perTen < 0.05 ? 0 : 1;
}
