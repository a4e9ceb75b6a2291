// OAuth 2.0 sign-in end to end: `tessly` as a child process signs a POP3
// account (user ann) and an IMAP account (user bob) in by the device grant,
// each at a token server of its own on 127.0.0.1, and the outgoing server by
// the code grant (the test plays the browser). Dovecot checks the JWTs
// itself and the SMTP sink checks the page's token. Then short-lived tokens
// are refreshed, a revoked grant is said once and blocks further logins
// until the account signs in again, and no token or secret shows anywhere.

#include "app/mainprogram.h"
#include "features/paging/cpager.h"
#include "state/mailsecurity.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/smtpsink.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

const QByteArray kKey = "0123456789abcdef0123456789abcdef-tessaly-e2e";

QByteArray message(const char* id, const char* subject) {
    return QByteArray("Message-ID: <") + id + "@oauth.test>\nFrom: ann@oauth.test\nTo: me@oauth.test\nSubject: " +
           subject + "\nDate: Tue, 8 Dec 2026 10:00:00 +0000\n\nbody\n";
}

// One plain HTTP/1.0 request to 127.0.0.1; the whole answer.
QByteArray httpRequest(const QByteArray& method, quint16 port, const QByteArray& target) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(5000))
        return {};
    s.write(method + ' ' + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    QByteArray answer;
    while (s.waitForReadyRead(10000))
        answer += s.readAll();
    return answer + s.readAll();
}

} // namespace

class TestOAuthE2e : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    DovecotServer dovecot;
    SmtpSinkServer sink;
    PeerProcess popAuth, imapAuth;
    quint16 popAuthPort = 0, imapAuthPort = 0;
    QString home, config, profile;
    QProcessEnvironment env;
    QByteArray allOutput; // every run's standard output and error
    const QString popSecret = QStringLiteral("pop-client-secret-5e1f");
    const QString imapSecret = QStringLiteral("imap-client-secret-77ab");

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    static bool write(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QList<QJsonObject> logOf(const QString& name) const {
        QList<QJsonObject> out;
        for (const QByteArray& line : read(path(name)).split('\n'))
            if (!line.isEmpty())
                out << QJsonDocument::fromJson(line).object();
        return out;
    }
    int refreshes(const QString& name) const {
        int n = 0;
        for (const QJsonObject& o : logOf(name))
            n += o.value(QStringLiteral("grant_type")).toString() == QLatin1String("refresh_token") ? 1 : 0;
        return n;
    }

    int run(const QStringList& args, QByteArray* output = nullptr) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        const bool done = p.waitForFinished(60000);
        if (!done)
            p.kill(), p.waitForFinished();
        const QByteArray out = p.readAll();
        allOutput += out;
        if (output)
            *output = out;
        return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // `tessly --sign-in target`, finished by `approve` with what it printed
    // so far once it has printed `cue`.
    int signIn(const QString& target, const QByteArray& cue, const std::function<bool(const QByteArray&)>& approve,
               QByteArray* output) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--sign-in"), target});
        QByteArray out;
        bool approved = false;
        pump.waitUntil(
            [&] {
                out += p.readAll();
                if (!approved && out.contains(cue) && out.endsWith('\n'))
                    approved = approve(out) || true;
                return p.state() == QProcess::NotRunning;
            },
            60, nullptr);
        if (p.state() != QProcess::NotRunning)
            p.kill(), p.waitForFinished();
        out += p.readAll();
        allOutput += out;
        *output = out;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int deviceSignIn(const QString& target, quint16 authPort, QByteArray* output) {
        return signIn(target, "enter the code ", [&](const QByteArray& out) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("enter the code (\\S+)")).match(QString::fromUtf8(out));
            return m.hasMatch() && httpRequest("POST", authPort,
                                               "/control/approve?user_code=" + m.captured(1).toUtf8())
                                       .contains(" 200 ");
        }, output);
    }
    int codeSignIn(QByteArray* output) {
        return signIn(QStringLiteral("smtp"), "/authorize?", [&](const QByteArray& out) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+/authorize\\?\\S+)"))
                    .match(QString::fromUtf8(out));
            if (!m.hasMatch())
                return false;
            const QUrl url(m.captured(1));
            const QByteArray answer =
                httpRequest("GET", static_cast<quint16>(url.port()), url.toEncoded(QUrl::RemoveScheme |
                                                                                   QUrl::RemoveAuthority));
            const QRegularExpressionMatch to =
                QRegularExpression(QStringLiteral("Location: (\\S+)")).match(QString::fromLatin1(answer));
            if (!to.hasMatch())
                return false;
            const QUrl back(to.captured(1));
            return !httpRequest("GET", static_cast<quint16>(back.port()),
                                back.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority))
                        .isEmpty();
        }, output);
    }
    int pagesWith(const QString& text) const {
        int n = 0;
        for (const QJsonObject& m : sink.received())
            n += m.value(QStringLiteral("data")).toString().contains(text, Qt::CaseInsensitive) ? 1 : 0;
        return n;
    }
    int revokedLines(const QByteArray& text) const {
        return static_cast<int>(text.count("has expired or was revoked"));
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available() || !DovecotServer::imapAvailable())
            QSKIP("dovecot-imapd is not installed (scripts/setup-deps.sh --tests)");
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        QVERIFY(write(path("key"), kKey));
        QVERIFY(write(path("pop-secret"), popSecret.toUtf8() + '\n'));
        QVERIFY(write(path("imap-secret"), imapSecret.toUtf8() + '\n'));
        dovecot.SetImap(true);
        dovecot.SetOAuth(kKey);
        QVERIFY(dovecot.start(pump, {{QStringLiteral("ann"), QStringLiteral("pw-ann")},
                                     {QStringLiteral("bob"), QStringLiteral("pw-bob")}}));
        QVERIFY(sink.start(pump, freeLowPort(dovecot.imapPort()),
                           {QStringLiteral("--oauth-key=") + path("key"), QStringLiteral("--oauth-user=bob")}));
        auto server = [&](PeerProcess& peer, const char* user, const char* client, const char* secret,
                          const char* log) {
            return startPortTool(peer, pump, QStringLiteral("oauth_server.py"),
                                 {QStringLiteral("--key-file"), path("key"), QStringLiteral("--client-id"),
                                  QLatin1String(client), QStringLiteral("--user"), QLatin1String(user),
                                  QStringLiteral("--client-secret-file"), path(QLatin1String(secret)),
                                  QStringLiteral("--log"), path(QLatin1String(log)), QStringLiteral("--issued"),
                                  path(QLatin1String(log)) + QStringLiteral(".issued"), QStringLiteral("--max-runtime"),
                                  QStringLiteral("280")});
        };
        popAuthPort = server(popAuth, "ann", "tessly-pop", "pop-secret", "pop-auth.jsonl");
        imapAuthPort = server(imapAuth, "bob", "tessly-imap", "imap-secret", "imap-auth.jsonl");
        QVERIFY(popAuthPort && imapAuthPort);

        home = path("home");
        config = path("config");
        profile = home + QStringLiteral("/oauth.dat");
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(config + QStringLiteral("/tessaly")));
        const quint16 smtpPort = sink.port();
        writeE2eProfile(home, profile, dovecot.port(), 200, [&](MainProgram& p) {
            LiveSettings& s = p.Settings();
            s.smtpHostAddress = QStringLiteral("127.0.0.1");
            s.smtpPort = static_cast<std::int16_t>(smtpPort);
            s.domainName = QStringLiteral("oauth.test");
            CPager& pager = p.Pagers().Item(1);
            pager.SetPagerType(PagerAlphaSMTP);
            pager.SetEmailAddress(QStringLiteral("7654321@pager.test"));
            pager.SetFromAddress(QStringLiteral("me@oauth.test"));
            p.POPAccounts().Item(1).SetName(QStringLiteral("Ann"));
            p.POPAccounts().Item(1).SetUsername(QStringLiteral("ann"));
            p.POPAccounts().Item(1).SetPassword(QString());
            p.POPAccounts().Add(QStringLiteral("Bob"), QStringLiteral("127.0.0.1"), dovecot.imapPort(),
                                QStringLiteral("bob"), QString(), true);
        });
        QVERIFY(writeE2eSettings(config + QStringLiteral("/tessaly/tessaly.ini"), profile, QStringLiteral("/dev/null")));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        // No secret service: the tokens go to the program directory's file.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + path("no-bus"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const QString pop = QStringLiteral("http://127.0.0.1:%1").arg(popAuthPort);
        const QString imap = QStringLiteral("http://127.0.0.1:%1").arg(imapAuthPort);
        QByteArray out;
        QVERIFY2(run({QStringLiteral("--set"), QStringLiteral("account.1.security=none"),
                      QStringLiteral("account.1.signin=oauth"), QStringLiteral("account.1.oauth_provider=custom"),
                      QStringLiteral("account.1.oauth_client_id=tessly-pop"),
                      QStringLiteral("account.1.oauth_client_secret=") + popSecret,
                      QStringLiteral("account.1.oauth_token_url=") + pop + QStringLiteral("/token"),
                      QStringLiteral("account.1.oauth_device_url=") + pop + QStringLiteral("/device"),
                      QStringLiteral("account.1.oauth_scope=mail"), QStringLiteral("account.2.protocol=imap"),
                      QStringLiteral("account.2.security=none"), QStringLiteral("account.2.signin=oauth"),
                      QStringLiteral("account.2.oauth_provider=custom"),
                      QStringLiteral("account.2.oauth_client_id=tessly-imap"),
                      QStringLiteral("account.2.oauth_client_secret=") + imapSecret,
                      QStringLiteral("account.2.oauth_token_url=") + imap + QStringLiteral("/token"),
                      QStringLiteral("account.2.oauth_device_url=") + imap + QStringLiteral("/device"),
                      QStringLiteral("account.2.oauth_scope=mail"), QStringLiteral("smtp.security=none"),
                      QStringLiteral("smtp.user=bob"), QStringLiteral("smtp.signin=oauth"),
                      QStringLiteral("smtp.oauth_provider=custom"), QStringLiteral("smtp.oauth_client_id=tessly-imap"),
                      QStringLiteral("smtp.oauth_client_secret=") + imapSecret,
                      QStringLiteral("smtp.oauth_token_url=") + imap + QStringLiteral("/token"),
                      QStringLiteral("smtp.oauth_authorization_url=") + imap + QStringLiteral("/authorize"),
                      QStringLiteral("smtp.oauth_scope=mail"), profile},
                     &out) == 0,
                 out.constData());
    }

    // Short-lived tokens from the start, so that the later checks refresh.
    void signInByDeviceAndCode() {
        for (quint16 port : {popAuthPort, imapAuthPort})
            QVERIFY(httpRequest("POST", port, "/control/lifetime?seconds=3").contains(" 200 "));
        QByteArray out;
        QVERIFY2(deviceSignIn(QStringLiteral("account.1"), popAuthPort, &out) == 0, out.constData());
        QVERIFY2(deviceSignIn(QStringLiteral("account.2"), imapAuthPort, &out) == 0, out.constData());
        QVERIFY2(codeSignIn(&out) == 0, out.constData());
        QVERIFY(QFileInfo(home + QStringLiteral("/oauth-tokens")).exists());
        QCOMPARE(QFileInfo(home + QStringLiteral("/oauth-tokens")).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // Both mailboxes read with tokens (refreshed once they ran out), each
    // message paged over SMTP with a token.
    void checksReadWithTokensAndRefresh() {
        QVERIFY(dovecot.deliver(QStringLiteral("ann"), message("a1", "Ann first")));
        QVERIFY(dovecot.deliver(QStringLiteral("bob"), message("b1", "Bob first")));
        QByteArray out;
        QVERIFY2(run({QStringLiteral("--check")}, &out) == 0, out.constData());
        QCOMPARE(pagesWith(QStringLiteral("ann first")), 1);
        QCOMPARE(pagesWith(QStringLiteral("bob first")), 1);
        for (const QJsonObject& m : sink.received()) {
            QCOMPARE(m.value(QStringLiteral("auth_user")).toString(), QStringLiteral("bob"));
            QVERIFY(QStringList({"XOAUTH2", "OAUTHBEARER"}).contains(m.value(QStringLiteral("auth_mechanism")).toString()));
        }
        pump.pause(3.5, nullptr); // past the tokens' lifetime
        const int before = refreshes(QStringLiteral("pop-auth.jsonl")) + refreshes(QStringLiteral("imap-auth.jsonl"));
        QVERIFY(dovecot.deliver(QStringLiteral("ann"), message("a2", "Ann second")));
        QVERIFY(dovecot.deliver(QStringLiteral("bob"), message("b2", "Bob second")));
        QVERIFY2(run({QStringLiteral("--check"), QStringLiteral("--verbose")}, &out) == 0, out.constData());
        QVERIFY(refreshes(QStringLiteral("pop-auth.jsonl")) >= 1 && refreshes(QStringLiteral("imap-auth.jsonl")) >= 1);
        QVERIFY(refreshes(QStringLiteral("pop-auth.jsonl")) + refreshes(QStringLiteral("imap-auth.jsonl")) > before);
        QCOMPARE(pagesWith(QStringLiteral("ann second")), 1);
        QCOMPARE(pagesWith(QStringLiteral("bob second")), 1);
    }

    // A revoked grant: said once, shown by --status, then no login and no
    // token request until the account signs in again.
    void revokedGrantSaidOnce() {
        QVERIFY(httpRequest("POST", popAuthPort, "/control/revoke").contains(" 200 "));
        pump.pause(3.5, nullptr);
        QByteArray out;
        QCOMPARE(run({QStringLiteral("--check")}, &out), 1);
        QCOMPARE(revokedLines(out), 1);
        const QString activity = home + QStringLiteral("/activity.txt");
        QCOMPARE(revokedLines(read(activity)), 1);
        QCOMPARE(run({QStringLiteral("--status")}, &out), 1);
        QVERIFY2(out.contains("SIGN IN AGAIN"), out.constData());
        const int popLog = static_cast<int>(logOf(QStringLiteral("pop-auth.jsonl")).size());
        const int popLogins = static_cast<int>(dovecot.logText().count(QStringLiteral("pop3-login:")));
        QCOMPARE(run({QStringLiteral("--check")}, &out), 1);
        QCOMPARE(revokedLines(out), 0);
        QCOMPARE(revokedLines(read(activity)), 1);
        QCOMPARE(static_cast<int>(logOf(QStringLiteral("pop-auth.jsonl")).size()), popLog);
        QCOMPARE(static_cast<int>(dovecot.logText().count(QStringLiteral("pop3-login:"))), popLogins);
        QVERIFY2(deviceSignIn(QStringLiteral("account.1"), popAuthPort, &out) == 0, out.constData());
        QVERIFY(dovecot.deliver(QStringLiteral("ann"), message("a3", "Ann back")));
        QVERIFY2(run({QStringLiteral("--check")}, &out) == 0, out.constData());
        QCOMPARE(pagesWith(QStringLiteral("ann back")), 1);
    }

    // No token or secret in any file but the token file, nor in any output.
    void noSecretAnywhere() {
        QStringList secrets{popSecret, imapSecret};
        const QRegularExpression token(QStringLiteral("\"(access_token|refresh_token)\": \"([^\"]+)\""));
        const QByteArray tokens = read(home + QStringLiteral("/oauth-tokens"));
        for (const QByteArray& line : tokens.split('\n')) {
            const QList<QByteArray> parts = line.split('\t');
            if (parts.size() == 2) {
                const QString value = QString::fromUtf8(QByteArray::fromBase64(parts[1]));
                secrets << value.section(QLatin1Char(' '), -1);
            }
        }
        // And every token the servers ever handed out: those replaced by a
        // refresh, and the grant revoked on the way.
        int issued = 0;
        for (const char* log : {"pop-auth.jsonl.issued", "imap-auth.jsonl.issued"})
            for (const QByteArray& line : read(path(log)).split('\n'))
                if (!line.isEmpty()) {
                    secrets << QString::fromUtf8(line);
                    ++issued;
                }
        // Three sign-ins and a second one of Ann, each a pair, and the refreshes.
        QVERIFY2(issued >= 10, qPrintable(QStringLiteral("%1 tokens issued").arg(issued)));
        QVERIFY(secrets.size() > 4);
        QStringList files;
        for (const QString& root : {home, config}) {
            QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                if (QFileInfo(file).fileName() != QLatin1String("oauth-tokens"))
                    files << file;
            }
        }
        for (const QString& secret : secrets) {
            QVERIFY(!secret.isEmpty());
            QVERIFY2(!allOutput.contains(secret.toUtf8()), "a secret in the output");
            for (const QString& file : files)
                QVERIFY2(!read(file).contains(secret.toUtf8()), qPrintable(file));
        }
    }
};

QTEST_GUILESS_MAIN(TestOAuthE2e)
#include "test_oauth_e2e.moc"
