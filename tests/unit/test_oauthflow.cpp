// The OAuth sign-in flows. Device grant and refresh run against a scripted
// token endpoint in virtual time; the code grant's loopback listener is
// driven by a real local browser stand-in (a QTcpSocket) and exchanges the
// code with a token endpoint on 127.0.0.1.

#include "features/signin/oauthflow.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

using namespace tessaly;
using Failure = OAuthResult::Failure;
Q_DECLARE_METATYPE(OAuthResult::Failure)

namespace {

const QString kSecret = QStringLiteral("client-secret-42");
const QString kRefresh = QStringLiteral("1//old-refresh-token");
const QByteArray kToken = R"({"access_token":"ya29.fresh-access","token_type":"Bearer","expires_in":3600})";

// "STATUS JSON" as an HTTP answer.
QByteArray answer(const QByteArray& line) {
    const qsizetype space = line.indexOf(' ');
    const QByteArray body = line.mid(space + 1);
    return "HTTP/1.1 " + line.left(space) +
           " X\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

QByteArray bodyOf(const QByteArray& request) { return request.mid(request.indexOf("\r\n\r\n") + 4); }

// The token and device endpoints of auth.example.org, answering from lists.
struct Rig {
    VirtualEventPump pump;
    ScriptedNet net{pump};
    std::shared_ptr<HttpResponder> http = std::make_shared<HttpResponder>();
    QList<QByteArray> deviceAnswers;
    QList<QByteArray> tokenAnswers;
    QList<double> tokenTimes; // virtual seconds of each token request
    QList<QByteArray> tokenBodies;
    OAuthProvider provider = CustomOAuthProvider(
        QStringLiteral("https://auth.example.org/authorize"), QStringLiteral("https://auth.example.org/token"),
        QStringLiteral("https://auth.example.org/device"), QStringLiteral("mail"));
    OAuthClient client{QStringLiteral("tessaly-app"), kSecret};
    OAuthFlow flow{pump, net};
    QString traffic;

    Rig() {
        http->replyDelay = 0.2;
        http->respond = [this](const QByteArray& request) -> QByteArray {
            if (request.startsWith("POST /device "))
                return deviceAnswers.isEmpty() ? QByteArray() : answer(deviceAnswers.takeFirst());
            tokenTimes << pump.elapsedSeconds();
            tokenBodies << bodyOf(request);
            return tokenAnswers.isEmpty() ? QByteArray() : answer(tokenAnswers.takeFirst());
        };
        net.listen(QStringLiteral("auth.example.org"), 443, [this] { return makeHttpScript(http); });
        flow.SetRequestTimeout(20);
        flow.SetTraffic([this](const QString& t) { traffic += t + QLatin1Char('\n'); });
    }
    // Nothing secret in a text the flow gave out.
    void verifyClean(const OAuthResult& r) const {
        for (const QString& text : {r.reason, traffic})
            for (const char* secret :
                 {"client-secret-42", "old-refresh-token", "fresh-access", "new-refresh", "DEVICE-CODE-77"})
                QVERIFY2(!text.contains(QLatin1String(secret)), qPrintable(secret + (": " + text)));
    }
};

const QByteArray kDevice = R"(200 {"device_code":"DEVICE-CODE-77","user_code":"WDJB-MJHT",
    "verification_uri":"https:\/\/auth.example.org/device","expires_in":60,"interval":5})";
const QByteArray kPending = R"(400 {"error":"authorization_pending"})";

} // namespace

class TestOAuthFlow : public QObject {
    Q_OBJECT
private slots:
    void deviceGrant_data() {
        QTest::addColumn<QList<QByteArray>>("polls");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QList<double>>("gaps"); // seconds between polls, the first from the code's answer
        QTest::newRow("approved") << QList<QByteArray>{kPending, "400 {\"error\":\"slow_down\"}", kPending,
                                                       "200 " + kToken}
                                  << Failure::None << QString() << QList<double>{5, 5, 10, 10};
        QTest::newRow("declined") << QList<QByteArray>{kPending, "400 {\"error\":\"access_denied\"}"}
                                  << Failure::Refused << "access_denied" << QList<double>{5, 5};
        QTest::newRow("server says expired") << QList<QByteArray>{"400 {\"error\":\"expired_token\"}"}
                                             << Failure::Refused << "expired_token" << QList<double>{5};
        // Sixty seconds of life at five-second polls, each answer taking a
        // moment: eleven polls, then the flow stops on its own.
        QTest::newRow("code runs out") << QList<QByteArray>(20, kPending) << Failure::Refused << "expired_token"
                                       << QList<double>(11, 5);
        QTest::newRow("busy, then approved")
            << QList<QByteArray>{"503 {}", "200 " + kToken} << Failure::None << QString() << QList<double>{5, 10};
        QTest::newRow("client unknown") << QList<QByteArray>{"401 {\"error\":\"invalid_client\"}"} << Failure::Protocol
                                        << "invalid_client" << QList<double>{5};
    }
    void deviceGrant() {
        QFETCH(QList<QByteArray>, polls);
        QFETCH(Failure, failure);
        QFETCH(QString, error);
        QFETCH(QList<double>, gaps);
        Rig rig;
        rig.deviceAnswers = {kDevice};
        rig.tokenAnswers = polls;
        DeviceCodePrompt shown;
        double shownAt = -1;
        const OAuthResult r = rig.flow.DeviceGrant(
            rig.provider, rig.client, QStringLiteral("mail offline"),
            [&](const DeviceCodePrompt& p) {
                shown = p;
                shownAt = rig.pump.elapsedSeconds();
            },
            nullptr);
        QCOMPARE(r.failure, failure);
        QCOMPARE(r.error, error);
        QCOMPARE(shown.userCode, QStringLiteral("WDJB-MJHT"));
        QCOMPARE(shown.expiresIn, qint64(60));
        QCOMPARE(rig.tokenTimes.size(), gaps.size());
        double last = shownAt;
        for (qsizetype i = 0; i < gaps.size(); ++i) {
            // Each poll leaves `gap` seconds after the last one's answer
            // (latency and reply delay come on top).
            const double gap = rig.tokenTimes[i] - last;
            QVERIFY2(gap >= gaps[i] && gap < gaps[i] + 1,
                     qPrintable(QStringLiteral("poll %1 after %2 s").arg(i).arg(gap)));
            last = rig.tokenTimes[i] + 0.3;
        }
        QVERIFY(rig.tokenBodies.first().contains("grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code"));
        QVERIFY(rig.tokenBodies.first().contains("device_code=DEVICE-CODE-77"));
        if (r.ok()) {
            QCOMPARE(r.accessToken, QStringLiteral("ya29.fresh-access"));
            QCOMPARE(r.expiresUtc, rig.pump.now().toUTC().addSecs(3600 - 60));
        } else {
            QVERIFY(r.accessToken.isEmpty());
            QVERIFY(!r.reason.isEmpty());
        }
        rig.verifyClean(r);
    }

    void deviceGrantCancelled() {
        Rig rig;
        rig.deviceAnswers = {kDevice};
        rig.tokenAnswers = QList<QByteArray>(20, kPending);
        bool cancel = false;
        rig.pump.schedule(17, [&] { cancel = true; });
        const OAuthResult r = rig.flow.DeviceGrant(rig.provider, rig.client, "mail", {}, &cancel);
        QCOMPARE(r.failure, Failure::Cancelled);
        QVERIFY(rig.pump.elapsedSeconds() < 18);
        QCOMPARE(rig.tokenTimes.size(), 3);
    }

    void deviceCodeRefused() {
        Rig rig;
        rig.deviceAnswers = {R"(400 {"error":"invalid_scope","error_description":"no such scope"})"};
        const OAuthResult r = rig.flow.DeviceGrant(rig.provider, rig.client, "mail", {}, nullptr);
        QCOMPARE(r.failure, Failure::Protocol);
        QCOMPARE(r.error, QStringLiteral("invalid_scope"));
        QVERIFY(rig.tokenTimes.isEmpty());
    }

    void refresh_data() {
        QTest::addColumn<QByteArray>("reply"); // empty: the server stays silent
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("refresh"); // the refresh token to keep
        QTest::newRow("new refresh token")
            << QByteArray(R"(200 {"access_token":"ya29.fresh-access","token_type":"Bearer","expires_in":1800,
                "refresh_token":"1\/\/new-refresh"})")
            << Failure::None << "1//new-refresh";
        QTest::newRow("old one kept") << QByteArray("200 " + kToken) << Failure::None << kRefresh;
        QTest::newRow("revoked")
            << QByteArray(R"(400 {"error":"invalid_grant","error_description":"Token has been\nexpired or revoked."})")
            << Failure::Refused << QString();
        // A server that echoes the token it refused does not get it shown.
        QTest::newRow("revoked, echoed")
            << QByteArray(R"(400 {"error":"invalid_grant","error_description":"bad token 1\/\/old-refresh-token"})")
            << Failure::Refused << QString();
        QTest::newRow("busy") << QByteArray("503 <html>Service Unavailable</html>") << Failure::Network << QString();
        QTest::newRow("silent") << QByteArray() << Failure::Network << QString();
        QTest::newRow("client unknown") << QByteArray(R"(401 {"error":"invalid_client"})") << Failure::Protocol
                                        << QString();
        QTest::newRow("garbage") << QByteArray("200 <html>hello</html>") << Failure::Protocol << QString();
    }
    void refresh() {
        QFETCH(QByteArray, reply);
        QFETCH(Failure, failure);
        QFETCH(QString, refresh);
        Rig rig;
        if (!reply.isEmpty())
            rig.tokenAnswers = {reply};
        const OAuthResult r = rig.flow.Refresh(rig.provider, rig.client, kRefresh, nullptr);
        QCOMPARE(r.failure, failure);
        QCOMPARE(rig.tokenTimes.size(), 1); // one request, never a retry loop
        QVERIFY(rig.pump.elapsedSeconds() <= 21);
        const QByteArray sent = rig.tokenBodies.first();
        QVERIFY(sent.contains("grant_type=refresh_token") && sent.contains("refresh_token=1%2F%2Fold-refresh-token"));
        QVERIFY(sent.contains("client_secret=client-secret-42"));
        QVERIFY(rig.net.connections().first()->encrypted);
        if (r.ok()) {
            QCOMPARE(r.refreshToken, refresh);
            QVERIFY(r.expiresUtc > rig.pump.now().toUTC() && r.expiresUtc < rig.pump.now().toUTC().addSecs(3600));
        }
        rig.verifyClean(r);
    }

    // A token endpoint in clear over the network is never contacted; one
    // whose certificate fails is a passing network failure.
    void refusedAddresses() {
        Rig rig;
        rig.provider.tokenUrl = QStringLiteral("http://auth.example.org/token");
        OAuthResult r = rig.flow.Refresh(rig.provider, rig.client, kRefresh, nullptr);
        QCOMPARE(r.failure, Failure::Protocol);
        QVERIFY2(r.reason.contains(QLatin1String("https://")), qPrintable(r.reason));
        QVERIFY(rig.net.connections().isEmpty());

        rig.provider.tokenUrl = QStringLiteral("https://auth.example.org/token");
        rig.net.setUntrusted(QStringLiteral("auth.example.org"));
        r = rig.flow.Refresh(rig.provider, rig.client, kRefresh, nullptr);
        QCOMPARE(r.failure, Failure::Network);
        QVERIFY2(r.reason.contains(QLatin1String("untrusted")), qPrintable(r.reason));
        QVERIFY(rig.tokenTimes.isEmpty());
        rig.verifyClean(r);
    }

    // Each scope once, the refresh scope last; a custom token endpoint in
    // clear is named as the problem.
    void providers() {
        QCOMPARE(OAuthPreset(QStringLiteral("Google"))->Scopes(true, true, true),
                 QStringLiteral("https://mail.google.com/"));
        const QString ms = OAuthPreset(QStringLiteral("microsoft"))->Scopes(true, false, true);
        QCOMPARE(ms.split(QLatin1Char(' ')).size(), 3);
        QVERIFY(ms.endsWith(QLatin1String(" offline_access")));
        QVERIFY(!OAuthPreset(QStringLiteral("custom")));
        QVERIFY(OAuthProviderProblem(*OAuthPreset(QStringLiteral("microsoft"))).isEmpty());
        const OAuthProvider clear = CustomOAuthProvider(QStringLiteral("https://a.example/auth"),
                                                        QStringLiteral("http://a.example/token"), {}, "mail");
        QVERIFY(OAuthProviderProblem(clear).startsWith(QLatin1String("token endpoint")));
    }

    void pkce() {
        // RFC 7636, appendix B.
        QCOMPARE(OAuthFlow::CodeChallenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
                 QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        const QString a = OAuthFlow::NewCodeVerifier();
        QCOMPARE(a.size(), 64);
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9._~-]{64}$")).match(a).hasMatch());
        QVERIFY(a != OAuthFlow::NewCodeVerifier());
        QCOMPARE(OAuthFlow::NewState().size(), 32);
    }

    void redirectRequests_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("kind"); // OAuthFlow::Redirect::Kind
        using K = OAuthFlow::Redirect::Kind;
        QTest::newRow("no state") << QByteArray("GET /?code=c HTTP/1.1\r\n\r\n") << int(K::WrongState);
        QTest::newRow("state twice") << QByteArray("GET /?code=c&state=S1&state=S1 HTTP/1.1\r\n\r\n")
                                     << int(K::Unreadable);
        QTest::newRow("favicon") << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << int(K::NotForUs);
        QTest::newRow("bare reload") << QByteArray("GET / HTTP/1.1\r\n\r\n") << int(K::NotForUs);
        QTest::newRow("post") << QByteArray("POST /?code=c&state=S1 HTTP/1.1\r\n\r\n") << int(K::NotForUs);
        QTest::newRow("not http") << QByteArray("\x16\x03\x01\x02") << int(K::Unreadable);
    }
    void redirectRequests() {
        QFETCH(QByteArray, request);
        QFETCH(int, kind);
        const OAuthFlow::Redirect r = OAuthFlow::ReadRedirect(request, QStringLiteral("S1"));
        QCOMPARE(int(r.kind), kind);
    }

    // query: what the browser stand-in sends back, %1 being the state of the
    // authorization URL.
    void codeGrant_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("idle"); // connections opened before the browser's, never sending a byte
        QTest::newRow("signed in") << "code=4%2Fcode-99&state=%1&scope=mail" << Failure::None << 0;
        QTest::newRow("behind idle connections") << "code=4%2Fcode-99&state=%1" << Failure::None << 20;
        QTest::newRow("wrong state") << "code=4%2Fcode-99&state=not-%1" << Failure::Protocol << 0;
        QTest::newRow("declined") << "error=access_denied&state=%1" << Failure::Refused << 0;
    }
    void codeGrant() {
        QFETCH(QString, query);
        QFETCH(Failure, failure);
        QFETCH(int, idle);
        RealEventPump pump;
        TcpLinkFactory links;
        // The token endpoint: one answer to one whole request.
        QTcpServer tokenServer;
        QVERIFY(tokenServer.listen(QHostAddress::LocalHost, 0));
        QByteArray tokenRequest;
        connect(&tokenServer, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* s = tokenServer.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [&, s] {
                tokenRequest += s->readAll();
                const qsizetype end = tokenRequest.indexOf("\r\n\r\n");
                const QByteArray length = "Content-Length: ";
                const qsizetype at = tokenRequest.indexOf(length);
                if (end < 0 || at < 0)
                    return;
                const int size =
                    tokenRequest.mid(at + length.size(), tokenRequest.indexOf('\r', at) - at - length.size()).toInt();
                if (tokenRequest.size() - end - 4 < size)
                    return;
                s->write(answer(R"(200 {"access_token":"ya29.fresh-access","token_type":"Bearer","expires_in":3600,
                    "refresh_token":"1\/\/new-refresh"})"));
                s->disconnectFromHost();
            });
        });
        OAuthProvider provider = CustomOAuthProvider(
            QStringLiteral("https://auth.example.org/authorize"),
            QStringLiteral("http://127.0.0.1:%1/token").arg(tokenServer.serverPort()), QString(), "mail");
        provider.authorizationParameters = {{QStringLiteral("access_type"), QStringLiteral("offline")}};
        OAuthFlow flow(pump, links);
        flow.SetRedirectTimeout(10);
        QString traffic;
        flow.SetTraffic([&](const QString& t) { traffic += t + QLatin1Char('\n'); });

        QUrlQuery asked;
        QTcpSocket browser;
        QByteArray page;
        connect(&browser, &QTcpSocket::readyRead, this, [&] { page += browser.readAll(); });
        // The browser stand-in asks for the favicon first, then brings the answer.
        QTcpSocket favicon;
        std::vector<std::unique_ptr<QTcpSocket>> idlers;
        const OAuthResult r = flow.CodeGrant(
            provider, {QStringLiteral("app"), kSecret}, QStringLiteral("mail"), QStringLiteral("ann@example.org"),
            [&](const QString& url) {
                asked = QUrlQuery(QUrl(url).query());
                const QUrl redirect(asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
                for (int i = 0; i < idle; ++i) {
                    idlers.push_back(std::make_unique<QTcpSocket>());
                    idlers.back()->connectToHost(QHostAddress::LocalHost, redirect.port());
                    QVERIFY(idlers.back()->waitForConnected(1000));
                }
                pump.pause(0.1, nullptr); // the listener takes them all in before the browser comes
                favicon.connectToHost(QHostAddress::LocalHost, redirect.port());
                favicon.write("GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                browser.connectToHost(QHostAddress::LocalHost, redirect.port());
                const QString state = asked.queryItemValue(QStringLiteral("state"));
                browser.write("GET /?" + query.arg(state).toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            },
            nullptr);
        QCOMPARE(r.failure, failure);
        QCOMPARE(asked.queryItemValue(QStringLiteral("response_type")), QStringLiteral("code"));
        QCOMPARE(asked.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        QCOMPARE(asked.queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded),
                 QStringLiteral("ann@example.org"));
        QCOMPARE(asked.queryItemValue(QStringLiteral("access_type")), QStringLiteral("offline"));
        QVERIFY(asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded)
                    .startsWith(QLatin1String("http://127.0.0.1:")));
        QTRY_VERIFY_WITH_TIMEOUT(page.contains("You may close this window."), 2000);
        if (failure != Failure::None) {
            QVERIFY(tokenRequest.isEmpty());
            return;
        }
        QCOMPARE(r.accessToken, QStringLiteral("ya29.fresh-access"));
        QCOMPARE(r.refreshToken, QStringLiteral("1//new-refresh"));
        // The exchange carries the code, the same redirect URI, and the
        // verifier whose challenge the browser was given.
        const QUrlQuery sent(QString::fromLatin1(bodyOf(tokenRequest)));
        QCOMPARE(sent.queryItemValue(QStringLiteral("grant_type")), QStringLiteral("authorization_code"));
        QCOMPARE(sent.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded), QStringLiteral("4/code-99"));
        QCOMPARE(sent.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
                 asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        const QString verifier = sent.queryItemValue(QStringLiteral("code_verifier"), QUrl::FullyDecoded);
        QCOMPARE(OAuthFlow::CodeChallenge(verifier), asked.queryItemValue(QStringLiteral("code_challenge")));
        for (const QString& secret : {verifier, QStringLiteral("code-99"), kSecret, QStringLiteral("fresh-access")})
            QVERIFY2(!traffic.contains(secret) && !r.reason.contains(secret), qPrintable(traffic));
    }
};

QTEST_GUILESS_MAIN(TestOAuthFlow)
#include "test_oauthflow.moc"
