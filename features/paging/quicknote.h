#pragma once
// The quick note's logic: one free-form e-mail typed by the user, sent with
// the window's own mail-sending control over the internet connection. The
// window (frmQuickNote) only holds the fields and forwards "Send".

#include "features/paging/cpager.h"
#include "features/paging/smtpevents.h"
#include "state/mailsecurity.h"

#include <QString>

namespace tessaly {

class ActivityLog;
class Connection;
class EventPump;
class Prompter;
class SmtpControl;
class StatusWindow;
struct AppState;

// What the quick note works with.
struct QuickNoteContext {
    EventPump& pump;
    Prompter& prompter;
    AppState& state;
    StatusWindow& status;
    ActivityLog& activity;
    PagerList& pagers;
    Connection& connection;
    // Where the note's control reports server lines and socket errors.
    SmtpEventSinks sinks;
    // The outgoing server's security and login; none: "automatic" without a login.
    std::function<MailSecurity()> mailSecurity = {};
};

class QuickNote {
public:
    static constexpr int kAttempts = 4;
    // Program identification the note's control puts in every mail.
    static inline const QString kMailer = QStringLiteral("Tessaly v1.1");
    static inline const QString kReplyToPrompt = QStringLiteral("Enter your reply-to email address...");

    // `smtp` is the window's own control; it must outlive this object.
    QuickNote(QuickNoteContext ctx, SmtpControl& smtp);

    // Prepares the control from the settings and returns the text for
    // "Reply-To:" (pager 1's FromAddress).
    QString Load();

    struct Note {
        QString to;
        QString subject;
        QString replyTo;
        QString body;
    };
    enum class Outcome {
        Sent,         // the server took the note
        Failed,       // four attempts failed
        NoConnection, // the dial-up failed
        Cancelled,    // cancelled before sending
        NoSender,     // no reply-to address was given
    };
    Outcome Send(const Note& note);
    // Whether the window closes after this outcome. Only a sent note closes
    // it: after a failure the typed note stays for another try.
    static bool ClosesWindow(Outcome o) { return o == Outcome::Sent; }

private:
    QString pagerFromAddress() const;
    void status(const QString& text);

    QuickNoteContext ctx_;
    SmtpControl& smtp_;
};

} // namespace tessaly
