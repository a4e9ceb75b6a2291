#pragma once
// Remote commands by e-mail: a message whose subject is "tessaly remote"
// carries one command per line in its body. A "password" line unlocks the
// commands that follow it in the same message.

#include "features/remote/countdown.h"

#include <QString>
#include <functional>

namespace tessaly {

class ActivityLog;
class Shell;
class EventPump;
class SessionControl;
struct LiveSettings;

struct RemoteContext {
    EventPump& pump;
    // Schedule and paging flags, check interval, the stored password.
    LiveSettings& settings;
    ActivityLog& activity;
    // Opens a file with the desktop's handler; none: "run" always fails.
    Shell* shell;
    // Powers off or restarts; none: such a request is refused.
    SessionControl* session;
    // The countdown's view (window or console).
    CountdownViewFactory countdownView;
    // Saves the current profile; its errors reach the mail check.
    std::function<void()> saveProfile;
    // Ends the program the way "Exit" does.
    std::function<void()> quit;
    // Writes down what must outlive the program (the inbox marks, so that
    // this message is not obeyed again after the restart) before the
    // computer is asked to power off or restart. May be empty.
    std::function<void()> beforeSessionEnds = {};
};

// One command line taken apart.
struct RemoteLine {
    QString word;      // trimmed, lower case
    QString argument1; // as the syntax gives it (see ParseRemoteLine)
    QString argument2;
};

// No colon: the whole line, trimmed and lower-cased, is the word. A colon
// and no comma after it: the first argument is everything after the colon
// as written. A colon and a comma: the first argument is the text between
// them, trimmed; the second everything after the comma as written.
RemoteLine ParseRemoteLine(const QString& line);

class RemoteCommands {
public:
    static inline const QString kMarker = QStringLiteral("tessaly remote");

    explicit RemoteCommands(RemoteContext ctx);

    // True when the subject, trimmed and in lower case, is the marker.
    static bool IsRemoteSubject(const QString& subject);
    // Examines one message: when its subject is the marker, runs every line
    // of the body (lines end at CR; LF is dropped). Forgets an accepted
    // password first. A save error is passed on to the caller.
    void CheckRemoteMessage(const QString& subject, const QString& body);
    // Interprets one command line.
    void ExecuteRemoteLine(const QString& line);

    bool PasswordAccepted() const { return accepted_; }
    // A "quit", "shutdown" or "reboot" ended the program's work: no further
    // line is carried out.
    bool Ended() const { return ended_; }

private:
    void log(const QString& text);
    // Shutdown and reboot after the countdown.
    void endSession(const RemoteLine& line, bool restart);
    bool passwordMatches(const QString& argument) const;

    RemoteContext ctx_;
    bool accepted_ = false;
    // "Remote Command: Invalid Password" was written for this message.
    bool invalidLogged_ = false;
    bool ended_ = false;
};

} // namespace tessaly
