#include "ui/mail/frmpop3.h"

#include "features/mail/cpopaccount.h"
#include "platform/prompter.h"
#include "platform/tlschoice.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

FrmPOP3::FrmPOP3(Prompter& prompter, QWidget* parent) : FrmEditBase(prompter, parent) {
    setObjectName(QStringLiteral("frmPOP3"));

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
    cmbSecurity_ = new QComboBox(frame);
    cmbSecurity_->setObjectName(QStringLiteral("cmbSecurity"));
    cmbSecurity_->addItems(SecurityTexts());
    cmbSecurity_->setToolTip(QStringLiteral("automatic: TLS on port 995, elsewhere STLS when the server offers it"));
    form->addRow(QStringLiteral("Security:"), cmbSecurity_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(ButtonRow());
}

QString FrmPOP3::Problem() const {
    return pop3EntryProblem(POP3Entry{txtAccount_->text(), txtPOPServer_->text(), txtPOPUserName_->text(),
                                      txtPOPPassword_->text(), txtPOPPort_->text()});
}

} // namespace tessaly
