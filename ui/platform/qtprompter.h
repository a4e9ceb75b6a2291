#pragma once
// The Prompter of the desktop program: Qt's message box, input and file dialogs.

#include "platform/prompter.h"

class QWidget;

namespace tessaly {

class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QString defaultTitle, QWidget* parent = nullptr);
    void setParent(QWidget* parent) { parent_ = parent; }
    using Prompter::messageBox;
    MsgAnswer messageBox(const MessageRequest& request) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override;
    QString openFileName(const QString& title, const QString& directory,
                         const QString& filter) override;
    QString saveFileName(const QString& title, const QString& directory,
                         const QString& filter) override;

private:
    QString defaultTitle_;
    QWidget* parent_;
};

} // namespace tessaly
