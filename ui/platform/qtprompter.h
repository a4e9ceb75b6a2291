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
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;
    using Prompter::openFileName;
    QString openFileName(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;

    // "Desc (*.a)|*.a|All Files (*.*)|*.*" as Qt's name filters.
    static QStringList nameFilters(const QString& filter);

private:
    QString fileDialog(const FileDialogRequest& request, bool save);
    QString defaultTitle_;
    QWidget* parent_;
};

} // namespace tessaly
