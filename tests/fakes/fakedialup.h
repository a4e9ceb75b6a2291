#pragma once
// A dial-up service with scripted states on the virtual clock.

#include "platform/dialupcontrol.h"
#include "tests/fakes/virtualeventpump.h"

#include <QHash>
#include <QList>

namespace tessaly {

class FakeDialupControl : public DialupControl {
    Q_OBJECT
public:
    struct Step {
        double delay; // seconds after the previous step
        int state;
        int error;
    };

    explicit FakeDialupControl(VirtualEventPump& pump) : pump_(pump) {}

    // Every member raises the "not installed" error.
    bool notInstalled = false;
    // Entries and their stored credentials.
    QHash<QString, Credentials> entries;
    QStringList active;
    // States reported after each Dial(); a step with state StateConnected
    // makes the entry active. Default: ports, device, authenticate, connected.
    QList<Step> script{{0.5, StateOpenPort, 0}, {1.0, StateConnectDevice, 0},
                       {2.0, StateAuthenticate, 0}, {1.0, StateConnected, 0}};
    // What was asked, in order: "dial NAME user password", "hangup".
    QStringList calls;

    QStringList ActiveConnections() override {
        check();
        return active;
    }
    QStringList EntryList() override {
        check();
        QStringList names = entries.keys();
        names.sort();
        return names;
    }
    Credentials EntryCredentials(const QString& entry) override {
        check();
        return entries.value(entry);
    }
    void Dial() override;
    void HangUp() override;

private:
    void check() const;
    VirtualEventPump& pump_;
    QList<int> pending_;
};

} // namespace tessaly
