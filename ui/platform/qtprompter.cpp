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

std::optional<QString> QtPrompter::inputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, title.isEmpty() ? defaultTitle_ : title, prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QStringList QtPrompter::nameFilters(const QString& filter) {
    if (!filter.contains(QLatin1Char('|')))
        return filter.isEmpty() ? QStringList() : QStringList{filter};
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        QString pattern = parts[i + 1];
        // "*.*" means every file, with or without a dot in its name.
        pattern.replace(QLatin1String("*.*"), QLatin1String("*"));
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0)
            description = description.left(open).trimmed();
        out << QStringLiteral("%1 (%2)").arg(description, QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' ')));
    }
    return out;
}

QString QtPrompter::fileDialog(const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent_, request.title, request.directory);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(request.filter));
    dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.fileName.isEmpty() && !request.fileName.contains(QLatin1Char('*')))
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtPrompter::openFileName(const FileDialogRequest& request) { return fileDialog(request, false); }

QString QtPrompter::saveFileName(const FileDialogRequest& request) { return fileDialog(request, true); }

} // namespace tessaly
