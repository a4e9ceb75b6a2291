#include "features/signin/tokensource.h"

#include "platform/eventpump.h"
#include "platform/secretstore.h"
#include "platform/settingsstore.h"

namespace tessaly {

namespace {
const QString kAccess = QStringLiteral("access");
const QString kRefresh = QStringLiteral("refresh");
const QString kClientSecret = QStringLiteral("client-secret");

// An access token as kept: "<UTC expiry, ISO> <token>".
QString accessEntry(const QDateTime& expiresUtc, const QString& token) {
    return expiresUtc.toUTC().toString(Qt::ISODate) + QLatin1Char(' ') + token;
}
std::optional<QString> validAccess(const QString& entry, const QDateTime& nowUtc) {
    const qsizetype blank = entry.indexOf(QLatin1Char(' '));
    if (blank <= 0)
        return std::nullopt;
    const QDateTime expires = QDateTime::fromString(entry.left(blank), Qt::ISODate);
    const QString token = entry.mid(blank + 1);
    if (!expires.isValid() || token.isEmpty() || expires <= nowUtc)
        return std::nullopt;
    return token;
}
} // namespace

TokenSource::TokenSource(TokenSourceContext ctx) : ctx_(std::move(ctx)) {}

std::optional<OAuthProvider> TokenSource::ProviderFor(const OAuthSettings& s, QString* why) {
    std::optional<OAuthProvider> p;
    if (s.provider.isEmpty() || s.provider == QLatin1String("custom")) {
        p = CustomOAuthProvider(s.authorizationUrl, s.tokenUrl, s.deviceUrl, s.scope);
    } else {
        p = OAuthPreset(s.provider);
        if (!p) {
            if (why)
                *why = QStringLiteral("the OAuth provider \"%1\" is none of %2")
                           .arg(s.provider.left(40), OAuthProviderIds().join(QStringLiteral(", ")));
            return std::nullopt;
        }
    }
    if (const QString problem = OAuthProviderProblem(*p); !problem.isEmpty()) {
        if (why)
            *why = problem;
        return std::nullopt;
    }
    if (s.clientId.isEmpty()) {
        if (why)
            *why = QStringLiteral("no OAuth client ID is set");
        return std::nullopt;
    }
    return p;
}

QString TokenSource::ScopeFor(const OAuthProvider& provider, const SignInTarget& who, bool imap) {
    if (who.Outgoing())
        return provider.Scopes(false, false, true);
    return provider.Scopes(imap, !imap, false);
}

sasl::BearerSource TokenSource::For(const SignInTarget& who) {
    if (!LoadOAuthSettings(ctx_.store, who).on)
        return {};
    return [this, who](bool renew) { return Token(who, renew); };
}

OAuthClient TokenSource::clientOf(const SignInTarget& who, const OAuthSettings& settings, QString* why) {
    OAuthClient client;
    client.id = settings.clientId;
    client.secret = ctx_.secrets().Read(who.SecretKey(kClientSecret), why).value_or(QString());
    return client;
}

sasl::BearerToken TokenSource::refused(const SignInTarget& who, const QString& why) {
    const QString command = ctx_.signInCommand ? ctx_.signInCommand(who) : QString();
    if (const QString failed = SetSignInNeeded(ctx_.store, who, why); !failed.isEmpty())
        ctx_.logActivity(QStringLiteral("The settings file could not be written: %1").arg(failed));
    ctx_.logActivity(QStringLiteral("The sign-in of %1 has expired or was revoked (%2); sign in again%3")
                         .arg(who.Text(), why, command.isEmpty() ? QString() : QStringLiteral(": ") + command));
    if (ctx_.signInStateChanged)
        ctx_.signInStateChanged();
    return {{}, QStringLiteral("%1 must sign in again (%2)").arg(who.Text(), why)};
}

sasl::BearerToken TokenSource::Token(const SignInTarget& who, bool renew) {
    if (const QString needed = SignInNeeded(ctx_.store, who); !needed.isEmpty())
        return {{}, QStringLiteral("%1 must sign in again (%2)").arg(who.Text(), needed)};
    const OAuthSettings settings = LoadOAuthSettings(ctx_.store, who);
    QString why;
    const std::optional<OAuthProvider> provider = ProviderFor(settings, &why);
    if (!provider)
        return {{}, QStringLiteral("OAuth 2.0 for %1: %2").arg(who.Text(), why)};
    SecretStore& secrets = ctx_.secrets();
    const QDateTime now = ctx_.pump.now().toUTC();
    if (!renew) {
        const std::optional<QString> kept = secrets.Read(who.SecretKey(kAccess), &why);
        if (kept)
            if (const std::optional<QString> token = validAccess(*kept, now))
                return {*token, {}};
    }
    why.clear();
    const std::optional<QString> refresh = secrets.Read(who.SecretKey(kRefresh), &why);
    if (!refresh) {
        if (!why.isEmpty()) // the store failed: perhaps only this time
            return {
                {},
                QStringLiteral("the tokens of %1 could not be read from %2: %3").arg(who.Text(), secrets.Where(), why)};
        return refused(who, QStringLiteral("not signed in"));
    }
    const OAuthClient client = clientOf(who, settings, &why);
    OAuthFlow flow(ctx_.pump, ctx_.links, ctx_.caFile ? ctx_.caFile() : QString());
    const OAuthResult r = flow.Refresh(*provider, client, *refresh, ctx_.cancel);
    if (r.failure == OAuthResult::Failure::Refused)
        return refused(who, r.reason);
    if (!r.ok())
        return {{}, QStringLiteral("no access token for %1: %2").arg(who.Text(), r.reason)};
    if (!secrets.Write(who.SecretKey(kAccess), accessEntry(r.expiresUtc, r.accessToken), &why))
        ctx_.logActivity(QStringLiteral("The access token of %1 could not be kept (%2)").arg(who.Text(), why));
    if (!r.refreshToken.isEmpty() && r.refreshToken != *refresh &&
        !secrets.Write(who.SecretKey(kRefresh), r.refreshToken, &why))
        ctx_.logActivity(QStringLiteral("The new refresh token of %1 could not be kept (%2)").arg(who.Text(), why));
    return {r.accessToken, {}};
}

OAuthResult TokenSource::SignIn(const SignInTarget& who, bool imap, const QString& loginHint, const Prompts& prompts,
                                std::optional<bool> device, const Unsaved* unsaved, const bool* cancel) {
    OAuthResult r;
    const OAuthSettings settings = unsaved ? unsaved->settings : LoadOAuthSettings(ctx_.store, who);
    QString why;
    const std::optional<OAuthProvider> provider = ProviderFor(settings, &why);
    if (!provider) {
        r.reason = why;
        return r;
    }
    why.clear();
    OAuthClient client = clientOf(who, settings, &why);
    if (!why.isEmpty()) {
        r.reason = QStringLiteral("the secret store (%1): %2").arg(ctx_.secrets().Where(), why);
        return r;
    }
    if (unsaved && unsaved->clientSecret)
        client.secret = *unsaved->clientSecret;
    if (provider->needsClientSecret && client.secret.isEmpty()) {
        r.reason = QStringLiteral("this provider needs the client secret as well as the client ID");
        return r;
    }
    const bool byDevice = device.value_or(!provider->deviceUrl.isEmpty() &&
                                          (provider->deviceGrantCoversMail || provider->id == "custom"));
    if (byDevice && provider->deviceUrl.isEmpty()) {
        r.reason = QStringLiteral("the provider has no device sign-in address");
        return r;
    }
    OAuthFlow flow(ctx_.pump, ctx_.links, ctx_.caFile ? ctx_.caFile() : QString());
    const QString scope = ScopeFor(*provider, who, imap);
    const bool* stop = cancel ? cancel : ctx_.cancel;
    r = byDevice ? flow.DeviceGrant(*provider, client, scope, prompts.code, stop)
                 : flow.CodeGrant(*provider, client, scope, loginHint, prompts.url, stop);
    if (!r.ok())
        return r;
    SecretStore& secrets = ctx_.secrets();
    if (r.refreshToken.isEmpty()) {
        r.failure = OAuthResult::Failure::Protocol;
        r.reason = QStringLiteral("the provider gave no refresh token, so the sign-in would not last");
        return r;
    }
    if (!secrets.Write(who.SecretKey(kRefresh), r.refreshToken, &why) ||
        !secrets.Write(who.SecretKey(kAccess), accessEntry(r.expiresUtc, r.accessToken), &why)) {
        r.failure = OAuthResult::Failure::Protocol;
        r.reason = QStringLiteral("the tokens could not be kept in %1: %2").arg(secrets.Where(), why);
        return r;
    }
    if (const QString failed = ClearSignInNeeded(ctx_.store, who); !failed.isEmpty())
        ctx_.logActivity(QStringLiteral("The settings file could not be written: %1").arg(failed));
    ctx_.logActivity(QStringLiteral("%1 is signed in with OAuth 2.0 (tokens kept in %2)")
                         .arg(who.Text().left(1).toUpper() + who.Text().mid(1), secrets.Where()));
    if (ctx_.signInStateChanged)
        ctx_.signInStateChanged();
    return r;
}

void TokenSource::Forget(const SignInTarget& who) {
    SecretStore& secrets = ctx_.secrets();
    QString why;
    for (const QString& what : {kAccess, kRefresh})
        if (!secrets.Remove(who.SecretKey(what), &why))
            ctx_.logActivity(QStringLiteral("The tokens of %1 could not be removed from %2: %3")
                                 .arg(who.Text(), secrets.Where(), why));
}

bool KeepClientSecret(SecretStore& secrets, const SignInTarget& who, const QString& secret, QString* why) {
    return secret.isEmpty() ? secrets.Remove(who.SecretKey(kClientSecret), why)
                            : secrets.Write(who.SecretKey(kClientSecret), secret, why);
}

bool HasClientSecret(SecretStore& secrets, const SignInTarget& who) {
    QString why;
    return secrets.Read(who.SecretKey(kClientSecret), &why).has_value();
}

} // namespace tessaly
