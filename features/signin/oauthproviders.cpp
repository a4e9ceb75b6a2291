#include "features/signin/oauthproviders.h"

#include "platform/formpost.h"

namespace tessaly {

QString OAuthProvider::Scopes(bool imap, bool pop3, bool smtp) const {
    QStringList all;
    auto add = [&all](const QString& scopes) {
        for (const QString& s : scopes.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            if (!all.contains(s))
                all << s;
    };
    if (imap)
        add(scopeImap);
    if (pop3)
        add(scopePop3);
    if (smtp)
        add(scopeSmtp);
    for (const QString& s : extraScopes)
        add(s);
    return all.join(QLatin1Char(' '));
}

QStringList OAuthProviderIds() {
    return {QStringLiteral("google"), QStringLiteral("microsoft"), QStringLiteral("custom")};
}

std::optional<OAuthProvider> OAuthPreset(const QString& id) {
    const QString name = id.trimmed().toLower();
    if (name == QLatin1String("google")) {
        OAuthProvider p;
        p.id = name;
        p.authorizationUrl = QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
        p.tokenUrl = QStringLiteral("https://oauth2.googleapis.com/token");
        // One scope covers IMAP, POP3 and SMTP; Google's device grant does
        // not offer it, so the code grant with a loopback redirect is used.
        p.scopeImap = p.scopePop3 = p.scopeSmtp = QStringLiteral("https://mail.google.com/");
        p.authorizationParameters = {{QStringLiteral("access_type"), QStringLiteral("offline")},
                                     {QStringLiteral("prompt"), QStringLiteral("consent")}};
        p.needsClientSecret = true;
        return p;
    }
    if (name == QLatin1String("microsoft")) {
        OAuthProvider p;
        p.id = name;
        const QString base = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/");
        p.authorizationUrl = base + QStringLiteral("authorize");
        p.tokenUrl = base + QStringLiteral("token");
        p.deviceUrl = base + QStringLiteral("devicecode");
        p.scopeImap = QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All");
        p.scopePop3 = QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All");
        p.scopeSmtp = QStringLiteral("https://outlook.office.com/SMTP.Send");
        p.extraScopes = {QStringLiteral("offline_access")};
        p.deviceGrantCoversMail = true;
        return p;
    }
    return std::nullopt;
}

OAuthProvider CustomOAuthProvider(const QString& authorizationUrl, const QString& tokenUrl, const QString& deviceUrl,
                                  const QString& scope) {
    OAuthProvider p;
    p.id = QStringLiteral("custom");
    p.authorizationUrl = authorizationUrl.trimmed();
    p.tokenUrl = tokenUrl.trimmed();
    p.deviceUrl = deviceUrl.trimmed();
    p.scopeImap = p.scopePop3 = p.scopeSmtp = scope.simplified();
    p.deviceGrantCoversMail = !p.deviceUrl.isEmpty();
    return p;
}

QString OAuthProviderProblem(const OAuthProvider& p) {
    if (p.tokenUrl.isEmpty())
        return QStringLiteral("no token endpoint is set");
    if (const QString problem = FormPostUrlProblem(p.tokenUrl); !problem.isEmpty())
        return QStringLiteral("token endpoint: ") + problem;
    if (p.authorizationUrl.isEmpty() && p.deviceUrl.isEmpty())
        return QStringLiteral("neither an authorization nor a device endpoint is set");
    if (!p.authorizationUrl.isEmpty())
        if (const QString problem = FormPostUrlProblem(p.authorizationUrl); !problem.isEmpty())
            return QStringLiteral("authorization endpoint: ") + problem;
    if (!p.deviceUrl.isEmpty())
        if (const QString problem = FormPostUrlProblem(p.deviceUrl); !problem.isEmpty())
            return QStringLiteral("device endpoint: ") + problem;
    return {};
}

} // namespace tessaly
