#pragma once
// The Prompter of the desktop program: Qt's message box, input and file dialogs.

#include "platform/prompter.h"

class QMessageBox;
class QWidget;

namespace tessaly {

class QtPrompter : public Prompter {
public:
    // `parent` (the main window) owns the boxes asked for while no other
    // window of the program is active.
    explicit QtPrompter(QString defaultTitle, QWidget* parent = nullptr);
    void setParent(QWidget* parent) { parent_ = parent; }
    // The window a box opened now belongs to: the active modal dialog, else
    // the active window, else the main window. A box stays in front of its
    // owner and does not raise the main window over it.
    QWidget* owner() const;
    using Prompter::messageBox;
    MsgAnswer messageBox(const MessageRequest& request) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;
    using Prompter::openFileName;
    QString openFileName(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;

    // "Desc (*.a)|*.a|All Files (*.*)|*.*" as Qt's name filters.
    static QStringList nameFilters(const QString& filter);
    // The width a box needs for its whole title in the window manager's
    // title bar: the title in a bold font plus room for the bar's icon and
    // buttons, at most the screen's available width.
    static int titleWidth(const QMessageBox& box);

private:
    QString fileDialog(const FileDialogRequest& request, bool save);
    QString defaultTitle_;
    QWidget* parent_;
};

} // namespace tessaly
