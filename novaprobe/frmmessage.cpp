#include "frmmessage.h"

#include "platform/prompter.h"
#include "ui/resize/cresize.h"

#include <QCloseEvent>
#include <QFont>
#include <QPlainTextEdit>
#include <exception>

namespace novaprobe {

FrmMessage::FrmMessage(const QString& message, tessaly::Prompter& prompter) : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Messages from Valdrin"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(480, 320);
    txtMessages_ = new QPlainTextEdit(this);
    txtMessages_->setObjectName(QStringLiteral("txtMessages"));
    txtMessages_->setReadOnly(true);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    txtMessages_->setFont(courier);
    txtMessages_->setGeometry(8, 8, 464, 304);
    try {
        resize_ = std::make_unique<tessaly::CResize>(&prompter);
        resize_->SetMinFrmHeight(2000);
        resize_->SetMinFrmWidth(1000);
        resize_->SetFixedHeight(false);
        resize_->SetFixedToBottom(false);
        resize_->GetPositions(this, txtMessages_);
        txtMessages_->setPlainText(message);
    } catch (const std::exception& e) {
        prompter.messageBox(QStringLiteral("frmMessages:Form_Load:") + QString::fromLocal8Bit(e.what()));
    }
}

FrmMessage::~FrmMessage() = default;

QString FrmMessage::Message() const { return txtMessages_->toPlainText(); }

void FrmMessage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (resize_ && !isMinimized())
        resize_->ResizeCtrl(this, txtMessages_);
}

void FrmMessage::closeEvent(QCloseEvent* event) {
    event->accept();
    resize_.reset();
    emit Unloaded();
}

} // namespace novaprobe
