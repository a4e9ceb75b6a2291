#include "tests/fakes/fakeserial.h"

#include "ground/tessalyerror.h"

namespace tessaly {

void FakeSerialControl::inject(const QByteArray& bytes, double delay) {
    const int session = session_;
    pump_.schedule(delay, [this, bytes, session] {
        if (open_ && session == session_)
            inbox_ += bytes;
    });
}

void FakeSerialControl::hangUp(double delay) {
    pump_.schedule(delay, [this] {
        if (!open_)
            return;
        SetPortOpen(false);
        reportLineLost(QStringLiteral("/dev/fake"), QStringLiteral("hang-up"));
    });
}

void FakeSerialControl::SetPortOpen(bool open) {
    if (!open) {
        open_ = false;
        ++session_;
        inbox_.clear();
        command_.clear();
        return;
    }
    if (open_)
        throw TessalyError(PortAlreadyOpen, QStringLiteral("Port already open"));
    if (!availablePorts.contains(CommPort()))
        throw TessalyError(PortUnavailable, QStringLiteral("Port unavailable: COM%1").arg(CommPort()));
    ParseSettings(Settings());
    openedWith << Settings();
    open_ = true;
    ++session_;
}

void FakeSerialControl::SetInBufferCount(int count) {
    if (count != 0)
        throw TessalyError(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    inbox_.clear();
}

QString FakeSerialControl::Input() {
    if (!open_)
        throw TessalyError(PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
    return QString::fromLatin1(std::exchange(inbox_, {}));
}

void FakeSerialControl::SetOutput(const QString& text) {
    if (!open_)
        throw TessalyError(PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
    const QByteArray bytes = text.toLatin1();
    written += bytes;
    if (echo)
        inject(bytes, 0.01);
    for (char c : bytes) {
        if (c != '\r') {
            command_ += c;
            continue;
        }
        const QString command = QString::fromLatin1(std::exchange(command_, {}));
        if (script) {
            if (const std::optional<QByteArray> reply = script(command)) {
                inject(*reply, 0.3);
                continue;
            }
        }
        for (const Rule& rule : rules) {
            if (rule.command.match(command).hasMatch()) {
                inject(rule.reply, rule.delay);
                break;
            }
        }
    }
}

} // namespace tessaly
