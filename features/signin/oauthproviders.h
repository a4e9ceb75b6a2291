#pragma once
// The OAuth 2.0 providers a mail account can sign in with: the endpoints,
// the scopes that give IMAP, POP3 and SMTP access, and which grant each one
// suits. "google" and "microsoft" are presets; "custom" takes every address
// from the user.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace tessaly {

struct OAuthProvider {
    QString id; // "google", "microsoft", "custom"
    QString authorizationUrl;
    QString tokenUrl;
    QString deviceUrl; // empty: no device grant
    QString scopeImap;
    QString scopePop3;
    QString scopeSmtp;
    // Asked for with every grant (Microsoft's "offline_access" brings the
    // refresh token).
    QStringList extraScopes;
    // Added to the authorization URL (Google gives a refresh token only
    // with access_type=offline).
    QList<QPair<QString, QString>> authorizationParameters;
    // The device grant may ask for the mail scopes.
    bool deviceGrantCoversMail = false;
    // The token endpoint wants the client secret (Google's desktop clients
    // have one, though it is no real secret there).
    bool needsClientSecret = false;
    // Client authentication by HTTP Basic rather than in the form body.
    bool clientSecretBasic = false;

    // The space-separated scope for the protocols wanted, each scope once,
    // the extra scopes last.
    QString Scopes(bool imap, bool pop3, bool smtp) const;
};

// "google", "microsoft", "custom".
QStringList OAuthProviderIds();
// The preset of that name (letter case does not matter); nothing for an
// unknown name or "custom", whose addresses only the user knows.
std::optional<OAuthProvider> OAuthPreset(const QString& id);
// A provider with the user's addresses and one scope list (space-separated)
// for all three protocols.
OAuthProvider CustomOAuthProvider(const QString& authorizationUrl, const QString& tokenUrl, const QString& deviceUrl,
                                  const QString& scope);
// Why the provider cannot be used (an address that is not https, no token
// endpoint, neither grant possible); empty when it can.
QString OAuthProviderProblem(const OAuthProvider& p);

} // namespace tessaly
