#pragma once
// A Prompter for tests: answers are queued in advance and every prompt is
// recorded, so a test can assert the exact text, buttons and icon.

#include "platform/prompter.h"

#include <QList>
#include <QStringList>
#include <deque>

namespace tessaly {

class ScriptedPrompter : public Prompter {
public:
    // The next message box gets this answer; without one it gets its default.
    void queueAnswer(MsgAnswer answer) { answers_.push_back(answer); }
    void queueInput(std::optional<QString> text) { inputs_.push_back(std::move(text)); }
    // The next file dialog returns this path; an empty path is a cancel.
    void queueFileName(const QString& path) { files_.push_back(path); }

    using Prompter::messageBox;
    MsgAnswer messageBox(const MessageRequest& request) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override;
    using Prompter::openFileName;
    QString openFileName(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;

    struct FileDialog {
        bool save = false;
        FileDialogRequest request;
    };

    const QList<MessageRequest>& messages() const { return messages_; }
    QStringList messageTexts() const;
    const QStringList& inputPrompts() const { return inputPrompts_; }
    const QList<FileDialog>& fileDialogs() const { return fileDialogs_; }
    void clear() { messages_.clear(); inputPrompts_.clear(); fileDialogs_.clear(); }

private:
    QString nextFile();

    std::deque<MsgAnswer> answers_;
    std::deque<std::optional<QString>> inputs_;
    std::deque<QString> files_;
    QList<MessageRequest> messages_;
    QStringList inputPrompts_;
    QList<FileDialog> fileDialogs_;
};

} // namespace tessaly
