#pragma once
// Remote commands by e-mail: a message whose subject is "tessaly remote"
// carries one command per line in its body. A "password" line unlocks the
// commands that follow it in the same message.
//
// Before any line is read the message must pass these tests, each failure
// giving one activity line that names the sender: remote control is set
// up (a password and at least one allowed sender), the sender is allowed,
// the mailbox was read over TLS (or in clear by the account's explicit
// choice), wrong passwords have not closed remote control, the Date is
// within the last 24 hours and at most 10 minutes ahead, and the same
// sender, date and commands were not examined before.

#include "features/remote/countdown.h"
#include "state/remotesafety.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

namespace tessaly {

class ActivityLog;
class Shell;
class EventPump;
class SessionControl;
class SettingsStore;
class RemoteGuard;
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
    // The settings file with the allowed senders and the run folder; none:
    // no sender is allowed.
    const SettingsStore* store = nullptr;
    // The file that remembers the messages examined and the wrong
    // passwords (RemoteGuard); empty: no command message is obeyed.
    QString statePath = {};
    // Puts a text on the status window's status line. May be empty.
    std::function<void(const QString&)> showStatus = {};
};

// A command message as the mail check hands it over.
struct RemoteMail {
    QString subject;
    QString from;     // the From header's value
    QString date;     // the Date header's value
    QString commands; // the body after the header block
    MailTransport transport = MailTransport::Unknown;
};

// The message as the interpreter weighs it: From and Date from its own
// header block (`header`, the lines before the first empty one), each
// taken only when it occurs exactly once, folded lines joined.
RemoteMail RemoteMailOf(const QString& subject, const QString& header, const QString& commands,
                        MailTransport transport);

// The file "run" may open for `argument`: inside `folder` once links and
// ".." are resolved, never a URL. Empty `path` with the reason in `refusal`.
struct RunTarget {
    QString path;
    QString refusal;
};
RunTarget ResolveRunTarget(const QString& argument, const QString& folder);

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
    // Examines one message: when its subject is the marker and it passes
    // the tests above, runs every line of the commands (lines end at CR; LF
    // is dropped) until the third wrong password. Forgets an accepted
    // password first. A save error is passed on to the caller.
    void CheckRemoteMessage(const RemoteMail& mail);
    // Interprets one command line.
    void ExecuteRemoteLine(const QString& line);

    bool PasswordAccepted() const { return accepted_; }
    // Until when remote commands are refused after wrong passwords; none
    // when they are not (or the state cannot be read).
    std::optional<QDateTime> RefusedUntil() const;
    static QString RefusalText(const QDateTime& until);
    // A "quit", "shutdown" or "reboot" ended the program's work: no further
    // line is carried out.
    bool Ended() const { return ended_; }

private:
    void log(const QString& text);
    // Shutdown and reboot after the countdown.
    void endSession(const RemoteLine& line, bool restart);
    bool passwordMatches(const QString& argument) const;
    // Why the message is not obeyed; empty when it may be. Remembers its
    // digest in `guard` when it may.
    QString refusal(const RemoteMail& mail, const QString& sender, RemoteGuard& guard);
    void run(const RemoteLine& line);
    // Notes a message that had wrong passwords.
    void noteFailure(RemoteGuard& guard);

    RemoteContext ctx_;
    bool accepted_ = false;
    // Wrong "password" lines in this message; the third ends it.
    int wrongLines_ = 0;
    bool ended_ = false;
};

} // namespace tessaly
