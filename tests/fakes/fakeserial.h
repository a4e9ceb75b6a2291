#pragma once
// A serial line with a scripted modem on the virtual clock. Each command
// the program sends (text up to a CR) is matched against the rules in
// order; the first match answers after its delay. Unmatched commands get
// no answer.

#include "platform/serialcontrol.h"
#include "tests/fakes/virtualeventpump.h"

#include <QRegularExpression>
#include <functional>
#include <optional>

namespace tessaly {

class FakeSerialControl : public SerialControl {
    Q_OBJECT
public:
    struct Rule {
        QRegularExpression command; // matched against the command without its CR
        QByteArray reply;
        double delay = 0.2;
    };

    explicit FakeSerialControl(VirtualEventPump& pump) : pump_(pump) {}

    // Ports that open; others raise PortUnavailable.
    QList<int> availablePorts{1, 2, 3, 4};
    // Echo each character back, as a modem in command mode does.
    bool echo = false;
    QList<Rule> rules;
    // Consulted before the rules: an answer for a command, or nullopt to
    // leave it to the rules (a terminal whose answers depend on the call).
    std::function<std::optional<QByteArray>(const QString& command)> script;
    // Everything written with Output, in order.
    QByteArray written;
    // Settings in force at each opening.
    QStringList openedWith;

    // Adds a rule; the usual Hayes answers are a line each.
    void answer(const QString& pattern, const QByteArray& reply, double delay = 0.2) {
        rules << Rule{QRegularExpression(pattern), reply, delay};
    }
    // Data arriving by itself after `delay` seconds (a ring, a lost carrier).
    void inject(const QByteArray& bytes, double delay);
    // The device hangs up `delay` seconds from now (if the port is open
    // then), as the real control sees it: the port closes and the fault is
    // reported on both signals.
    void hangUp(double delay);

    bool PortOpen() const override { return open_; }
    void SetPortOpen(bool open) override;
    int InBufferCount() const override { return static_cast<int>(inbox_.size()); }
    void SetInBufferCount(int count) override;
    QString Input() override;
    void SetOutput(const QString& text) override;

private:
    VirtualEventPump& pump_;
    bool open_ = false;
    int session_ = 0;
    QByteArray inbox_;
    QByteArray command_;
};

} // namespace tessaly
