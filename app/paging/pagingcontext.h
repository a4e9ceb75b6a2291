#pragma once
// What the paging services need around them while they send: the modem
// routines, the settings, the status window and the activity output.

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
};

} // namespace tessaly
