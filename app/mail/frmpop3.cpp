#include "app/mail/frmpop3.h"

#include "app/mail/cpopaccount.h"
#include "platform/prompter.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

FrmPOP3::FrmPOP3(Prompter& prompter, QWidget* parent) : QDialog(parent), prompter_(prompter) {
    setObjectName(QStringLiteral("frmPOP3"));
    setModal(true);

    auto* frame = new QGroupBox(QStringLiteral("Incoming Mail Settings"), this);
    auto* form = new QFormLayout(frame);
    auto field = [&](const char* name, const char* label, const char* tip) {
        auto* edit = new QLineEdit(frame);
        edit->setObjectName(QString::fromLatin1(name));
        if (tip)
            edit->setToolTip(QString::fromLatin1(tip));
        form->addRow(QString::fromLatin1(label), edit);
        return edit;
    };
    txtAccount_ = field("txtAccount", "Account Name:", nullptr);
    txtPOPServer_ = field("txtPOPServer", "POP3 Server:", "Domain name of POP server");
    txtPOPUserName_ = field("txtPOPUserName", "UserName:", "Login username");
    txtPOPPassword_ = field("txtPOPPassword", "Password:", "Login Password");
    txtPOPPassword_->setEchoMode(QLineEdit::Password);
    // Typed characters show as "*" whatever the style's own mask character.
    txtPOPPassword_->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    txtPOPPort_ = field("txtPOPPort", "Mail Port:", nullptr);
    txtPOPPort_->setText(QStringLiteral("110"));

    cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK_, &QPushButton::clicked, this, &FrmPOP3::okClicked);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmPOP3::cancelClicked);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
}

void FrmPOP3::showEvent(QShowEvent* event) {
    cancelled_ = false;
    QDialog::showEvent(event);
}

void FrmPOP3::closeEvent(QCloseEvent* event) { event->ignore(); }

void FrmPOP3::reject() { cancelClicked(); }

void FrmPOP3::okClicked() {
    const POP3Entry entry{txtAccount_->text(), txtPOPServer_->text(), txtPOPUserName_->text(),
                          txtPOPPassword_->text(), txtPOPPort_->text()};
    const QString problem = pop3EntryProblem(entry);
    if (!problem.isEmpty()) {
        prompter_.messageBox(problem, MsgButtons::OK);
        return;
    }
    cancelled_ = false;
    done(QDialog::Accepted); // hides the window
}

void FrmPOP3::cancelClicked() {
    cancelled_ = true;
    done(QDialog::Rejected);
}

} // namespace tessaly
