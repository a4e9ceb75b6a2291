#pragma once
// The sign-in part of the account window and the outgoing mail page: the
// password as before, or OAuth 2.0 with a provider (a preset, or "custom"
// with its addresses), the client ID and secret, and "Sign In...".

#include "state/signinsettings.h"

#include <QGroupBox>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessaly {

class OAuthBox : public QGroupBox {
    Q_OBJECT
public:
    explicit OAuthBox(QWidget* parent = nullptr);

    // `secretKept`: the secret store holds a client secret (shown masked).
    void SetSettings(const OAuthSettings& settings, bool secretKept);
    OAuthSettings Settings() const;
    // The client secret the user typed; none when left as it was.
    std::optional<QString> NewClientSecret() const;
    // Why the values cannot be saved; empty when they can.
    QString Problem() const;

    QComboBox* cmbSignIn() const { return cmbSignIn_; }
    QComboBox* cmbProvider() const { return cmbProvider_; }
    QLineEdit* txtClientId() const { return txtClientId_; }
    QLineEdit* txtClientSecret() const { return txtClientSecret_; }
    QLineEdit* txtAuthorizationUrl() const { return txtAuthorizationUrl_; }
    QLineEdit* txtTokenUrl() const { return txtTokenUrl_; }
    QLineEdit* txtDeviceUrl() const { return txtDeviceUrl_; }
    QLineEdit* txtScope() const { return txtScope_; }
    QPushButton* cmdSignIn() const { return cmdSignIn_; }

signals:
    void signInClicked();

private:
    void follow();

    QComboBox* cmbSignIn_ = nullptr;
    QComboBox* cmbProvider_ = nullptr;
    QLineEdit* txtClientId_ = nullptr;
    QLineEdit* txtClientSecret_ = nullptr;
    QLineEdit* txtAuthorizationUrl_ = nullptr;
    QLineEdit* txtTokenUrl_ = nullptr;
    QLineEdit* txtDeviceUrl_ = nullptr;
    QLineEdit* txtScope_ = nullptr;
    QPushButton* cmdSignIn_ = nullptr;
    QString shownSecret_; // what SetSettings put in the secret field
};

} // namespace tessaly
