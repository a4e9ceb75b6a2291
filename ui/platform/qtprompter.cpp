#include "ui/platform/qtprompter.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace tessaly {

QtPrompter::QtPrompter(QString defaultTitle, QWidget* parent)
    : defaultTitle_(std::move(defaultTitle)), parent_(parent) {}

MsgAnswer QtPrompter::messageBox(const MessageRequest& request) {
    QMessageBox box(parent_);
    box.setWindowTitle(request.title.isEmpty() ? defaultTitle_ : request.title);
    box.setText(request.text);
    switch (request.icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    using SB = QMessageBox::StandardButton;
    QMessageBox::StandardButtons buttons;
    switch (request.buttons) {
    case MsgButtons::OK: buttons = SB::Ok; break;
    case MsgButtons::OKCancel: buttons = SB::Ok | SB::Cancel; break;
    case MsgButtons::AbortRetryIgnore: buttons = SB::Abort | SB::Retry | SB::Ignore; break;
    case MsgButtons::YesNoCancel: buttons = SB::Yes | SB::No | SB::Cancel; break;
    case MsgButtons::YesNo: buttons = SB::Yes | SB::No; break;
    case MsgButtons::RetryCancel: buttons = SB::Retry | SB::Cancel; break;
    }
    box.setStandardButtons(buttons);
    switch (box.exec()) {
    case SB::Ok: return MsgAnswer::OK;
    case SB::Cancel: return MsgAnswer::Cancel;
    case SB::Abort: return MsgAnswer::Abort;
    case SB::Retry: return MsgAnswer::Retry;
    case SB::Ignore: return MsgAnswer::Ignore;
    case SB::Yes: return MsgAnswer::Yes;
    case SB::No: return MsgAnswer::No;
    default:
        // Closed with the window's close box: the box's escape answer.
        return request.buttons == MsgButtons::OK ? MsgAnswer::OK : MsgAnswer::Cancel;
    }
}

std::optional<QString> QtPrompter::inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, title.isEmpty() ? defaultTitle_ : title,
                                               prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtPrompter::openFileName(const QString& title, const QString& directory,
                                 const QString& filter) {
    return QFileDialog::getOpenFileName(parent_, title, directory, filter);
}

QString QtPrompter::saveFileName(const QString& title, const QString& directory,
                                 const QString& filter) {
    return QFileDialog::getSaveFileName(parent_, title, directory, filter);
}

} // namespace tessaly
