#pragma once
// Helpers for integration tests that start real servers on 127.0.0.1.

#include "platform/eventpump.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include "tests/fakes/cputime.h"

namespace tessaly::testing {

// A port nobody listens on right now.
inline quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A free port below 32768, for settings that hold a port in 16 bits (the
// system hands out ephemeral ports above that).
// With `above`, only ports beyond it (a second port of one server).
inline quint16 freeLowPort(quint16 above = 0) {
    const int first = 20000 + QCoreApplication::applicationPid() % 5000;
    for (int p = above >= first ? above + 7 : first; p < 32000; p += 7) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, static_cast<quint16>(p)))
            return static_cast<quint16>(p);
    }
    return 0;
}

// Waits (in the event loop) until something accepts connections on the port.
inline bool waitForPort(EventPump& pump, quint16 port, double seconds) {
    const QDateTime deadline = pump.now().addMSecs(static_cast<qint64>(seconds * 1000));
    while (pump.now() < deadline) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        bool connected = false;
        QObject::connect(&probe, &QTcpSocket::connected, [&] { connected = true; });
        bool failed = false;
        QObject::connect(&probe, &QTcpSocket::errorOccurred, [&] { failed = true; });
        pump.waitUntil([&] { return connected || failed; }, 1.0, nullptr);
        if (connected)
            return true;
        pump.pause(0.1, nullptr);
    }
    return false;
}

// A peer program, killed when the test ends.
class PeerProcess {
public:
    ~PeerProcess() { stop(); }
    QProcess& process() { return process_; }
    void start(const QString& program, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) { // only at the end of a test
                process_.kill();
                process_.waitForFinished(1000);
            }
        }
    }

private:
    QProcess process_;
};

// Starts the Python tool `script` of tests/tools with `arguments` and
// returns the port it announces on its first line ("PORT n"); 0 when it
// did not start.
inline quint16 startPortTool(PeerProcess& peer, EventPump& pump, const QString& script,
                             const QStringList& arguments = {}) {
    peer.start(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral(TESSALY_TOOLS_DIR "/") + script} + arguments);
    QProcess& p = peer.process();
    pump.waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 15, nullptr);
    const QByteArray line = p.readLine().trimmed();
    return line.startsWith("PORT ") ? static_cast<quint16>(line.mid(5).toUInt()) : 0;
}

// tests/tools/http_test_server.py with `extra` arguments; its port.
inline quint16 startHttpTestServer(PeerProcess& peer, EventPump& pump, const QStringList& extra = {}) {
    return startPortTool(peer, pump, QStringLiteral("http_test_server.py"), extra);
}

using tessaly::cpuSeconds;

} // namespace tessaly::testing
