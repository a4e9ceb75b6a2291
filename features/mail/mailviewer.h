#pragma once
// The mail viewer's logic: which message of the inbox is shown, what a
// reply is filled with, and starting the user's own mail program. The
// window (frmMail) shows the fields and forwards its buttons.

#include <QString>
#include <functional>
#include <optional>

namespace tessaly {

class Inbox;
class Prompter;
class Shell;

struct MailViewerContext {
    Inbox& inbox;
    Prompter& prompter;
    // Starts the mail program; none: no program can be started.
    Shell* shell;
    // The stored path of the user's mail program, read when it is started.
    std::function<QString()> emailClientPath;
    // Refreshes the main window's mail display with the inbox's count.
    std::function<void(int total)> updateEmailDisplay;
};

class MailViewer {
public:
    static inline const QString kClientNotFound = QStringLiteral("Email client not found");

    // What the window shows of one message.
    struct Shown {
        int number = 0;
        QString counter; // "Message: 2 of 5"
        QString date;
        QString from;
        QString subject;
        QString to;
        QString body;
    };
    struct Reply {
        QString to;
        QString subject;
        QString from;
    };

    explicit MailViewer(MailViewerContext ctx);

    // The scroll bar's range when the window opens: 1 to the inbox's count.
    int Count() const;
    // Shows message `number` of the inbox: it no longer counts as new, so
    // it will not be paged. Outside the inbox nothing changes (none).
    std::optional<Shown> DisplayMessage(int number);
    // The message shown last, if any.
    const std::optional<Shown>& Current() const { return current_; }
    // A reply to the shown message: to its sender, "RE: " + subject, from
    // the address it was sent to. None when nothing is shown.
    std::optional<Reply> ReplyFields() const;
    // Starts the user's mail program; problems are reported to the user.
    void OpenEmailClient();
    // The window closed: viewing may have changed which messages are new.
    void Closed();

private:
    MailViewerContext ctx_;
    std::optional<Shown> current_;
};

} // namespace tessaly
