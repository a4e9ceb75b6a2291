#include "ui/remote/frmshutdown.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

FrmShutdown::FrmShutdown(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmShutdown"));
    setWindowTitle(QStringLiteral("Tessaly"));
    auto* text = new QLabel(
        QStringLiteral("You're computer system has been commanded to SHUTDOWN.  Press CANCEL to abort."), this);
    text->setWordWrap(true);
    lblSeconds_ = new QLabel(QStringLiteral("Seconds"), this);
    lblSeconds_->setObjectName(QStringLiteral("lblSeconds"));
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    auto* row = new QHBoxLayout;
    row->addWidget(lblSeconds_);
    row->addStretch();
    row->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(row);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmShutdown::cancel);
}

void FrmShutdown::Open(bool, int, std::function<void()> cancel) {
    cancel_ = std::move(cancel);
    closing_ = false;
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
}

void FrmShutdown::ShowSeconds(int seconds) {
    lblSeconds_->setText(QString::number(seconds) + QStringLiteral(" seconds"));
}

void FrmShutdown::Close() {
    closing_ = true;
    hide();
    cancel_ = nullptr;
}

void FrmShutdown::cancel() {
    if (auto c = cancel_)
        c();
    Close();
}

// The title bar's close box and Escape cancel like the button.
void FrmShutdown::closeEvent(QCloseEvent* event) {
    if (!closing_)
        cancel();
    event->accept();
}

void FrmShutdown::reject() { cancel(); }

} // namespace tessaly
