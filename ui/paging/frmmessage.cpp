#include "ui/paging/frmmessage.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

FrmMessage::FrmMessage(ManualPageContext ctx, QWidget* parent) : QWidget(parent, Qt::Window), ctx_(std::move(ctx)) {
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Send Immediate Message"));

    auto* to = new QHBoxLayout;
    to->addWidget(new QLabel(QStringLiteral("To:"), this));
    lblUser_ = new QLabel(ctx_.pagers.Count() > 0 ? ctx_.pagers.Item(1).Username() : QString(), this);
    lblUser_->setObjectName(QStringLiteral("lblUser"));
    to->addWidget(lblUser_, 1);
    txtMessage_ = new QPlainTextEdit(this);
    txtMessage_->setObjectName(QStringLiteral("txtMessage"));
    txtMessage_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->installEventFilter(this);
    lblChar_ = new QLabel(this);
    lblChar_->setObjectName(QStringLiteral("lblChar"));
    cmdSendNow_ = new QPushButton(QStringLiteral("Send Now"), this);
    cmdSendNow_->setObjectName(QStringLiteral("cmdSendNow"));
    auto* cmdClear = new QPushButton(QStringLiteral("Clear"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    auto* cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblChar_, 1);
    buttons->addWidget(cmdSendNow_);
    buttons->addWidget(cmdClear);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(to);
    layout->addWidget(txtMessage_, 1);
    layout->addLayout(buttons);
    resize(420, 240);

    connect(txtMessage_, &QPlainTextEdit::textChanged, this, &FrmMessage::textChanged);
    connect(cmdClear, &QPushButton::clicked, txtMessage_, &QPlainTextEdit::clear);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdSendNow_, &QPushButton::clicked, this, &FrmMessage::sendClicked);
    textChanged();
}

bool FrmMessage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtMessage_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            QApplication::beep();
            txtMessage_->insertPlainText(QStringLiteral(" "));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmMessage::keyPressEvent(QKeyEvent* event) {
    // Not while the page is being sent: the send runs inside this window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && !sending_) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmMessage::textChanged() {
    // A pasted line break becomes a space too: a page is one line.
    const QString text = txtMessage_->toPlainText();
    if (text.contains(QLatin1Char('\n'))) {
        QString flat = text;
        flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
        txtMessage_->setPlainText(flat);
        txtMessage_->moveCursor(QTextCursor::End);
        return; // setPlainText comes back here
    }
    lblChar_->setText(QStringLiteral("Number of Characters: ") + QString::number(text.size()));
}

void FrmMessage::sendClicked() {
    if (sending_)
        return;
    sending_ = true;
    cmdSendNow_->setEnabled(false);
    const manualpage::AfterSend after = manualpage::SendImmediateMessage(ctx_, txtMessage_->toPlainText());
    cmdSendNow_->setEnabled(true);
    sending_ = false;
    if (after == manualpage::AfterSend::Hide)
        hide();
}

} // namespace tessaly
