#pragma once
// What the program's features share while it runs: the live settings, the
// terminal transcript and the run's flags, plus the activity output every
// feature writes to. The program owns one AppState and hands it (with the
// few other objects each feature uses) to its features.

#include "state/livesettings.h"
#include "state/terminal.h"

#include <QString>

namespace tessaly {

class CLogFile;

// Where activity lines go: the activity box and the activity log file.
class ActivityLog {
public:
    virtual ~ActivityLog() = default;
    // Appends the text with date and time to the activity box and writes it
    // to the activity log.
    virtual void LogActivity(const QString& text) = 0;
    // The open activity log file; none before start-up has opened it.
    virtual CLogFile* Log() = 0;
};

struct AppState {
    LiveSettings settings;
    Terminal terminal;
    // The user's Cancel during a check, a dial-up or a page.
    bool cancel = false;
    // Set when a socket error was reported during the mail check.
    bool internetError = false;
    // A stored setting changed since the profile was loaded or saved.
    bool profileChanged = false;
    // The dial-up component turned out to be missing during the run.
    bool dialUpMissing = false;
    // The last check found new mail (drives the tray picture and blinking).
    bool newMailFlag = false;
};

} // namespace tessaly
