#include "state/signinsettings.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "state/mailsecurity.h"

namespace tessaly {

QStringList SignInSections() {
    return {kSignInSection,        kOAuthProviderSection,  kOAuthClientIdSection, kOAuthAuthorizationUrlSection,
            kOAuthTokenUrlSection, kOAuthDeviceUrlSection, kOAuthScopeSection,    kSignInNeededSection};
}

QString SignInTarget::SecretKey(const QString& what) const {
    return (Outgoing() ? QStringLiteral("smtp") : QStringLiteral("account:") + account) + QLatin1Char(':') + what;
}

QString SignInTarget::Text() const {
    return Outgoing() ? QStringLiteral("the outgoing server") : QStringLiteral("account ") + account;
}

namespace {

// Where one value of `who` lives: an account's under the value's own
// section, the outgoing server's in its section under the value's name.
struct Place {
    QString section;
    QString name;
};
Place placeOf(const SignInTarget& who, const QString& value) {
    if (who.Outgoing())
        return {kOutgoingSection, value};
    return {value, AccountSettingsKey(who.account)};
}
QString readValue(const SettingsStore& store, const SignInTarget& who, const QString& value) {
    const Place p = placeOf(who, value);
    return store.read(kAppTitle, p.section, p.name, QString()).trimmed();
}
void writeValue(SettingsStore& store, const SignInTarget& who, const QString& value, const QString& text) {
    const Place p = placeOf(who, value);
    WriteOrForget(store, p.section, p.name, text, text.isEmpty());
}

} // namespace

OAuthSettings LoadOAuthSettings(const SettingsStore& store, const SignInTarget& who) {
    OAuthSettings s;
    s.on = readValue(store, who, kSignInSection).compare(QLatin1String("OAuth"), Qt::CaseInsensitive) == 0;
    s.provider = readValue(store, who, kOAuthProviderSection).toLower();
    s.clientId = readValue(store, who, kOAuthClientIdSection);
    s.authorizationUrl = readValue(store, who, kOAuthAuthorizationUrlSection);
    s.tokenUrl = readValue(store, who, kOAuthTokenUrlSection);
    s.deviceUrl = readValue(store, who, kOAuthDeviceUrlSection);
    s.scope = readValue(store, who, kOAuthScopeSection);
    return s;
}

QString SaveOAuthSettings(SettingsStore& store, const SignInTarget& who, const OAuthSettings& s) {
    writeValue(store, who, kSignInSection, s.on ? QStringLiteral("OAuth") : QString());
    writeValue(store, who, kOAuthProviderSection, s.provider);
    writeValue(store, who, kOAuthClientIdSection, s.clientId);
    writeValue(store, who, kOAuthAuthorizationUrlSection, s.authorizationUrl);
    writeValue(store, who, kOAuthTokenUrlSection, s.tokenUrl);
    writeValue(store, who, kOAuthDeviceUrlSection, s.deviceUrl);
    writeValue(store, who, kOAuthScopeSection, s.scope);
    return store.lastFailure();
}

QString SignInNeeded(const SettingsStore& store, const SignInTarget& who) {
    return readValue(store, who, kSignInNeededSection);
}

QString SetSignInNeeded(SettingsStore& store, const SignInTarget& who, const QString& why) {
    // One line: the reason is shown as it stands.
    QString text = why.simplified().left(300);
    if (text.isEmpty())
        text = QStringLiteral("sign in again");
    writeValue(store, who, kSignInNeededSection, text);
    return store.lastFailure();
}

QString ClearSignInNeeded(SettingsStore& store, const SignInTarget& who) {
    writeValue(store, who, kSignInNeededSection, QString());
    return store.lastFailure();
}

} // namespace tessaly
