#pragma once
// tests/tools/latency_proxy.py started for a test or benchmark: a TCP relay
// on 127.0.0.1 that delays each direction by a fixed time.

#include "tests/integration/peers.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tessaly::testing {

class LatencyProxy {
public:
    // Relays to 127.0.0.1:targetPort, `oneWayMs` in each direction.
    bool start(quint16 targetPort, double oneWayMs, quint16 port = 0) {
        process_.process().setProcessChannelMode(QProcess::SeparateChannels);
        process_.process().start(QStringLiteral("/usr/bin/python3"),
                                 {QStringLiteral(TESSALY_TOOLS_DIR "/latency_proxy.py"), QStringLiteral("--target-port"),
                                  QString::number(targetPort), QStringLiteral("--delay-ms"), QString::number(oneWayMs),
                                  QStringLiteral("--port"), QString::number(port)});
        if (!process_.process().waitForStarted(10000))
            return false;
        // One JSON line with the port; the tool prints it once it listens.
        QByteArray line;
        while (!line.contains('\n') && process_.process().waitForReadyRead(10000))
            line += process_.process().readAllStandardOutput();
        port_ = static_cast<quint16>(QJsonDocument::fromJson(line.trimmed()).object().value(QStringLiteral("port")).toInt());
        return port_ != 0;
    }
    quint16 port() const { return port_; }
    void stop() { process_.stop(); }

private:
    PeerProcess process_;
    quint16 port_ = 0;
};

} // namespace tessaly::testing
