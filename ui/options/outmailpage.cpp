#include "ui/options/outmailpage.h"

#include "platform/prompter.h"
#include "platform/tlschoice.h"
#include "ui/mail/frmsignin.h"
#include "ui/mail/oauthbox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tessaly {

using namespace optionsui;

OutMailPage::OutMailPage(OptionsContext& ctx)
    : OptionsPage("Outgoing Mail", "OutMail", "Internet Outgoing Mail Properties") {
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Domain Name:"), bindText(lineEdit(this, "txtDomain"), &OptionsFields::domain));
    form->addRow(QStringLiteral("SMTP Host Name:"), bindText(lineEdit(this, "txtSMTPName"), &OptionsFields::smtpName));
    form->addRow(QStringLiteral("SMTP Host Address:"),
                 bindText(lineEdit(this, "txtSMTPAddress", "IP address of SMTP server"), &OptionsFields::smtpAddress));
    form->addRow(QStringLiteral("SMTP Port:"), bindText(lineEdit(this, "txtSMTPPort"), &OptionsFields::smtpPort));
    auto* cmbSMTPSecurity =
        bindChoice(comboBox(this, "cmbSMTPSecurity", SecurityTexts()), &OptionsFields::smtpSecurity);
    cmbSMTPSecurity->setToolTip(
        QStringLiteral("automatic: TLS on port 465, elsewhere STARTTLS when the server offers it"));
    form->addRow(QStringLiteral("Security:"), cmbSMTPSecurity);
    form->addRow(QStringLiteral("SMTP User Name:"),
                 bindText(lineEdit(this, "txtSMTPUser", "Leave empty when the server needs no login"),
                          &OptionsFields::smtpUser));
    auto* txtSMTPPassword = bindText(lineEdit(this, "txtSMTPPassword"), &OptionsFields::smtpPassword);
    txtSMTPPassword->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("SMTP Password:"), txtSMTPPassword);
    form->addRow(QStringLiteral("Password Command:"), bindText(lineEdit(this, "txtSMTPPasswordCommand",
                                                                        "Used when the password is empty: a program "
                                                                        "whose first output line is the password"),
                                                               &OptionsFields::smtpPasswordCommand));
    form->addRow(QStringLiteral("Extra CA File:"),
                 bindText(lineEdit(this, "txtCAFile", "Certificates (PEM) trusted besides the system's"),
                          &OptionsFields::caFile));
    // The outgoing server's sign-in: the password above, or OAuth 2.0 for
    // the SMTP user name.
    auto* oauth = new OAuthBox(this);
    form->addRow(oauth);
    bind(
        [oauth, &ctx](const OptionsFields& f) {
            const bool kept = f.smtpClientSecret    ? !f.smtpClientSecret->isEmpty()
                              : ctx.hasClientSecret ? ctx.hasClientSecret(SignInTarget{})
                                                    : false;
            oauth->SetSettings(f.smtpOAuth, kept);
        },
        [oauth](OptionsFields& f) {
            f.smtpOAuth = oauth->Settings();
            if (const std::optional<QString> secret = oauth->NewClientSecret())
                f.smtpClientSecret = *secret;
        });
    oauth->cmdSignIn()->setVisible(static_cast<bool>(ctx.signIn));
    auto* user = findChild<QLineEdit*>(QStringLiteral("txtSMTPUser"));
    connect(oauth, &OAuthBox::signInClicked, this, [this, oauth, user, &ctx] {
        if (!ctx.signIn)
            return;
        if (const QString problem = oauth->Problem(); !problem.isEmpty()) {
            ctx.prompter.messageBox(problem, MsgButtons::OK);
            return;
        }
        const TokenSource::Unsaved unsaved{oauth->Settings(), oauth->NewClientSecret()};
        const QString why = FrmSignIn::RunSignIn(
            this,
            [&](const TokenSource::Prompts& prompts, const bool* cancel) {
                return ctx.signIn(SignInTarget{}, false, user ? user->text().trimmed() : QString(), unsaved, prompts,
                                  cancel);
            },
            ctx.openUrl);
        ctx.prompter.messageBox(why.isEmpty() ? QStringLiteral("Signed in.") : QStringLiteral("Not signed in: ") + why,
                                MsgButtons::OK);
    });
}

} // namespace tessaly
