#pragma once
// What the paging services need around them while they send: the modem
// routines, the settings, the status window, the activity output and the
// internet connection.

#include "state/mailsecurity.h"

#include <QString>
#include <functional>

namespace tessaly {

class Comm;
class SmtpControl;
class StatusWindow;
struct LiveSettings;

struct PagingContext {
    Comm& comm;
    const LiveSettings& settings;
    StatusWindow& status;
    std::function<void(const QString&)> logActivity;
    // Makes sure the computer is on the internet (dial-up unless the
    // connection is direct); true when it is. None: the caller has seen to it.
    std::function<bool()> connectInternet = {};
    // The outgoing server's security and login as the settings file holds
    // them now; none: "automatic" without a login.
    std::function<MailSecurity()> mailSecurity = {};
};

} // namespace tessaly
