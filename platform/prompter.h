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

// A common file dialog. `filter` lists pairs of description and pattern
// separated by "|" ("Tessaly Files (*.dat)|*.dat|All Files (*.*)|*.*") or is
// a single pattern ("*.dat"). A name typed without extension gets
// `defaultExtension`.
struct FileDialogRequest {
    QString title;
    QString directory;
    QString filter;
    QString defaultExtension;
    QString fileName; // the name the dialog starts with
};

// The answer a prompt gets when nobody can answer it: the first button,
// except that a Retry/Cancel box is cancelled so nothing retries forever.
MsgAnswer defaultAnswer(MsgButtons buttons);
QString buttonsText(MsgButtons buttons);

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MsgAnswer messageBox(const MessageRequest& request) = 0;
    MsgAnswer messageBox(const QString& text, MsgButtons buttons = MsgButtons::OK, MsgIcon icon = MsgIcon::None,
                         const QString& title = {}) {
        return messageBox(MessageRequest{text, buttons, icon, title});
    }
    // nullopt when the user cancelled.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    // Empty text when the user cancelled.
    virtual QString openFileName(const FileDialogRequest& request) = 0;
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
    QString openFileName(const QString& title, const QString& directory, const QString& filter) {
        return openFileName(FileDialogRequest{title, directory, filter, {}, {}});
    }
};

} // namespace tessaly
