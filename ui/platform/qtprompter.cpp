#include "ui/platform/qtprompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSpacerItem>
#include <algorithm>

namespace tessaly {

QtPrompter::QtPrompter(QString defaultTitle, QWidget* parent)
    : defaultTitle_(std::move(defaultTitle)), parent_(parent) {}

QWidget* QtPrompter::owner() const {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // The status window is a tool window that comes and goes with each
    // check; a box is not left to it.
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible() && (active->windowType() == Qt::Window || active->windowType() == Qt::Dialog))
        return active;
    return parent_;
}

int QtPrompter::titleWidth(const QMessageBox& box) {
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    // A title bar is about two lines high; its icon and its close, minimise
    // and maximise buttons are about as wide as high each.
    const int decoration = 4 * 2 * metrics.height();
    const int width = metrics.horizontalAdvance(box.windowTitle()) + decoration;
    const QScreen* screen = box.screen();
    return screen ? std::min(width, screen->availableGeometry().width()) : width;
}

namespace {
// QMessageBox sizes itself to its text and buttons, and allows its title
// only a fixed margin, which the window manager's buttons and icon exceed:
// a box with a short text showed its title cut off. A spacer under the text
// makes it as wide as its title needs.
void widenForTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(QtPrompter::titleWidth(box), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}
} // namespace

MsgAnswer QtPrompter::messageBox(const MessageRequest& request) {
    const MsgAnswer escape = request.buttons == MsgButtons::OK ? MsgAnswer::OK : MsgAnswer::Cancel;
    // On the heap: a box goes with its owner when that window is deleted
    // while the box is open.
    QPointer<QMessageBox> box = new QMessageBox(owner());
    box->setWindowTitle(request.title.isEmpty() ? defaultTitle_ : request.title);
    box->setText(request.text);
    switch (request.icon) {
    case MsgIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Critical: box->setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box->setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box->setIcon(QMessageBox::Information); break;
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
    box->setStandardButtons(buttons);
    // After the icon: setting an icon lays the box out afresh.
    widenForTitle(*box);
    const int answer = box->exec();
    if (!box)
        return escape;
    delete box;
    switch (answer) {
    case SB::Ok: return MsgAnswer::OK;
    case SB::Cancel: return MsgAnswer::Cancel;
    case SB::Abort: return MsgAnswer::Abort;
    case SB::Retry: return MsgAnswer::Retry;
    case SB::Ignore: return MsgAnswer::Ignore;
    case SB::Yes: return MsgAnswer::Yes;
    case SB::No: return MsgAnswer::No;
    default:
        // Closed with the window's close box: the box's escape answer.
        return escape;
    }
}

std::optional<QString> QtPrompter::inputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(owner(), title.isEmpty() ? defaultTitle_ : title, prompt,
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
    QPointer<QFileDialog> dialog = new QFileDialog(owner(), request.title, request.directory);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters(nameFilters(request.filter));
    dialog->setDefaultSuffix(request.defaultExtension);
    if (!request.fileName.isEmpty() && !request.fileName.contains(QLatin1Char('*')))
        dialog->selectFile(request.fileName);
    const int result = dialog->exec();
    if (!dialog)
        return {};
    const QStringList chosen = dialog->selectedFiles();
    delete dialog;
    if (result != QDialog::Accepted || chosen.isEmpty())
        return {};
    return chosen.constFirst();
}

QString QtPrompter::openFileName(const FileDialogRequest& request) { return fileDialog(request, false); }

QString QtPrompter::saveFileName(const FileDialogRequest& request) { return fileDialog(request, true); }

} // namespace tessaly
