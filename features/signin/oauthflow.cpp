#include "features/signin/oauthflow.h"

#include "ground/sockerr.h"

#include <QCryptographicHash>
#include <QHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <optional>

namespace tessaly {

namespace {

const QString kDeviceGrantType = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");
// Seconds taken off a token's lifetime, so that it is renewed before a
// server could refuse it; never more than half the lifetime.
constexpr qint64 kExpiryMargin = 60;
// A lifetime for answers that leave expires_in out.
constexpr qint64 kAssumedLifetime = 3600;
// Device polls that fail in a row for a passing reason before giving up.
constexpr int kMaxPollFailures = 5;
constexpr int kMaxPollBackoff = 60;
// The loopback listener: bytes of one browser request, connections at once.
constexpr qsizetype kMaxRedirectRequest = 8 * 1024;
constexpr int kMaxRedirectConnections = 16;

QString randomText(int length, const QString& alphabet) {
    QString out;
    out.reserve(length);
    QRandomGenerator* random = QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        out += alphabet[static_cast<int>(random->bounded(static_cast<quint32>(alphabet.size())))];
    return out;
}

const QString& alphanumeric() {
    static const QString text = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    return text;
}

// Replaces every secret in `text` with "****".
QString scrubbed(QString text, const QStringList& secrets) {
    for (const QString& s : secrets)
        if (s.size() >= 4)
            text.replace(s, QStringLiteral("****"));
    return text;
}

bool passingStatus(int status) { return status >= 500 || status == 429 || status == 408; }

QString errorText(const oauth::TokenAnswer& a) {
    return a.errorDescription.isEmpty() ? a.error
                                        : a.error + QStringLiteral(": ") + oauth::Printable(a.errorDescription);
}

QByteArray browserPage(int status, const QString& message) {
    const QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tessaly sign-in</title>"
                            "</head><body><p>" +
                            message.toHtmlEscaped().toUtf8() + "</p><p>You may close this window.</p></body></html>\n";
    const QByteArray reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " +
           QByteArray::number(html.size()) + "\r\n\r\n" + html;
}

} // namespace

OAuthFlow::OAuthFlow(EventPump& pump, LinkFactory& links, QString caFile)
    : pump_(pump), links_(links), caFile_(std::move(caFile)) {}

void OAuthFlow::show(const QString& text) const {
    if (traffic_)
        traffic_(text);
}

QString OAuthFlow::NewCodeVerifier() { return randomText(64, alphanumeric() + QStringLiteral("-._~")); }

QString OAuthFlow::CodeChallenge(const QString& verifier) {
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString OAuthFlow::NewState() { return randomText(32, alphanumeric()); }

QString OAuthFlow::AuthorizationUrl(const OAuthProvider& provider, const QString& clientId, const QString& redirectUri,
                                    const QString& scope, const QString& state, const QString& challenge,
                                    const QString& loginHint) {
    QList<FormField> fields{{QStringLiteral("response_type"), QStringLiteral("code")},
                            {QStringLiteral("client_id"), clientId},
                            {QStringLiteral("redirect_uri"), redirectUri},
                            {QStringLiteral("scope"), scope},
                            {QStringLiteral("state"), state},
                            {QStringLiteral("code_challenge"), challenge},
                            {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}};
    if (!loginHint.isEmpty())
        fields.append({QStringLiteral("login_hint"), loginHint});
    for (const auto& [name, value] : provider.authorizationParameters)
        fields.append(FormField{name, value});
    const QString base = provider.authorizationUrl.trimmed();
    const QChar joint = base.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    return base + joint + QString::fromLatin1(FormEncode(fields));
}

OAuthFlow::Redirect OAuthFlow::ReadRedirect(const QByteArray& request, const QString& state) {
    Redirect r;
    QByteArray line = request.left(request.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || !parts[1].startsWith('/'))
        return r;
    r.kind = Redirect::Kind::NotForUs;
    const QByteArray& target = parts[1];
    const qsizetype question = target.indexOf('?');
    if (parts[0] != "GET" || target.left(question) != "/" || question < 0)
        return r;
    const QUrlQuery query(QString::fromLatin1(target.mid(question + 1)));
    auto values = [&](const char* key) { return query.allQueryItemValues(QLatin1String(key), QUrl::FullyDecoded); };
    const QStringList codes = values("code");
    const QStringList errors = values("error");
    const QStringList states = values("state");
    if (codes.isEmpty() && errors.isEmpty() && states.isEmpty())
        return r;
    if (codes.size() > 1 || errors.size() > 1 || states.size() > 1 || values("error_description").size() > 1) {
        r.kind = Redirect::Kind::Unreadable;
        return r;
    }
    if (states.isEmpty() || states.first() != state || state.isEmpty()) {
        r.kind = Redirect::Kind::WrongState;
        return r;
    }
    if (!errors.isEmpty()) {
        r.kind = Redirect::Kind::Error;
        r.error = oauth::Printable(errors.first(), 100);
        QString description = values("error_description").value(0);
        r.description = oauth::Printable(description.replace(QLatin1Char('+'), QLatin1Char(' ')));
        return r;
    }
    const QString code = codes.value(0);
    const bool fine =
        !code.isEmpty() && code.size() <= oauth::kMaxText &&
        std::all_of(code.cbegin(), code.cend(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    if (!fine) {
        r.kind = Redirect::Kind::Unreadable;
        return r;
    }
    r.kind = Redirect::Kind::Code;
    r.code = code;
    return r;
}

FormPostResult OAuthFlow::post(const QString& url, QList<FormField> fields, const OAuthClient& client,
                               const bool* cancel) {
    FormPost request;
    request.url = url;
    request.caFile = caFile_;
    request.timeoutSeconds = requestTimeout_;
    fields.append({QStringLiteral("client_id"), client.id});
    if (!client.secret.isEmpty())
        fields.append({QStringLiteral("client_secret"), client.secret, true});
    request.fields = fields;
    show(request.Shown());
    FormPostResult r = PostForm(pump_, links_, request, cancel);
    if (!r.ok())
        show(QStringLiteral("No answer: ") + r.failure);
    return r;
}

OAuthFlow::Exchange OAuthFlow::tokenPost(const OAuthProvider& provider, const QList<FormField>& fields,
                                         const OAuthClient& client, const bool* cancel) {
    Exchange e;
    if (provider.clientSecretBasic && !client.secret.isEmpty()) {
        // The same request with the client named in the Authorization header.
        FormPost request;
        request.url = provider.tokenUrl;
        request.caFile = caFile_;
        request.timeoutSeconds = requestTimeout_;
        request.fields = fields;
        request.basicUser = client.id;
        request.basicPassword = client.secret;
        show(request.Shown());
        e.post = PostForm(pump_, links_, request, cancel);
        if (!e.post.ok())
            show(QStringLiteral("No answer: ") + e.post.failure);
    } else {
        e.post = post(provider.tokenUrl, fields, client, cancel);
    }
    if (!e.post.ok())
        return e;
    e.answer = oauth::ReadTokenAnswer(e.post.body);
    switch (e.answer.kind) {
    case oauth::TokenAnswer::Kind::Token:
        show(QStringLiteral("HTTP %1: a token (%2, %3)")
                 .arg(e.post.status)
                 .arg(e.answer.expiresIn >= 0 ? QStringLiteral("for %1 s").arg(e.answer.expiresIn)
                                              : QStringLiteral("lifetime not given"),
                      e.answer.refreshToken.isEmpty() ? QStringLiteral("no refresh token")
                                                      : QStringLiteral("with a refresh token")));
        break;
    case oauth::TokenAnswer::Kind::Error:
        show(QStringLiteral("HTTP %1: error %2").arg(e.post.status).arg(e.answer.error));
        break;
    case oauth::TokenAnswer::Kind::Unreadable:
        show(QStringLiteral("HTTP %1: %2").arg(e.post.status).arg(e.answer.problem));
        break;
    }
    return e;
}

OAuthResult OAuthFlow::finish(const Exchange& e, const QString& what, const QString& keptRefresh, QStringList secrets,
                              const bool* cancel) const {
    OAuthResult r;
    secrets << e.answer.accessToken << e.answer.refreshToken << keptRefresh;
    auto fail = [&](OAuthResult::Failure kind, const QString& reason) {
        r.failure = kind;
        r.reason = scrubbed(what + QStringLiteral(": ") + reason, secrets);
        return r;
    };
    if (cancel && *cancel)
        return fail(OAuthResult::Failure::Cancelled, QStringLiteral("cancelled"));
    if (!e.post.ok())
        return fail(e.post.error != 0 ? OAuthResult::Failure::Network : OAuthResult::Failure::Protocol, e.post.failure);
    const int status = e.post.status;
    const oauth::TokenAnswer& a = e.answer;
    const bool success = status >= 200 && status < 300;
    if (success && a.kind == oauth::TokenAnswer::Kind::Token) {
        const qint64 lifetime = a.expiresIn > 0 ? a.expiresIn : kAssumedLifetime;
        r.failure = OAuthResult::Failure::None;
        r.accessToken = a.accessToken;
        r.expiresUtc = pump_.now().toUTC().addSecs(lifetime - std::min(kExpiryMargin, lifetime / 2));
        r.refreshToken = a.refreshToken.isEmpty() ? keptRefresh : a.refreshToken;
        r.scope = a.scope;
        return r;
    }
    if (a.kind == oauth::TokenAnswer::Kind::Error) {
        r.error = a.error;
        if (passingStatus(status))
            return fail(OAuthResult::Failure::Network,
                        QStringLiteral("the server is busy (HTTP %1, %2)").arg(status).arg(errorText(a)));
        if (a.error == QLatin1String("invalid_grant") || a.error == QLatin1String("access_denied") ||
            a.error == QLatin1String("expired_token"))
            return fail(OAuthResult::Failure::Refused, QStringLiteral("refused (%1); sign in again").arg(errorText(a)));
        return fail(OAuthResult::Failure::Protocol, QStringLiteral("refused (%1)").arg(errorText(a)));
    }
    if (passingStatus(status))
        return fail(OAuthResult::Failure::Network, QStringLiteral("the server answered HTTP %1").arg(status));
    if (success)
        return fail(OAuthResult::Failure::Protocol, QStringLiteral("unreadable answer: ") + a.problem);
    return fail(OAuthResult::Failure::Protocol, QStringLiteral("HTTP %1 without a readable error").arg(status));
}

OAuthResult OAuthFlow::Refresh(const OAuthProvider& provider, const OAuthClient& client, const QString& refreshToken,
                               const bool* cancel) {
    const QString what = QStringLiteral("Renewing the %1 sign-in").arg(provider.id);
    if (refreshToken.isEmpty()) {
        OAuthResult r;
        r.failure = OAuthResult::Failure::Refused;
        r.reason = what + QStringLiteral(": no refresh token is kept; sign in again");
        return r;
    }
    const QList<FormField> fields{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                  {QStringLiteral("refresh_token"), refreshToken, true}};
    return finish(tokenPost(provider, fields, client, cancel), what, refreshToken, {client.secret}, cancel);
}

OAuthResult OAuthFlow::DeviceGrant(const OAuthProvider& provider, const OAuthClient& client, const QString& scope,
                                   const ShowCode& showCode, const bool* cancel) {
    const QString what = QStringLiteral("Device sign-in with %1").arg(provider.id);
    OAuthResult r;
    auto fail = [&](OAuthResult::Failure kind, const QString& reason) {
        r.failure = kind;
        r.reason = scrubbed(what + QStringLiteral(": ") + reason, {client.secret});
        return r;
    };
    if (provider.deviceUrl.isEmpty())
        return fail(OAuthResult::Failure::Protocol, QStringLiteral("the provider offers no device sign-in"));
    const FormPostResult asked = post(provider.deviceUrl, {{QStringLiteral("scope"), scope}}, client, cancel);
    if (cancel && *cancel)
        return fail(OAuthResult::Failure::Cancelled, QStringLiteral("cancelled"));
    if (!asked.ok())
        return fail(asked.error != 0 ? OAuthResult::Failure::Network : OAuthResult::Failure::Protocol, asked.failure);
    const oauth::DeviceAnswer code = oauth::ReadDeviceAnswer(asked.body);
    if (passingStatus(asked.status))
        return fail(OAuthResult::Failure::Network, QStringLiteral("the server answered HTTP %1").arg(asked.status));
    if (code.kind == oauth::DeviceAnswer::Kind::Error) {
        r.error = code.error;
        show(QStringLiteral("HTTP %1: error %2").arg(asked.status).arg(code.error));
        return fail(OAuthResult::Failure::Protocol,
                    QStringLiteral("refused (%1)")
                        .arg(code.errorDescription.isEmpty()
                                 ? code.error
                                 : code.error + QStringLiteral(": ") + oauth::Printable(code.errorDescription)));
    }
    if (asked.status < 200 || asked.status >= 300 || code.kind != oauth::DeviceAnswer::Kind::Code)
        return fail(OAuthResult::Failure::Protocol,
                    QStringLiteral("unreadable answer (HTTP %1%2)")
                        .arg(asked.status)
                        .arg(code.problem.isEmpty() ? QString() : QStringLiteral(", ") + code.problem));
    // One arg() for all, so that a "%n" in the server's texts stays as it is.
    show(QStringLiteral("HTTP %1: user code %2 at %3, valid %4 s, polling every %5 s")
             .arg(QString::number(asked.status), code.userCode, code.verificationUri, QString::number(code.expiresIn),
                  QString::number(code.interval)));
    if (showCode)
        showCode({code.userCode, code.verificationUri, code.verificationUriComplete, code.expiresIn});

    const qint64 expiresMs = pump_.steadyMs() + code.expiresIn * 1000;
    const QList<FormField> fields{{QStringLiteral("grant_type"), kDeviceGrantType},
                                  {QStringLiteral("device_code"), code.deviceCode, true}};
    const QStringList secrets{client.secret, code.deviceCode};
    int interval = code.interval;
    int failures = 0;
    for (;;) {
        if (cancel && *cancel)
            return fail(OAuthResult::Failure::Cancelled, QStringLiteral("cancelled"));
        // After passing failures the wait doubles each time, up to a minute
        // (or the interval itself when the server asked for more).
        const int wait =
            failures == 0 ? interval : std::max(interval, std::min(kMaxPollBackoff, interval << std::min(failures, 6)));
        if (pump_.steadyMs() + wait * 1000LL > expiresMs) {
            r.error = QStringLiteral("expired_token");
            return fail(OAuthResult::Failure::Refused,
                        QStringLiteral("the code expired before the sign-in was finished; sign in again"));
        }
        pump_.pause(wait, cancel);
        if (cancel && *cancel)
            return fail(OAuthResult::Failure::Cancelled, QStringLiteral("cancelled"));
        const Exchange e = tokenPost(provider, fields, client, cancel);
        if (e.post.ok() && e.answer.kind == oauth::TokenAnswer::Kind::Error && !passingStatus(e.post.status)) {
            if (e.answer.error == QLatin1String("authorization_pending")) {
                failures = 0;
                continue;
            }
            if (e.answer.error == QLatin1String("slow_down")) {
                failures = 0;
                interval = std::min(interval + 5, oauth::kMaxInterval);
                continue;
            }
            if (e.answer.error == QLatin1String("access_denied")) {
                r.error = e.answer.error;
                return fail(OAuthResult::Failure::Refused, QStringLiteral("the sign-in was declined"));
            }
            if (e.answer.error == QLatin1String("expired_token")) {
                r.error = e.answer.error;
                return fail(OAuthResult::Failure::Refused,
                            QStringLiteral("the code expired before the sign-in was finished; sign in again"));
            }
        }
        const bool passing = (!e.post.ok() && e.post.error != 0 && !(cancel && *cancel)) ||
                             (e.post.ok() && passingStatus(e.post.status));
        if (passing && ++failures < kMaxPollFailures)
            continue;
        return finish(e, what, QString(), secrets, cancel);
    }
}

OAuthResult OAuthFlow::CodeGrant(const OAuthProvider& provider, const OAuthClient& client, const QString& scope,
                                 const QString& loginHint, const ShowUrl& showUrl, const bool* cancel) {
    const QString what = QStringLiteral("Browser sign-in with %1").arg(provider.id);
    OAuthResult r;
    auto fail = [&](OAuthResult::Failure kind, const QString& reason) {
        r.failure = kind;
        r.reason = scrubbed(what + QStringLiteral(": ") + reason, {client.secret});
        return r;
    };
    if (provider.authorizationUrl.isEmpty())
        return fail(OAuthResult::Failure::Protocol, QStringLiteral("the provider offers no browser sign-in"));
    if (const QString problem = FormPostUrlProblem(provider.authorizationUrl); !problem.isEmpty())
        return fail(OAuthResult::Failure::Protocol, problem);
    if (const QString problem = FormPostUrlProblem(provider.tokenUrl); !problem.isEmpty())
        return fail(OAuthResult::Failure::Protocol, problem);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return fail(OAuthResult::Failure::Network,
                    QStringLiteral("no port on 127.0.0.1 for the browser's answer (%1)").arg(server.errorString()));
    const QString redirectUri = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    const QString verifier = NewCodeVerifier();
    const QString state = NewState();

    // Each browser connection's bytes until its request is whole; the first
    // request carrying this sign-in's answer ends the wait. When too many
    // connections wait at once (idle ones a browser opens ahead, or another
    // program's), the oldest is dropped, so the browser's own always gets in.
    QHash<QTcpSocket*, QByteArray> pending;
    QList<QTcpSocket*> arrival;
    auto forget = [&pending, &arrival](QTcpSocket* socket) {
        pending.remove(socket);
        arrival.removeOne(socket);
    };
    std::optional<Redirect> outcome;
    QPointer<QTcpSocket> answered;
    auto respond = [](QTcpSocket* socket, int status, const QString& message) {
        socket->write(browserPage(status, message));
        socket->disconnectFromHost();
    };
    auto onBytes = [&](QTcpSocket* socket) {
        if (!pending.contains(socket) || outcome)
            return;
        QByteArray& bytes = pending[socket];
        bytes += socket->read(kMaxRedirectRequest + 1 - bytes.size());
        const bool whole = bytes.contains("\r\n\r\n") || bytes.contains("\n\n");
        if (!whole && bytes.size() <= kMaxRedirectRequest)
            return;
        const Redirect got = whole ? ReadRedirect(bytes, state) : Redirect{};
        forget(socket);
        switch (got.kind) {
        case Redirect::Kind::Code: respond(socket, 200, QStringLiteral("Tessaly has received the sign-in.")); break;
        case Redirect::Kind::Error:
            respond(socket, 200, QStringLiteral("The sign-in was not completed (%1).").arg(got.error));
            break;
        case Redirect::Kind::WrongState:
            respond(socket, 400, QStringLiteral("This answer does not belong to the sign-in Tessaly started."));
            break;
        case Redirect::Kind::NotForUs: respond(socket, 404, QStringLiteral("Nothing here.")); return;
        case Redirect::Kind::Unreadable:
            respond(socket, 400, QStringLiteral("Tessaly could not read this request."));
            return;
        }
        answered = socket;
        outcome = got;
    };
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            if (outcome) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            if (pending.size() >= kMaxRedirectConnections) {
                QTcpSocket* oldest = arrival.first();
                forget(oldest);
                oldest->disconnect(&server);
                oldest->abort();
                oldest->deleteLater();
            }
            pending.insert(socket, {});
            arrival.append(socket);
            QObject::connect(socket, &QTcpSocket::readyRead, &server, [&onBytes, socket] { onBytes(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, &server, [&forget, socket] {
                forget(socket);
                socket->deleteLater();
            });
            onBytes(socket);
        }
    });

    const QString url =
        AuthorizationUrl(provider, client.id, redirectUri, scope, state, CodeChallenge(verifier), loginHint);
    show(QStringLiteral("Waiting at %1 for the browser, up to %2 s").arg(redirectUri).arg(redirectTimeout_));
    if (showUrl)
        showUrl(url);
    const bool got = pump_.waitUntil([&] { return outcome.has_value(); }, redirectTimeout_, cancel);
    server.close();
    if (!got) {
        if (cancel && *cancel)
            return fail(OAuthResult::Failure::Cancelled, QStringLiteral("cancelled"));
        return fail(OAuthResult::Failure::Refused,
                    QStringLiteral("the browser did not come back within %1 s; sign in again").arg(redirectTimeout_));
    }
    // The browser's page goes out before the connection is let go.
    pump_.waitUntil([&] { return !answered || answered->bytesToWrite() == 0; }, 2, nullptr);
    switch (outcome->kind) {
    case Redirect::Kind::Code: break;
    case Redirect::Kind::Error:
        show(QStringLiteral("Browser: error %1").arg(outcome->error));
        r.error = outcome->error;
        if (outcome->error == QLatin1String("access_denied"))
            return fail(OAuthResult::Failure::Refused, QStringLiteral("the sign-in was declined in the browser"));
        return fail(OAuthResult::Failure::Protocol,
                    QStringLiteral("the provider refused (%1)")
                        .arg(outcome->description.isEmpty()
                                 ? outcome->error
                                 : outcome->error + QStringLiteral(": ") + outcome->description));
    case Redirect::Kind::WrongState:
        return fail(OAuthResult::Failure::Protocol,
                    QStringLiteral("the browser brought an answer that does not belong to this sign-in"));
    case Redirect::Kind::NotForUs:
    case Redirect::Kind::Unreadable:
        return fail(OAuthResult::Failure::Protocol, QStringLiteral("unreadable answer from the browser"));
    }
    show(QStringLiteral("Browser: a code came back; exchanging it"));
    const QList<FormField> fields{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                  {QStringLiteral("code"), outcome->code, true},
                                  {QStringLiteral("redirect_uri"), redirectUri},
                                  {QStringLiteral("code_verifier"), verifier, true}};
    return finish(tokenPost(provider, fields, client, cancel), what, QString(),
                  {client.secret, outcome->code, verifier}, cancel);
}

} // namespace tessaly
