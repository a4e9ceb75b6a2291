// The OAuth 2.0 sign-in messages against the published examples, the
// mechanism chosen from a server's list, and servers' error challenges.

#include "platform/sasloauth.h"

#include <QtTest>

using namespace tessaly;
using sasl::OAuthMechanism;

class TestSaslOAuth : public QObject {
    Q_OBJECT
private slots:
    void initialResponses_data() {
        QTest::addColumn<int>("mechanism");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("expected");
        // RFC 7628, section 4.1.
        QTest::newRow("OAUTHBEARER example")
            << int(OAuthMechanism::OAuthBearer) << "user@example.com" << "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="
            << QByteArray("n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
                          "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01");
        QTest::newRow("OAUTHBEARER escapes the user name")
            << int(OAuthMechanism::OAuthBearer) << "a,b=c" << "t"
            << QByteArray("n,a=a=2Cb=3Dc,\x01host=server.example.com\x01port=143\x01" "auth=Bearer t\x01\x01");
        // The XOAUTH2 example as the largest provider documents it (base64).
        QTest::newRow("XOAUTH2 example")
            << int(OAuthMechanism::XOAuth2) << "someuser@example.com" << "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"
            << QByteArray::fromBase64("dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGN"
                                      "rQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
        QTest::newRow("control characters cannot add a pair")
            << int(OAuthMechanism::XOAuth2) << "me\x01" "auth=Bearer stolen" << "t\r\n"
            << QByteArray("user=meauth=Bearer stolen\x01" "auth=Bearer t\x01\x01");
    }
    void initialResponses() {
        QFETCH(int, mechanism);
        QFETCH(QString, user);
        QFETCH(QString, token);
        QFETCH(QByteArray, expected);
        QCOMPARE(sasl::InitialResponse(OAuthMechanism(mechanism), user, token, QStringLiteral(" server.example.com "),
                                       143),
                 expected);
    }

    void mechanismChoice_data() {
        QTest::addColumn<QList<QByteArray>>("offered");
        QTest::addColumn<int>("chosen");
        QTest::newRow("both: OAUTHBEARER") << QList<QByteArray>{"PLAIN", "XOAUTH2", "OAUTHBEARER"}
                                           << int(OAuthMechanism::OAuthBearer);
        QTest::newRow("XOAUTH2 only, any case") << QList<QByteArray>{"LOGIN", "xoauth2"} << int(OAuthMechanism::XOAuth2);
        QTest::newRow("neither") << QList<QByteArray>{"PLAIN", "LOGIN"} << int(OAuthMechanism::None);
    }
    void mechanismChoice() {
        QFETCH(QList<QByteArray>, offered);
        QFETCH(int, chosen);
        QCOMPARE(int(sasl::ChooseOAuth(offered)), chosen);
    }

    void errorChallenges_data() {
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<QString>("status"); // empty: not read as one
        QTest::addColumn<bool>("tokenRefused");
        auto b64 = [](const QByteArray& json) { return json.toBase64(); };
        QTest::newRow("RFC 7628") << b64("{\"status\":\"invalid_token\",\"scope\":\"example_scope\","
                                         "\"openid-configuration\":\"https://example.com/.well-known/openid-configuration\"}")
                                  << "invalid_token" << true;
        QTest::newRow("XOAUTH2 401") << b64("{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"https://mail.google.com/\"}")
                                     << "401" << true;
        QTest::newRow("scope, not the token") << b64("{\"status\":\"insufficient_scope\"}") << "insufficient_scope"
                                              << false;
        QTest::newRow("spaces around") << "  " + b64("{\"status\":\"invalid_token\"}") + "\r\n" << "invalid_token"
                                       << true;
        QTest::newRow("not base64") << QByteArray("{\"status\":\"invalid_token\"}") << "" << false;
        QTest::newRow("not an object") << b64("[\"invalid_token\"]") << "" << false;
        QTest::newRow("no status") << b64("{\"scope\":\"x\"}") << "" << false;
        QTest::newRow("far too long") << b64("{\"status\":\"invalid_token\",\"x\":\"" + QByteArray(9000, 'x') + "\"}")
                                      << "" << false;
        QTest::newRow("empty") << QByteArray() << "" << false;
    }
    void errorChallenges() {
        QFETCH(QByteArray, challenge);
        QFETCH(QString, status);
        QFETCH(bool, tokenRefused);
        const std::optional<sasl::OAuthRefusal> r = sasl::ReadErrorChallenge(challenge);
        QCOMPARE(r.has_value(), !status.isEmpty());
        if (r) {
            QCOMPARE(r->status, status);
            QCOMPARE(r->TokenRefused(), tokenRefused);
        }
    }
};

QTEST_APPLESS_MAIN(TestSaslOAuth)
#include "test_sasloauth.moc"
