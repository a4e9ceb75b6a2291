#pragma once
// How a mail account, or the outgoing server, signs in: with its password
// (as it always did) or with OAuth 2.0. These live in the settings file,
// never in the profile, so a profile read by an older program is unchanged:
//   [Sign-In]                  <account>=OAuth          absent: the password
//   [OAuth Provider]           <account>=microsoft      google, microsoft or custom
//   [OAuth Client ID]          <account>=<client id>
//   [OAuth Authorization URL]  <account>=https://...    custom only, as the next three
//   [OAuth Token URL]          <account>=https://...
//   [OAuth Device URL]         <account>=https://...
//   [OAuth Scope]              <account>=<scopes>
//   [Sign-In Needed]           <account>=<why>          the refresh was refused for good
// The outgoing server keeps the same values in its own section ("Outgoing
// Mail") under the section names above. The client secret and the tokens
// are secrets: they live in the secret store, never here.

#include <QString>
#include <QStringList>

namespace tessaly {

class SettingsStore;

inline const QString kSignInSection = QStringLiteral("Sign-In");
inline const QString kOAuthProviderSection = QStringLiteral("OAuth Provider");
inline const QString kOAuthClientIdSection = QStringLiteral("OAuth Client ID");
inline const QString kOAuthAuthorizationUrlSection = QStringLiteral("OAuth Authorization URL");
inline const QString kOAuthTokenUrlSection = QStringLiteral("OAuth Token URL");
inline const QString kOAuthDeviceUrlSection = QStringLiteral("OAuth Device URL");
inline const QString kOAuthScopeSection = QStringLiteral("OAuth Scope");
inline const QString kSignInNeededSection = QStringLiteral("Sign-In Needed");
// The sections above, in that order.
QStringList SignInSections();

// Who signs in: a mail account by its name, or (no name) the outgoing server.
struct SignInTarget {
    QString account;
    bool Outgoing() const { return account.isEmpty(); }
    // The secret store's key of one of its secrets: "account:Work:refresh",
    // "smtp:client-secret".
    QString SecretKey(const QString& what) const;
    // "account Work", "the outgoing server".
    QString Text() const;
    bool operator==(const SignInTarget&) const = default;
};

struct OAuthSettings {
    bool on = false;  // OAuth 2.0 instead of the password
    QString provider; // "google", "microsoft", "custom"
    QString clientId;
    // A custom provider's addresses and scope (space-separated).
    QString authorizationUrl;
    QString tokenUrl;
    QString deviceUrl;
    QString scope;
    bool operator==(const OAuthSettings&) const = default;
};

OAuthSettings LoadOAuthSettings(const SettingsStore& store, const SignInTarget& who);
// Writes what differs from the file (a value back at its default is
// removed); why the file could not be written, empty when it was.
QString SaveOAuthSettings(SettingsStore& store, const SignInTarget& who, const OAuthSettings& settings);

// Why `who` must sign in again before its mail server is tried (its refresh
// token was refused); empty when it need not.
QString SignInNeeded(const SettingsStore& store, const SignInTarget& who);
QString SetSignInNeeded(SettingsStore& store, const SignInTarget& who, const QString& why);
QString ClearSignInNeeded(SettingsStore& store, const SignInTarget& who);

} // namespace tessaly
