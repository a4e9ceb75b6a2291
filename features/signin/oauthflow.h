#pragma once
// Signing in to a mail provider with OAuth 2.0, and keeping the access
// fresh. Three ways to a token:
//   - the device grant: the user types a short code on a web page shown to
//     them (on any device) while the program polls the token endpoint;
//   - the authorization code grant with PKCE: the user's browser opens the
//     provider's page and comes back to a listener on 127.0.0.1 with a code,
//     which is exchanged for the token;
//   - the refresh: a kept refresh token buys a new access token.
// Every wait sleeps in the EventPump and honours the cancel flag. Tokens,
// codes and the client secret never appear in a reason or in the traffic
// text.

#include "features/signin/oauthproviders.h"
#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/formpost.h"
#include "platform/oauthreplies.h"

#include <QDateTime>
#include <functional>

namespace tessaly {

struct OAuthClient {
    QString id;
    QString secret; // empty for a public client
};

struct OAuthResult {
    enum class Failure {
        None,
        Network,   // no answer, a 5xx or 429, a time-out: try again at the next check
        Refused,   // the grant is refused for good (invalid_grant, access_denied, expired): sign in again
        Protocol,  // an unreadable answer, a wrong setting, a client the provider does not know
        Cancelled, // the cancel flag was raised
    };
    Failure failure = Failure::Protocol;
    QString reason; // why it failed, for the user; never a token or secret
    QString error;  // the provider's error code ("invalid_grant") when it sent one

    QString accessToken;
    QDateTime expiresUtc; // when to stop using the access token (a margin before its end)
    QString refreshToken; // the new one, or the one used when the answer brought none
    QString scope;
    bool ok() const { return failure == Failure::None; }
};

// What the user needs to finish a device sign-in.
struct DeviceCodePrompt {
    QString userCode;
    QString verificationUri;
    QString verificationUriComplete; // may be empty
    qint64 expiresIn = 0;            // seconds the code lives
};

class OAuthFlow {
public:
    // `caFile`: PEM certificates trusted besides the system's for https.
    OAuthFlow(EventPump& pump, LinkFactory& links, QString caFile = {});

    // Seconds one request to an endpoint may take (default 30).
    void SetRequestTimeout(double seconds) { requestTimeout_ = seconds; }
    // Seconds the code grant waits for the browser (default 300).
    void SetRedirectTimeout(double seconds) { redirectTimeout_ = seconds; }
    // Told of each request and answer, secrets masked.
    using Traffic = std::function<void(const QString&)>;
    void SetTraffic(Traffic traffic) { traffic_ = std::move(traffic); }

    using ShowCode = std::function<void(const DeviceCodePrompt&)>;
    OAuthResult DeviceGrant(const OAuthProvider& provider, const OAuthClient& client, const QString& scope,
                            const ShowCode& show, const bool* cancel);

    // `show` gets the authorization URL to open in a browser. `loginHint`
    // (the user's address) is passed on when not empty.
    using ShowUrl = std::function<void(const QString& url)>;
    OAuthResult CodeGrant(const OAuthProvider& provider, const OAuthClient& client, const QString& scope,
                          const QString& loginHint, const ShowUrl& show, const bool* cancel);

    OAuthResult Refresh(const OAuthProvider& provider, const OAuthClient& client, const QString& refreshToken,
                        const bool* cancel);

    // PKCE (S256): a verifier of 64 unreserved characters from the system's
    // random source, and its challenge, base64url(SHA-256) without padding.
    static QString NewCodeVerifier();
    static QString CodeChallenge(const QString& verifier);
    // 32 letters and digits from the system's random source.
    static QString NewState();
    static QString AuthorizationUrl(const OAuthProvider& provider, const QString& clientId, const QString& redirectUri,
                                    const QString& scope, const QString& state, const QString& challenge,
                                    const QString& loginHint);

    // What one request to the loopback redirect says.
    struct Redirect {
        enum class Kind {
            Code,       // code, with the right state
            Error,      // error (and description), with the right state
            WrongState, // carries a code or error, but not this sign-in's state
            NotForUs,   // another path, another method, or no answer in it (a favicon, a reload)
            Unreadable, // not an HTTP request line, or parameters given twice
        };
        Kind kind = Kind::Unreadable;
        QString code;
        QString error;
        QString description;
    };
    static Redirect ReadRedirect(const QByteArray& request, const QString& state);

private:
    struct Exchange {
        FormPostResult post;
        oauth::TokenAnswer answer;
    };
    FormPostResult post(const QString& url, QList<FormField> fields, const OAuthClient& client, const bool* cancel);
    Exchange tokenPost(const OAuthProvider& provider, const QList<FormField>& fields, const OAuthClient& client,
                       const bool* cancel);
    OAuthResult finish(const Exchange& e, const QString& what, const QString& keptRefresh, QStringList secrets,
                       const bool* cancel) const;
    void show(const QString& text) const;

    EventPump& pump_;
    LinkFactory& links_;
    QString caFile_;
    double requestTimeout_ = 30;
    double redirectTimeout_ = 300;
    Traffic traffic_;
};

} // namespace tessaly
