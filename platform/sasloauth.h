#pragma once
// Signing in to a mail server with an OAuth 2.0 access token: the SASL
// mechanisms OAUTHBEARER (RFC 7628) and XOAUTH2 (its older form, which the
// large providers still take), as POP3 AUTH, IMAP AUTHENTICATE and SMTP AUTH
// carry them.
//
// The client's message holds the token, so it is never shown: callers log
// the mechanism's name and "****". A server that refuses the token answers
// with a challenge, a JSON object in base64 ({"status":"invalid_token",...});
// the client answers it (OAUTHBEARER: a single 0x01, XOAUTH2: nothing) and
// the server then sends its failure.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace tessaly::sasl {

enum class OAuthMechanism { None, OAuthBearer, XOAuth2 };

// The mechanism to use among those a server names (any letter case):
// OAUTHBEARER where offered, else XOAUTH2, else None.
OAuthMechanism ChooseOAuth(const QList<QByteArray>& mechanisms);
// "OAUTHBEARER" or "XOAUTH2".
QByteArray MechanismName(OAuthMechanism m);
// The client's first message, before base64. OAUTHBEARER names the server
// it is meant for (`host`, `port`); XOAUTH2 does not.
QByteArray InitialResponse(OAuthMechanism m, const QString& user, const QString& token, const QString& host, int port);
// The client's answer (before base64) to a server's error challenge.
QByteArray ErrorChallengeAnswer(OAuthMechanism m);

// What a server said when it refused a token.
struct OAuthRefusal {
    QString status; // "invalid_token", "insufficient_scope", "401", ...
    QString scope;  // the scope the server wants, when it says
    // True when a new access token may help: the token itself was refused
    // (expired or revoked), not the request or the scope.
    bool TokenRefused() const;
    // One line for the activity log: "invalid_token (scope ...)".
    QString Text() const;
};
// Reads a server's error challenge: base64 of a JSON object of at most a
// few kilobytes. nullopt when it is not one.
std::optional<OAuthRefusal> ReadErrorChallenge(QByteArrayView base64);

// An access token a mail client signs in with, fetched when the client
// needs it. With `renew`, the server refused the token given before and a
// new one is wanted (at most once per sign-in). An empty token with the
// reason in `failure` when none can be had; the client then gives up
// without a login attempt.
struct BearerToken {
    QString token;
    QString failure;
};
using BearerSource = std::function<BearerToken(bool renew)>;

} // namespace tessaly::sasl
