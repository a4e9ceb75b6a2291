#include "ui/mail/oauthbox.h"

#include "features/signin/oauthproviders.h"
#include "platform/formpost.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tessaly {

namespace {
const QString kKeptSecret = QStringLiteral("********");
} // namespace

OAuthBox::OAuthBox(QWidget* parent) : QGroupBox(QStringLiteral("Sign-In"), parent) {
    setObjectName(QStringLiteral("grpSignIn"));
    auto* form = new QFormLayout(this);
    auto field = [&](const char* name, const char* label, const char* tip) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setToolTip(QString::fromLatin1(tip));
        form->addRow(QString::fromLatin1(label), edit);
        return edit;
    };
    cmbSignIn_ = new QComboBox(this);
    cmbSignIn_->setObjectName(QStringLiteral("cmbSignIn"));
    cmbSignIn_->addItems({QStringLiteral("Password"), QStringLiteral("OAuth 2.0")});
    cmbSignIn_->setToolTip(QStringLiteral("OAuth 2.0: the provider's sign-in page instead of the password"));
    form->addRow(QStringLiteral("Sign In With:"), cmbSignIn_);
    cmbProvider_ = new QComboBox(this);
    cmbProvider_->setObjectName(QStringLiteral("cmbProvider"));
    cmbProvider_->addItems(OAuthProviderIds());
    form->addRow(QStringLiteral("Provider:"), cmbProvider_);
    txtClientId_ = field("txtClientId", "Client ID:", "From the provider's developer console");
    txtClientSecret_ = field("txtClientSecret", "Client Secret:", "Only where the provider gives one");
    txtClientSecret_->setEchoMode(QLineEdit::Password);
    txtAuthorizationUrl_ = field("txtAuthorizationUrl", "Authorization URL:", "custom: the browser sign-in page");
    txtTokenUrl_ = field("txtTokenUrl", "Token URL:", "custom: where tokens are issued");
    txtDeviceUrl_ = field("txtDeviceUrl", "Device URL:", "custom: the sign-in by a code typed elsewhere");
    txtScope_ = field("txtScope", "Scope:", "custom: the scopes asked for, separated by spaces");
    cmdSignIn_ = new QPushButton(QStringLiteral("Sign In..."), this);
    cmdSignIn_->setObjectName(QStringLiteral("cmdSignIn"));
    form->addRow(QString(), cmdSignIn_);
    connect(cmbSignIn_, &QComboBox::currentIndexChanged, this, &OAuthBox::follow);
    connect(cmbProvider_, &QComboBox::currentIndexChanged, this, &OAuthBox::follow);
    connect(cmdSignIn_, &QPushButton::clicked, this, &OAuthBox::signInClicked);
    follow();
}

void OAuthBox::follow() {
    // Only the rows the choice uses are shown, so the windows stay small.
    const bool oauth = cmbSignIn_->currentIndex() == 1;
    const bool custom = cmbProvider_->currentText() == QLatin1String("custom");
    auto* form = static_cast<QFormLayout*>(layout());
    for (QWidget* w : {static_cast<QWidget*>(cmbProvider_), static_cast<QWidget*>(txtClientId_),
                       static_cast<QWidget*>(txtClientSecret_), static_cast<QWidget*>(cmdSignIn_)})
        form->setRowVisible(w, oauth);
    for (QLineEdit* e : {txtAuthorizationUrl_, txtTokenUrl_, txtDeviceUrl_, txtScope_})
        form->setRowVisible(e, oauth && custom);
}

void OAuthBox::SetSettings(const OAuthSettings& s, bool secretKept) {
    cmbSignIn_->setCurrentIndex(s.on ? 1 : 0);
    const int provider = cmbProvider_->findText(s.provider.isEmpty() ? QStringLiteral("custom") : s.provider);
    cmbProvider_->setCurrentIndex(provider < 0 ? cmbProvider_->count() - 1 : provider);
    txtClientId_->setText(s.clientId);
    shownSecret_ = secretKept ? kKeptSecret : QString();
    txtClientSecret_->setText(shownSecret_);
    txtAuthorizationUrl_->setText(s.authorizationUrl);
    txtTokenUrl_->setText(s.tokenUrl);
    txtDeviceUrl_->setText(s.deviceUrl);
    txtScope_->setText(s.scope);
    follow();
}

OAuthSettings OAuthBox::Settings() const {
    OAuthSettings s;
    s.on = cmbSignIn_->currentIndex() == 1;
    s.provider = cmbProvider_->currentText();
    s.clientId = txtClientId_->text().trimmed();
    if (s.provider == QLatin1String("custom")) {
        s.authorizationUrl = txtAuthorizationUrl_->text().trimmed();
        s.tokenUrl = txtTokenUrl_->text().trimmed();
        s.deviceUrl = txtDeviceUrl_->text().trimmed();
        s.scope = txtScope_->text().simplified();
    }
    // Nothing to keep for an account that signs in with its password.
    return s.on ? s : OAuthSettings{};
}

std::optional<QString> OAuthBox::NewClientSecret() const {
    if (txtClientSecret_->text() == shownSecret_)
        return std::nullopt;
    return txtClientSecret_->text().trimmed();
}

QString OAuthBox::Problem() const {
    const OAuthSettings s = Settings();
    if (!s.on)
        return {};
    if (s.clientId.isEmpty())
        return QStringLiteral("OAuth 2.0 needs the client ID the provider gave for this program.");
    if (s.provider != QLatin1String("custom"))
        return {};
    if (s.tokenUrl.isEmpty() || (s.authorizationUrl.isEmpty() && s.deviceUrl.isEmpty()))
        return QStringLiteral("A custom provider needs its token URL and its authorization or device URL.");
    for (const QString& url : {s.tokenUrl, s.authorizationUrl, s.deviceUrl})
        if (!url.isEmpty())
            if (const QString why = FormPostUrlProblem(url); !why.isEmpty())
                return QStringLiteral("%1: %2.").arg(url, why);
    return {};
}

} // namespace tessaly
