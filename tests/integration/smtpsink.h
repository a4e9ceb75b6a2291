#pragma once
// A real SMTP server for tests (aiosmtpd, tests/tools/smtp_sink.py) on
// 127.0.0.1; it writes every message it accepts to a JSON-lines file.

#include "tests/integration/peers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace tessaly::testing {

class SmtpSinkServer {
public:
    static QString python() { return QStringLiteral("/usr/bin/python3"); }
    // True when the Python SMTP library is there.
    static bool available() {
        QProcess probe;
        probe.start(python(), {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
        return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }
    // Listens on `port` (a free one when 0). `tls`: certificate and key
    // files for STARTTLS, then optionally "user:password" to require AUTH.
    bool start(EventPump& pump, quint16 port = 0, const QStringList& tls = {}) {
        port_ = port ? port : freePort();
        process_.start(python(), QStringList{QStringLiteral(TESSALY_TOOLS_DIR "/smtp_sink.py"), QString::number(port_),
                                             dir_.path() + QStringLiteral("/received.jsonl")} + tls);
        return waitForPort(pump, port_, 15);
    }
    quint16 port() const { return port_; }
    // The messages received so far, oldest first.
    QList<QJsonObject> received() const {
        QList<QJsonObject> out;
        QFile f(dir_.path() + QStringLiteral("/received.jsonl"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    out << QJsonDocument::fromJson(line).object();
        return out;
    }
    // Forgets what was received so far.
    void Clear() { QFile::remove(dir_.path() + QStringLiteral("/received.jsonl")); }
    void stop() { process_.stop(); }

private:
    QTemporaryDir dir_;
    quint16 port_ = 0;
    PeerProcess process_;
};

} // namespace tessaly::testing
