#pragma once
// The modem and paging-terminal simulator (tests/tools/modemsim.py) as a
// child process of a test: its pseudo-terminal device and its summary.

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

namespace tessaly::testing {

class ModemSimulator {
public:
    ~ModemSimulator() { stop(); }

    static QString python() {
        return QFile::exists(QStringLiteral("/usr/bin/python3"))
                   ? QStringLiteral("/usr/bin/python3")
                   : QStandardPaths::findExecutable(QStringLiteral("python3"));
    }

    // Starts the simulator with `options`; false when it could not run.
    bool start(const QStringList& options = {}) {
        const QString py = python();
        if (py.isEmpty())
            return false;
        process_.start(py, QStringList{QStringLiteral(TESSALY_TOOLS_DIR "/modemsim.py")} + options);
        if (!process_.waitForStarted(10000) || !process_.waitForReadyRead(10000))
            return false;
        device_ = QJsonDocument::fromJson(process_.readLine()).object().value(QStringLiteral("device")).toString();
        return !device_.isEmpty();
    }
    // The pseudo-terminal the program opens as its serial port.
    QString device() const { return device_; }

    // Everything the simulator recorded so far.
    QJsonObject summary() {
        process_.write("summary\n");
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (process_.canReadLine() || process_.waitForReadyRead(1000)) {
                const QByteArray line = process_.readLine();
                if (line.startsWith("{\"summary\""))
                    return QJsonDocument::fromJson(line).object().value(QStringLiteral("summary")).toObject();
            }
        }
        return {};
    }
    // "pager id:message" of every block whose checksum the terminal verified.
    QStringList goodBlocks() {
        QStringList out;
        for (const auto& b : summary().value(QStringLiteral("blocks")).toArray()) {
            const QJsonObject o = b.toObject();
            if (o.value(QStringLiteral("checksum_ok")).toBool())
                out << o.value(QStringLiteral("pager_id")).toString() + QLatin1Char(':') +
                           o.value(QStringLiteral("message")).toString();
        }
        return out;
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel(); // the simulator ends when its input closes
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }

private:
    QProcess process_;
    QString device_;
};

} // namespace tessaly::testing
