#include "platform/sasloauth.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tessaly::sasl {

OAuthMechanism ChooseOAuth(const QList<QByteArray>& mechanisms) {
    bool xoauth2 = false;
    for (const QByteArray& m : mechanisms) {
        if (m.compare("OAUTHBEARER", Qt::CaseInsensitive) == 0)
            return OAuthMechanism::OAuthBearer;
        xoauth2 = xoauth2 || m.compare("XOAUTH2", Qt::CaseInsensitive) == 0;
    }
    return xoauth2 ? OAuthMechanism::XOAuth2 : OAuthMechanism::None;
}

QByteArray MechanismName(OAuthMechanism m) {
    switch (m) {
    case OAuthMechanism::OAuthBearer: return "OAUTHBEARER";
    case OAuthMechanism::XOAuth2: return "XOAUTH2";
    case OAuthMechanism::None: break;
    }
    return {};
}

namespace {
// A user name as a GS2 header carries it: "," and "=" escaped.
QByteArray saslName(const QString& user) {
    QByteArray out;
    for (char c : user.toUtf8()) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}
// Control characters would end a key-value pair early; they never belong in
// a user name, a host or a token.
QByteArray withoutControls(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            out += c;
    return out;
}
} // namespace

QByteArray InitialResponse(OAuthMechanism m, const QString& user, const QString& token, const QString& host, int port) {
    const QByteArray bearer = "auth=Bearer " + withoutControls(token.toUtf8());
    switch (m) {
    case OAuthMechanism::OAuthBearer:
        return "n,a=" + withoutControls(saslName(user)) + ",\x01host=" + withoutControls(host.trimmed().toUtf8()) +
               "\x01port=" + QByteArray::number(port) + '\x01' + bearer + "\x01\x01";
    case OAuthMechanism::XOAuth2: return "user=" + withoutControls(user.toUtf8()) + '\x01' + bearer + "\x01\x01";
    case OAuthMechanism::None: break;
    }
    return {};
}

QByteArray ErrorChallengeAnswer(OAuthMechanism m) {
    return m == OAuthMechanism::OAuthBearer ? QByteArray("\x01") : QByteArray();
}

bool OAuthRefusal::TokenRefused() const {
    // Google's XOAUTH2 says "401" (or "400" for a bad request); RFC 7628's
    // servers say "invalid_token".
    return status == QLatin1String("invalid_token") || status == QLatin1String("401");
}

QString OAuthRefusal::Text() const {
    QString out = status.isEmpty() ? QStringLiteral("no status") : status;
    if (!scope.isEmpty())
        out += QStringLiteral(" (scope %1)").arg(scope);
    return out;
}

std::optional<OAuthRefusal> ReadErrorChallenge(QByteArrayView base64) {
    constexpr qsizetype kMaxChallenge = 8 * 1024;
    constexpr qsizetype kMaxValue = 200;
    const QByteArray trimmed = base64.trimmed().toByteArray();
    if (trimmed.isEmpty() || trimmed.size() > kMaxChallenge)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*decoded, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    auto text = [&](const char* key) {
        QString v = o.value(QLatin1String(key)).toString().left(kMaxValue);
        for (QChar& c : v)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        return v;
    };
    OAuthRefusal r;
    r.status = text("status");
    r.scope = text("scope");
    if (r.status.isEmpty())
        return std::nullopt;
    return r;
}

} // namespace tessaly::sasl
