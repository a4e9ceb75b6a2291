// A token endpoint's bytes, read three ways. As JSON: a token answer read
// as one holds a Bearer token of visible characters within the bounds and a
// believable lifetime; a device answer has an interval within bounds and a
// sign-in address over https (or on this machine). As an HTTP answer fed in
// pieces: once whole or unreadable it stays so, and no body exceeds its
// bound. As the answer to a refresh in virtual time: the flow ends within
// its time-out and its reason never shows the refresh token or the secret.

#include "features/signin/oauthflow.h"
#include "platform/formpost.h"
#include "platform/oauthreplies.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"

#include <algorithm>

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

namespace {

bool visible(const QString& s) {
    return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

void readJson(const QByteArray& bytes) {
    const oauth::TokenAnswer t = oauth::ReadTokenAnswer(bytes);
    switch (t.kind) {
    case oauth::TokenAnswer::Kind::Token:
        FUZZ_CHECK(!t.accessToken.isEmpty() && t.accessToken.size() <= oauth::kMaxText && visible(t.accessToken));
        FUZZ_CHECK(t.expiresIn == -1 || (t.expiresIn >= 1 && t.expiresIn <= oauth::kMaxLifetime));
        FUZZ_CHECK(visible(t.refreshToken));
        break;
    case oauth::TokenAnswer::Kind::Error:
        FUZZ_CHECK(!t.error.isEmpty());
        for (const QChar c : t.errorDescription)
            FUZZ_CHECK(c.unicode() >= 0x20);
        break;
    case oauth::TokenAnswer::Kind::Unreadable: FUZZ_CHECK(!t.problem.isEmpty() && t.accessToken.isEmpty()); break;
    }
    const oauth::DeviceAnswer d = oauth::ReadDeviceAnswer(bytes);
    if (d.kind == oauth::DeviceAnswer::Kind::Code) {
        FUZZ_CHECK(d.interval >= 1 && d.interval <= oauth::kMaxInterval);
        FUZZ_CHECK(d.expiresIn >= 1 && d.expiresIn <= oauth::kMaxLifetime);
        FUZZ_CHECK(!d.userCode.isEmpty() && !d.deviceCode.isEmpty());
        FUZZ_CHECK(FormPostUrlProblem(d.verificationUri).isEmpty());
    }
}

void readHttp(const QByteArray& bytes) {
    // The first byte sets the piece size, so splits fall everywhere; at most
    // a few hundred pieces, so a long input stays quick.
    const qsizetype piece =
        std::max<qsizetype>(bytes.isEmpty() ? 1 : 1 + static_cast<unsigned char>(bytes[0]) % 61, bytes.size() / 256);
    HttpRead settled = HttpRead::NeedMore;
    QByteArray settledBody;
    for (qsizetype at = 0;; at += piece) {
        const bool closed = at >= bytes.size();
        int status = 0;
        QByteArray body;
        QString problem;
        const HttpRead r = ReadHttpAnswer(bytes.left(at), closed, status, body, problem);
        FUZZ_CHECK(body.size() <= kFormPostMaxBody);
        FUZZ_CHECK((r == HttpRead::Bad) == !problem.isEmpty());
        if (r == HttpRead::Done)
            FUZZ_CHECK(status >= 200 && status <= 999);
        if (settled == HttpRead::Done && !closed)
            FUZZ_CHECK(r == HttpRead::Done && body == settledBody);
        if (settled == HttpRead::NeedMore && r != HttpRead::NeedMore) {
            settled = r;
            settledBody = body;
        }
        if (closed) {
            FUZZ_CHECK(r != HttpRead::NeedMore);
            break;
        }
    }
}

void refresh(const QByteArray& bytes) {
    VirtualEventPump pump(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    ScriptedNet net{pump};
    net.setLatency(0.01);
    auto http = std::make_shared<HttpResponder>();
    http->respond = [&bytes](const QByteArray&) { return bytes; };
    net.listen(QStringLiteral("auth.example.org"), 443, [http] { return makeHttpScript(http); });
    OAuthFlow flow(pump, net);
    flow.SetRequestTimeout(30);
    QString traffic;
    flow.SetTraffic([&traffic](const QString& t) { traffic += t; });
    const OAuthProvider provider = CustomOAuthProvider(QString(), QStringLiteral("https://auth.example.org/token"),
                                                       QString(), QStringLiteral("mail"));
    const QString refreshToken = QStringLiteral("1//fuzz-refresh-token");
    const OAuthResult r =
        flow.Refresh(provider, {QStringLiteral("app"), QStringLiteral("fuzz-secret")}, refreshToken, nullptr);
    FUZZ_CHECK(pump.elapsedSeconds() <= 31);
    FUZZ_CHECK(r.ok() == !r.accessToken.isEmpty());
    if (r.ok())
        FUZZ_CHECK(!r.refreshToken.isEmpty() && r.expiresUtc > pump.now().toUTC());
    for (const QString& text : {r.reason, traffic})
        FUZZ_CHECK(!text.contains(refreshToken) && !text.contains(QLatin1String("fuzz-secret")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 17)
        return 0;
    const QByteArray bytes = fuzz::Bytes(data, size);
    readJson(bytes);
    readHttp(bytes);
    refresh(bytes);
    return 0;
}
