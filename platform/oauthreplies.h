#pragma once
// Readers for the JSON answers of OAuth 2.0 endpoints: the token endpoint's
// answer (a token, or an error with its code) and the device authorization
// endpoint's answer. Whatever a server sends is checked before use: the
// input size, the types, the fields a client needs, lifetimes and intervals
// within reason, texts without control characters and not overlong, and
// addresses shown to the user only over https (or on this machine).

#include <QByteArray>
#include <QString>

namespace tessaly::oauth {

constexpr qsizetype kMaxAnswer = 64 * 1024;         // bytes of JSON read at most
constexpr qsizetype kMaxText = 8 * 1024;            // characters of any one text field
constexpr qint64 kMaxLifetime = 10LL * 366 * 86400; // seconds: ten years
constexpr int kDefaultInterval = 5;                 // seconds between device polls
constexpr int kMaxInterval = 3600;

struct TokenAnswer {
    enum class Kind {
        Token,     // accessToken (Bearer) with what came with it
        Error,     // error (the code) with its description and URI when sent
        Unreadable // problem says why
    };
    Kind kind = Kind::Unreadable;
    QString accessToken;
    qint64 expiresIn = -1; // seconds; -1 when the server did not say
    QString refreshToken;  // empty when none was sent
    QString scope;         // empty when none was sent
    QString error;
    QString errorDescription; // control characters replaced by spaces
    QString errorUri;
    QString problem;
};
TokenAnswer ReadTokenAnswer(const QByteArray& json);

struct DeviceAnswer {
    enum class Kind { Code, Error, Unreadable };
    Kind kind = Kind::Unreadable;
    QString deviceCode;
    QString userCode;
    QString verificationUri;         // "verification_uri", or the older "verification_url"
    QString verificationUriComplete; // empty when not sent
    qint64 expiresIn = 0;
    int interval = kDefaultInterval;
    QString error;
    QString errorDescription;
    QString problem;
};
DeviceAnswer ReadDeviceAnswer(const QByteArray& json);

// A server's text fit for a reason shown to the user: control characters
// become spaces, at most `limit` characters, trimmed.
QString Printable(const QString& text, qsizetype limit = 200);

} // namespace tessaly::oauth
