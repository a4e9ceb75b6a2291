#include "platform/oauthreplies.h"

#include "platform/formpost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>
#include <cmath>

namespace tessaly::oauth {

namespace {

enum class Chars {
    Visible,      // printable ASCII without space: tokens, codes
    VisibleSpace, // printable ASCII with space: scopes, error codes, addresses
    Free          // anything; control characters are replaced where shown
};

bool fits(const QString& text, Chars chars) {
    if (chars == Chars::Free)
        return true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u > 0x7e || u < 0x20 || (u == 0x20 && chars == Chars::Visible))
            return false;
    }
    return true;
}

QString quoted(const char* key) { return QLatin1Char('"') + QLatin1String(key) + QLatin1Char('"'); }

// One text field: false (with `problem` set) when it is required and
// missing, or present and not a fitting text.
bool readText(const QJsonObject& o, const char* key, bool required, Chars chars, QString& out, QString& problem) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        if (required)
            problem = QStringLiteral("the answer has no %1").arg(quoted(key));
        return !required;
    }
    if (!v.isString()) {
        problem = QStringLiteral("%1 is not a text").arg(quoted(key));
        return false;
    }
    const QString text = v.toString();
    if (text.size() > kMaxText) {
        problem = QStringLiteral("%1 is longer than %2 KiB").arg(quoted(key)).arg(kMaxText / 1024);
        return false;
    }
    if (!fits(text, chars)) {
        problem = QStringLiteral("%1 holds characters it may not hold").arg(quoted(key));
        return false;
    }
    if (required && text.isEmpty()) {
        problem = QStringLiteral("%1 is empty").arg(quoted(key));
        return false;
    }
    out = text;
    return true;
}

// A count of seconds, as a JSON number or (as some servers send it) a text
// of digits, within [low, high].
bool readSeconds(const QJsonObject& o, const char* key, bool required, qint64 low, qint64 high, qint64& out,
                 QString& problem) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        if (required)
            problem = QStringLiteral("the answer has no %1").arg(quoted(key));
        return !required;
    }
    double n = 0;
    if (v.isDouble()) {
        n = v.toDouble();
        if (!std::isfinite(n) || n != std::floor(n)) {
            problem = QStringLiteral("%1 is not a whole number").arg(quoted(key));
            return false;
        }
    } else if (v.isString()) {
        const QString s = v.toString().trimmed();
        bool digits = !s.isEmpty() && s.size() <= 12;
        for (const QChar c : s)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digits) {
            problem = QStringLiteral("%1 is not a number").arg(quoted(key));
            return false;
        }
        n = s.toDouble();
    } else {
        problem = QStringLiteral("%1 is not a number").arg(quoted(key));
        return false;
    }
    if (n < static_cast<double>(low) || n > static_cast<double>(high)) {
        problem = QStringLiteral("%1 of %2 seconds is not believable").arg(quoted(key)).arg(n, 0, 'g', 12);
        return false;
    }
    out = static_cast<qint64>(n);
    return true;
}

// An address the user is sent to: https, or http on this machine.
bool signInAddress(const QString& text, const char* key, QString& problem) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool fine =
        url.isValid() && !url.isRelative() && !url.host().isEmpty() &&
        (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && IsLoopbackHost(url.host())));
    if (!fine)
        problem = QStringLiteral("%1 is not an https:// address").arg(quoted(key));
    return fine;
}

// The answer as a JSON object; false with `problem` set when it is not one.
bool object(const QByteArray& json, QJsonObject& out, QString& problem) {
    if (json.size() > kMaxAnswer) {
        problem = QStringLiteral("the answer is larger than %1 KiB").arg(kMaxAnswer / 1024);
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = QStringLiteral("the answer is not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
        return false;
    }
    if (!doc.isObject()) {
        problem = QStringLiteral("the answer is not a JSON object");
        return false;
    }
    out = doc.object();
    return true;
}

// The error fields of an error answer; false when they are not readable.
bool readError(const QJsonObject& o, QString& error, QString& description, QString* uri, QString& problem) {
    if (!readText(o, "error", true, Chars::VisibleSpace, error, problem))
        return false;
    QString text;
    if (!readText(o, "error_description", false, Chars::Free, text, problem))
        return false;
    description = Printable(text, kMaxText);
    if (uri && !readText(o, "error_uri", false, Chars::VisibleSpace, *uri, problem))
        return false;
    return true;
}

} // namespace

QString Printable(const QString& text, qsizetype limit) {
    QString out = text.left(limit);
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) ||
            (u >= 0x2066 && u <= 0x2069))
            c = QLatin1Char(' ');
    }
    return out.trimmed();
}

TokenAnswer ReadTokenAnswer(const QByteArray& json) {
    TokenAnswer a;
    QJsonObject o;
    if (!object(json, o, a.problem))
        return a;
    if (o.contains(QLatin1String("error"))) {
        if (readError(o, a.error, a.errorDescription, &a.errorUri, a.problem))
            a.kind = TokenAnswer::Kind::Error;
        return a;
    }
    QString type;
    if (!readText(o, "access_token", true, Chars::Visible, a.accessToken, a.problem) ||
        !readText(o, "token_type", true, Chars::VisibleSpace, type, a.problem) ||
        !readSeconds(o, "expires_in", false, 1, kMaxLifetime, a.expiresIn, a.problem) ||
        !readText(o, "refresh_token", false, Chars::Visible, a.refreshToken, a.problem) ||
        !readText(o, "scope", false, Chars::VisibleSpace, a.scope, a.problem)) {
        a.accessToken.clear();
        a.refreshToken.clear();
        return a;
    }
    if (type.compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0) {
        a.problem = QStringLiteral("the token type \"%1\" is not Bearer").arg(type.left(40));
        a.accessToken.clear();
        a.refreshToken.clear();
        return a;
    }
    a.kind = TokenAnswer::Kind::Token;
    return a;
}

DeviceAnswer ReadDeviceAnswer(const QByteArray& json) {
    DeviceAnswer a;
    QJsonObject o;
    if (!object(json, o, a.problem))
        return a;
    if (o.contains(QLatin1String("error"))) {
        if (readError(o, a.error, a.errorDescription, nullptr, a.problem))
            a.kind = DeviceAnswer::Kind::Error;
        return a;
    }
    const char* uriKey = o.contains(QLatin1String("verification_uri")) ? "verification_uri" : "verification_url";
    qint64 interval = kDefaultInterval;
    if (!readText(o, "device_code", true, Chars::Visible, a.deviceCode, a.problem) ||
        !readText(o, "user_code", true, Chars::VisibleSpace, a.userCode, a.problem) ||
        !readText(o, uriKey, true, Chars::Visible, a.verificationUri, a.problem) ||
        !signInAddress(a.verificationUri, uriKey, a.problem) ||
        !readText(o, "verification_uri_complete", false, Chars::Visible, a.verificationUriComplete, a.problem) ||
        (!a.verificationUriComplete.isEmpty() &&
         !signInAddress(a.verificationUriComplete, "verification_uri_complete", a.problem)) ||
        !readSeconds(o, "expires_in", true, 1, kMaxLifetime, a.expiresIn, a.problem) ||
        !readSeconds(o, "interval", false, 1, kMaxInterval, interval, a.problem)) {
        a.deviceCode.clear();
        return a;
    }
    a.interval = static_cast<int>(interval);
    a.kind = DeviceAnswer::Kind::Code;
    return a;
}

} // namespace tessaly::oauth
