// CPU cost of a modem wait: dials through the real serial port control on a
// pseudo-terminal whose other end never answers, so the dial waits its full
// 60 seconds, and reports the CPU time the process used meanwhile.
//   bench_silent_dial [seconds-limit-for-the-report]


#include "bench/ptymodem.h"
#include "tests/fakes/cputime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

using namespace tessaly;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PtyModem modem;
    if (!modem.ok) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    QtSerialControl& port = modem.port;
    Comm& comm = modem.comm;

    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    const int state = comm.DialService(port, QStringLiteral("5551234"));
    const double used = cpuSeconds() - before;
    std::printf("silent dial: state %d after %.1f s wall, %.4f s CPU\n", state, wall.elapsed() / 1000.0, used);
    port.SetPortOpen(false);
    return 0;
}
