#include "ui/common/frmeditbase.h"

#include "platform/prompter.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>

namespace tessaly {

FrmEditBase::FrmEditBase(Prompter& prompter, QWidget* parent) : QDialog(parent), prompter_(prompter) {
    setModal(true);
    cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK_, &QPushButton::clicked, this, &FrmEditBase::okClicked);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmEditBase::cancelClicked);
}

QHBoxLayout* FrmEditBase::ButtonRow() {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    return buttons;
}

void FrmEditBase::showEvent(QShowEvent* event) {
    cancelled_ = false;
    QDialog::showEvent(event);
}

void FrmEditBase::closeEvent(QCloseEvent* event) { event->ignore(); }

void FrmEditBase::reject() { cancelClicked(); }

void FrmEditBase::okClicked() {
    const QString problem = Problem();
    if (!problem.isEmpty()) {
        prompter_.messageBox(problem, MsgButtons::OK);
        return;
    }
    cancelled_ = false;
    done(QDialog::Accepted); // hides the window
}

void FrmEditBase::cancelClicked() {
    cancelled_ = true;
    done(QDialog::Rejected);
}

} // namespace tessaly
