#include "ui/options/outmailpage.h"

#include "platform/tlschoice.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

namespace tessaly {

using namespace optionsui;

OutMailPage::OutMailPage() : OptionsPage("Outgoing Mail", "OutMail", "Internet Outgoing Mail Properties") {
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
}

} // namespace tessaly
