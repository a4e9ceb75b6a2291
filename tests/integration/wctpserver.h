#pragma once
// The WCTP carrier simulator (tests/tools/wctp_server.py) on 127.0.0.1 with
// a port of its own choosing; every request it takes lands in a JSON-lines
// log, and its answer mode can be switched while it runs.

#include "tests/integration/peers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace tessaly::testing {

class WctpServer {
public:
    // `tls`: certificate and key files to serve HTTPS.
    bool start(EventPump& pump, const QStringList& tls = {}) {
        QStringList args{QStringLiteral("--log"), logPath()};
        if (!tls.isEmpty())
            args << QStringLiteral("--tls") << tls;
        port_ = startPortTool(process_, pump, QStringLiteral("wctp_server.py"), args);
        return port_ != 0;
    }
    quint16 port() const { return port_; }
    // "success", "failure CODE TEXT", "slow", "http500", "close" or "big"; "delay N"
    // sets the slow mode's delay. True once the simulator took the line.
    bool control(EventPump& pump, const QString& line) {
        QProcess& p = process_.process();
        p.write(line.toUtf8() + '\n');
        pump.waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 10, nullptr);
        return p.readLine().trimmed() == "OK";
    }
    bool setMode(EventPump& pump, const QString& mode) { return control(pump, QStringLiteral("mode ") + mode); }
    QList<QJsonObject> received() const {
        QList<QJsonObject> out;
        QFile f(logPath());
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    out << QJsonDocument::fromJson(line).object();
        return out;
    }
    void stop() { process_.stop(); }

private:
    QString logPath() const { return dir_.path() + QStringLiteral("/requests.jsonl"); }
    QTemporaryDir dir_;
    quint16 port_ = 0;
    PeerProcess process_;
};

} // namespace tessaly::testing
