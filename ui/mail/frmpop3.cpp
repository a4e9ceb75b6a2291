#include "ui/mail/frmpop3.h"

#include "ui/mail/oauthbox.h"

#include "features/mail/cpopaccount.h"
#include "platform/imapclient.h"
#include "platform/prompter.h"
#include "platform/tlschoice.h"
#include "state/mailsecurity.h"

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
    cmbProtocol_ = new QComboBox(frame);
    cmbProtocol_->setObjectName(QStringLiteral("cmbProtocol"));
    cmbProtocol_->addItems({MailProtocolText(MailProtocol::Pop3), MailProtocolText(MailProtocol::Imap)});
    cmbProtocol_->setToolTip(QStringLiteral("IMAP: the program stays connected and pages new mail at once"));
    form->addRow(QStringLiteral("Protocol:"), cmbProtocol_);
    txtFolder_ = field("txtFolder", "IMAP Folder:", "The folder to watch (INBOX when empty)");
    txtFolder_->setEnabled(false);
    connect(cmbProtocol_, &QComboBox::currentIndexChanged, this, &FrmPOP3::protocolChanged);

    oauth_ = new OAuthBox(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(oauth_);
    layout->addLayout(ButtonRow());
}

void FrmPOP3::protocolChanged(int index) {
    const bool imap = index == 1;
    txtFolder_->setEnabled(imap);
    // 110/995 for POP3, 143/993 for IMAP: a port the user left at the old
    // protocol's default takes the new one's.
    static constexpr int kPorts[2][2] = {{110, kPop3TlsPort}, {ImapClient::kImapPort, kImapTlsPort}};
    const int from = shownProtocol_;
    shownProtocol_ = imap ? 1 : 0;
    const int port = txtPOPPort_->text().trimmed().toInt();
    for (int tls = 0; tls < 2; ++tls)
        if (port == kPorts[from][tls])
            txtPOPPort_->setText(QString::number(kPorts[shownProtocol_][tls]));
}

QString FrmPOP3::Problem() const {
    const QString entry =
        pop3EntryProblem(POP3Entry{txtAccount_->text(), txtPOPServer_->text(), txtPOPUserName_->text(),
                                   txtPOPPassword_->text(), txtPOPPort_->text()});
    return entry.isEmpty() ? oauth_->Problem() : entry;
}

} // namespace tessaly
