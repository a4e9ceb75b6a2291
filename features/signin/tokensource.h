#pragma once
// The OAuth 2.0 tokens of the mail accounts and the outgoing server: the
// first sign-in, and an access token for each login, refreshed when it has
// run out. Tokens and the client secret live in the secret store only.
//
// A refresh token the provider refuses for good (revoked, expired) is said
// once in the activity log and marked in the settings file; from then on no
// token is asked for and no login tried for that account until it signs in
// again, so a revoked grant never turns into a login failing at every
// check.

#include "features/signin/oauthflow.h"
#include "platform/sasloauth.h"
#include "state/signinsettings.h"

#include <functional>
#include <optional>

namespace tessaly {

class EventPump;
class LinkFactory;
class SecretStore;
class SettingsStore;

struct TokenSourceContext {
    EventPump& pump;
    LinkFactory& links;
    SettingsStore& store;
    // Opened when first needed (a secret service may take a moment).
    std::function<SecretStore&()> secrets;
    std::function<void(const QString&)> logActivity;
    // Extra certificates trusted for the token endpoint, as for mail.
    std::function<QString()> caFile = {};
    // How the user signs `who` in again, for the activity line:
    // "tessly --sign-in account.2".
    std::function<QString(const SignInTarget&)> signInCommand = {};
    // Told when `who` must sign in again (the status and tray notice), and
    // when it has.
    std::function<void()> signInStateChanged = {};
    const bool* cancel = nullptr;
};

// The client secret of `who` in the secret store: kept (an empty text
// removes it; false with the reason when the store failed), and whether
// one is kept.
bool KeepClientSecret(SecretStore& secrets, const SignInTarget& who, const QString& secret, QString* why);
bool HasClientSecret(SecretStore& secrets, const SignInTarget& who);

class TokenSource {
public:
    explicit TokenSource(TokenSourceContext ctx);

    // The provider the settings name, or why none can be used.
    static std::optional<OAuthProvider> ProviderFor(const OAuthSettings& settings, QString* why);
    // The scope a sign-in of `who` asks for: the mail protocol's, or SMTP's
    // for the outgoing server; a custom provider's own scope.
    static QString ScopeFor(const OAuthProvider& provider, const SignInTarget& who, bool imap);

    // Access tokens for `who`'s logins; empty when `who` signs in with its
    // password.
    sasl::BearerSource For(const SignInTarget& who);
    // One access token (see sasl::BearerSource).
    sasl::BearerToken Token(const SignInTarget& who, bool renew);

    // Signs `who` in: the device grant where the provider's covers mail
    // (or `device` asks for it), else the code grant through the browser.
    // The tokens are stored and a mark that it must sign in again is
    // cleared. `imap`: the account reads by IMAP (its scope).
    struct Prompts {
        OAuthFlow::ShowCode code;
        OAuthFlow::ShowUrl url;
    };
    // Values not saved yet (the options dialog's): used instead of the
    // stored ones; a client secret given here is kept with the tokens.
    struct Unsaved {
        OAuthSettings settings;
        std::optional<QString> clientSecret;
    };
    OAuthResult SignIn(const SignInTarget& who, bool imap, const QString& loginHint, const Prompts& prompts,
                       std::optional<bool> device = std::nullopt, const Unsaved* unsaved = nullptr,
                       const bool* cancel = nullptr);
    // Forgets `who`'s tokens (the account signs in with its password again,
    // or is gone).
    void Forget(const SignInTarget& who);

private:
    sasl::BearerToken refused(const SignInTarget& who, const QString& why);
    OAuthClient clientOf(const SignInTarget& who, const OAuthSettings& settings, QString* why);

    TokenSourceContext ctx_;
};

} // namespace tessaly
