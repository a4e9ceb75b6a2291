#include "ui/paging/frmterminal.h"

#include "ui/resize/twips.h"
#include "ui/platform/icons.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace tessaly {

FrmTerminal::FrmTerminal(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmTerminal"));
    setWindowTitle(QStringLiteral("Terminal Data"));
    setWindowIcon(windowIcon());
    term_ = new QPlainTextEdit(this);
    term_->setObjectName(QStringLiteral("Term"));
    term_->setReadOnly(true);
    term_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(term_);
    resize(twipsToPixelsX(7200), twipsToPixelsY(4320));
    // Traffic can come in thousands of pieces a second; the box is redrawn
    // at most every 100 ms, and not at all while the window is hidden.
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(100);
    connect(refreshTimer_, &QTimer::timeout, this, &FrmTerminal::refresh);
}

void FrmTerminal::TerminalTextChanged(const QString& text) {
    text_ = text;
    dirty_ = true;
    if (isVisible() && !refreshTimer_->isActive())
        refreshTimer_->start();
}

void FrmTerminal::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void FrmTerminal::refresh() {
    if (!dirty_)
        return;
    dirty_ = false;
    QString shown = text_;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    term_->setPlainText(shown);
    term_->verticalScrollBar()->setValue(term_->verticalScrollBar()->maximum());
}

void FrmTerminal::closeEvent(QCloseEvent* event) {
    emit Closed();
    event->accept();
}

} // namespace tessaly
