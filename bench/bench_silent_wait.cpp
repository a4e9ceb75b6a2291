// Measures what a 60-second wait for a silent server costs: a POP3 client
// connects to a server on 127.0.0.1 that accepts and never says a word, and
// waits out its full time-out. Prints wall time and CPU time (user+system).
//
//   build/bench/bench_silent_wait [seconds]

#include "platform/pop3client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <cstdio>
#include "tests/fakes/cputime.h"

using namespace tessaly;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 60.0;
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);

    RealEventPump pump;
    TcpLinkFactory links;
    SocketRegistry registry;
    Pop3Client pop(pump, links, registry);
    int errorNumber = 0;
    QObject::connect(&pop, &PopControl::error, [&](int n, const QString&) { errorNumber = n; });
    pop.SetServer(QStringLiteral("127.0.0.1"));
    pop.SetPort(silent.serverPort());
    pop.SetTimeout(seconds);

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    const int socket = pop.Connect();
    const double cpu = cpuSeconds() - cpu0;
    std::printf("silent POP3 server: connect returned %d, error %d after %.2f s wall, %.4f s CPU\n", socket,
                errorNumber, wall.elapsed() / 1000.0, cpu);
    return cpu < 1.0 ? 0 : 1;
}
