#pragma once
// frmPOP3: the modal window in which one POP3 account is entered or edited.
// The caller sets the title and, when editing, the fields; after the window
// is hidden it reads them back unless Cancelled() is true.

#include "ui/common/frmeditbase.h"

class QComboBox;
class QLineEdit;

namespace tessaly {

class OAuthBox;

class FrmPOP3 : public FrmEditBase {
    Q_OBJECT
public:
    explicit FrmPOP3(Prompter& prompter, QWidget* parent = nullptr);

    QLineEdit* txtAccount() const { return txtAccount_; }
    QLineEdit* txtPOPServer() const { return txtPOPServer_; }
    QLineEdit* txtPOPUserName() const { return txtPOPUserName_; }
    QLineEdit* txtPOPPassword() const { return txtPOPPassword_; }
    QLineEdit* txtPOPPort() const { return txtPOPPort_; }
    // "automatic", "TLS", "STARTTLS required" or "none".
    QComboBox* cmbSecurity() const { return cmbSecurity_; }
    // "POP3" or "IMAP"; the folder is read by IMAP only (empty: INBOX).
    QComboBox* cmbProtocol() const { return cmbProtocol_; }
    QLineEdit* txtFolder() const { return txtFolder_; }
    // Password or OAuth 2.0.
    OAuthBox* oauth() const { return oauth_; }

protected:
    QString Problem() const override;

private:
    QLineEdit* txtAccount_ = nullptr;
    QLineEdit* txtPOPServer_ = nullptr;
    QLineEdit* txtPOPUserName_ = nullptr;
    QLineEdit* txtPOPPassword_ = nullptr;
    QLineEdit* txtPOPPort_ = nullptr;
    QComboBox* cmbSecurity_ = nullptr;
    QComboBox* cmbProtocol_ = nullptr;
    QLineEdit* txtFolder_ = nullptr;
    OAuthBox* oauth_ = nullptr;

    // The folder field is for IMAP; a port left at one protocol's default
    // follows the switch to the other's.
    void protocolChanged(int index);
    int shownProtocol_ = 0;
};

} // namespace tessaly
