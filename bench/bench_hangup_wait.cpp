// CPU cost of waiting on a serial device that has hung up: the real serial
// port control opens a pseudo-terminal, the other end goes away (as a USB
// modem pulled out mid-page does), and the modem routines then wait for an
// answer with a 10-second time-out. The measured window is always the full
// period (default 10 s): the wait itself, then a pause for whatever is left,
// so the figure is the CPU used per period of waiting whether the wait ends
// at the hang-up or runs out its time-out.
//   bench_hangup_wait [seconds]


#include "bench/ptymodem.h"
#include "tests/fakes/cputime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

using namespace tessaly;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 10.0;
    PtyModem modem;
    if (!modem.ok) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    QtSerialControl& port = modem.port;
    Comm& comm = modem.comm;

    modem.HangUp();

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
