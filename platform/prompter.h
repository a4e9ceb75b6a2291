#pragma once
// Questions to the user: message boxes, input boxes, file dialogs. The core
// never opens a window itself; it asks its Prompter.

#include <QString>
#include <optional>

namespace tessaly {

enum class MsgButtons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MsgIcon { None, Critical, Question, Warning, Information };
// The numbering of the answers is the classic one (OK = 1 ... No = 7).
enum class MsgAnswer { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageRequest {
    QString text;
    MsgButtons buttons = MsgButtons::OK;
    MsgIcon icon = MsgIcon::None;
    QString title; // empty: the application title
};

// The answer a prompt gets when nobody can answer it: the first button,
// except that a Retry/Cancel box is cancelled so nothing retries forever.
MsgAnswer defaultAnswer(MsgButtons buttons);
QString buttonsText(MsgButtons buttons);

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MsgAnswer messageBox(const MessageRequest& request) = 0;
    MsgAnswer messageBox(const QString& text, MsgButtons buttons = MsgButtons::OK,
                         MsgIcon icon = MsgIcon::None, const QString& title = {}) {
        return messageBox(MessageRequest{text, buttons, icon, title});
    }
    // nullopt when the user cancelled.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    // Empty text when the user cancelled.
    virtual QString openFileName(const QString& title, const QString& directory,
                                 const QString& filter) = 0;
    virtual QString saveFileName(const QString& title, const QString& directory,
                                 const QString& filter) = 0;
};

} // namespace tessaly
