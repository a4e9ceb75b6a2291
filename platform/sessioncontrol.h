#pragma once
// Ending the user's work on the computer: power off or restart. The real one
// asks systemd-logind over the system D-Bus; tests use a recording fake, so
// no test ever powers anything off.

#include <QString>

namespace tessaly {

class SessionControl {
public:
    enum class Ending { PowerOff, Reboot };
    virtual ~SessionControl() = default;
    // Asks the system to power off or restart. Empty when the request was
    // accepted, otherwise the system's reason for refusing it.
    virtual QString EndSession(Ending ending) = 0;
};

// org.freedesktop.login1.Manager PowerOff / Reboot, without asking the user
// to authenticate (a request the policy does not allow is refused).
class LogindSessionControl : public SessionControl {
public:
    QString EndSession(Ending ending) override;
};

} // namespace tessaly
