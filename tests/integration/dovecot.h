#pragma once
// A real Dovecot POP3 server for tests: its own configuration, passwd file
// and maildirs in a temporary directory, listening on 127.0.0.1. With
// SetImap(true) before start() it serves IMAP as well, on ports of its own;
// with SetOAuth() it also takes OAuth 2.0 bearer tokens.

#include "tests/integration/peers.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace tessaly::testing {

class DovecotServer {
public:
    static QString binary() { return QStringLiteral("/usr/sbin/dovecot"); }
    static bool available() { return QFileInfo(binary()).isExecutable(); }

    // Also serve IMAP: imapPort() in clear (offering STARTTLS when started
    // with a certificate) and imapTlsPort() TLS from the first byte.
    void SetImap(bool on) { imap_ = on; }
    static bool imapAvailable() { return QFileInfo(QStringLiteral("/usr/lib/dovecot/imap")).isExecutable(); }

    // Also accept OAuth 2.0 access tokens (SASL XOAUTH2 and OAUTHBEARER),
    // checked by Dovecot alone: a JWT signed HS256 with `hmacKey`, not
    // expired, whose `usernameClaim` is the user signing in. With `issuer`
    // the token's iss must be it. `kid` is the key id the tokens name in
    // their header ("default" for tokens that name none). PLAIN and LOGIN
    // stay for the passwords, and a password never passes as a token.
    // Failed sign-ins are not slowed down, so a test can fail many quickly.
    void SetOAuth(const QByteArray& hmacKey, const QString& issuer = {},
                  const QString& usernameClaim = QStringLiteral("sub"), const QString& kid = QStringLiteral("default")) {
        oauthKey_ = hmacKey;
        oauthIssuer_ = issuer;
        oauthClaim_ = usernameClaim;
        oauthKid_ = kid;
    }

    // Users and their passwords; their maildirs start empty. With a
    // certificate and key (PEM files) the plain port offers STLS and
    // tlsPort() speaks TLS from the first byte.
    bool start(EventPump& pump, const QHash<QString, QString>& users, const QString& cert = {},
               const QString& key = {}) {
        if (!dir_.isValid())
            return false;
        const QString d = dir_.path();
        // Dovecot's auth process runs as its own user and must read the passwd file.
        QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                     QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        port_ = freePort();
        tlsPort_ = cert.isEmpty() ? 0 : freePort();
        // The profile keeps a port in 16 bits.
        imapPort_ = imap_ ? freeLowPort(port_ < 32768 ? port_ : 0) : 0;
        imapTlsPort_ = imap_ && !cert.isEmpty() ? freePort() : 0;
        uid_ = getuid();
        gid_ = getgid();
        // Dovecot will not serve mail as root: the mailboxes belong to "nobody".
        if (uid_ == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody)
                return false;
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
        }
        QByteArray passwd;
        for (auto it = users.begin(); it != users.end(); ++it) {
            for (const char* sub : {"new", "cur", "tmp"})
                QDir().mkpath(QStringLiteral("%1/mail/%2/%3").arg(d, it.key(), QLatin1String(sub)));
            passwd += QStringLiteral("%1:{PLAIN}%2:%3:%4::%5/mail/%1\n")
                          .arg(it.key(), it.value())
                          .arg(uid_)
                          .arg(gid_)
                          .arg(d)
                          .toUtf8();
        }
        QDir().mkpath(d + QStringLiteral("/run"));
        QDir().mkpath(d + QStringLiteral("/state"));
        if (!chownMail())
            return false;
        if (!write(d + QStringLiteral("/passwd"), passwd))
            return false;
        if (!oauthKey_.isEmpty() && !writeOAuthKey())
            return false;
        const QString conf = d + QStringLiteral("/dovecot.conf");
        if (!write(conf, QStringLiteral("base_dir = %1/run\n"
                                        "state_dir = %1/state\n"
                                        "log_path = %1/dovecot.log\n"
                                        "protocols = %5\n"
                                        "listen = 127.0.0.1\n"
                                        "%3"
                                        "disable_plaintext_auth = no\n"
                                        "auth_failure_delay = 0\n"
                                        "mail_location = maildir:%1/mail/%u\n"
                                        "%7"
                                        "passdb {\n  driver = passwd-file\n%8  args = scheme=PLAIN %1/passwd\n}\n"
                                        "userdb {\n  driver = passwd-file\n  args = %1/passwd\n}\n"
                                        "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n"
                                        "    port = %2\n  }\n%4  chroot =\n}\n"
                                        "service anvil {\n  chroot =\n%9}\n"
                                        "service imap-login {\n%6  chroot =\n}\n")
                               .arg(d)
                               .arg(port_)
                               .arg(cert.isEmpty() ? QStringLiteral("ssl = no\n")
                                                   : QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2\n").arg(cert, key))
                               .arg(cert.isEmpty() ? QString()
                                                   : QStringLiteral("  inet_listener pop3s {\n    address = 127.0.0.1\n"
                                                                    "    port = %1\n    ssl = yes\n  }\n").arg(tlsPort_))
                               .arg(imap_ ? QStringLiteral("pop3 imap") : QStringLiteral("pop3"))
                               .arg(imapListeners())
                               .arg(oauthPassdb())
                               .arg(oauthKey_.isEmpty() ? QString() : QStringLiteral("  mechanisms = plain login\n"))
                               .arg(oauthKey_.isEmpty() ? QString()
                                                        : QStringLiteral("  unix_listener anvil-auth-penalty {\n"
                                                                         "    mode = 0\n  }\n"))
                               .toUtf8()))
            return false;
        process_.start(binary(), {QStringLiteral("-F"), QStringLiteral("-c"), conf});
        return waitForPort(pump, port_, 15) && (!tlsPort_ || waitForPort(pump, tlsPort_, 15)) &&
               (!imapPort_ || waitForPort(pump, imapPort_, 15)) && (!imapTlsPort_ || waitForPort(pump, imapTlsPort_, 15));
    }

    // Delivers a message into one of the user's folders (Maildir++ ".name",
    // made when missing); an empty folder is the inbox.
    bool deliverTo(const QString& user, const QString& folder, const QByteArray& message) {
        if (folder.isEmpty())
            return deliver(user, message);
        const QString base = QStringLiteral("%1/mail/%2/.%3").arg(dir_.path(), user, folder);
        for (const char* sub : {"new", "cur", "tmp"})
            QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub));
        QByteArray text = message;
        text.replace("\r\n", "\n");
        const int serial = ++serial_;
        const QString name = QStringLiteral("%1.M%2P1.test").arg(1700000000 + serial).arg(serial);
        return write(base + QStringLiteral("/tmp/") + name, text) &&
               QFile::rename(base + QStringLiteral("/tmp/") + name, base + QStringLiteral("/new/") + name) &&
               chownMail();
    }

    // Delivers a message (LF or CR LF line ends) into a user's maildir.
    bool deliver(const QString& user, const QByteArray& message) { return deliverAll(user, {message}); }
    bool deliverAll(const QString& user, const QList<QByteArray>& messages) {
        for (QByteArray message : messages) {
            message.replace("\r\n", "\n");
            const int serial = ++serial_;
            const QString name = QStringLiteral("%1.M%2P1.test").arg(1700000000 + serial).arg(serial);
            const QString tmp = QStringLiteral("%1/mail/%2/tmp/%3").arg(dir_.path(), user, name);
            if (!write(tmp, message))
                return false;
            if (!QFile::rename(tmp, QStringLiteral("%1/mail/%2/new/%3").arg(dir_.path(), user, name)))
                return false;
        }
        return chownMail();
    }

    // Deletes the user's messages whose text contains `marker`, as another
    // mail program would; the number deleted.
    int remove(const QString& user, const QByteArray& marker) {
        int removed = 0;
        for (const char* sub : {"new", "cur"}) {
            QDir box(QStringLiteral("%1/mail/%2/%3").arg(dir_.path(), user, QLatin1String(sub)));
            for (const QString& name : box.entryList(QDir::Files)) {
                QFile f(box.filePath(name));
                if (f.open(QIODevice::ReadOnly) && f.readAll().contains(marker) && QFile::remove(box.filePath(name)))
                    ++removed;
            }
        }
        return removed;
    }

    // The texts of the user's messages, sorted: what a client could change,
    // whatever Dovecot renames (new/ to cur/, flags in the name).
    QList<QByteArray> contents(const QString& user) const {
        QList<QByteArray> out;
        for (const char* sub : {"new", "cur"}) {
            QDir box(QStringLiteral("%1/mail/%2/%3").arg(dir_.path(), user, QLatin1String(sub)));
            for (const QString& name : box.entryList(QDir::Files)) {
                QFile f(box.filePath(name));
                if (f.open(QIODevice::ReadOnly))
                    out << f.readAll();
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    quint16 port() const { return port_; }
    quint16 tlsPort() const { return tlsPort_; }
    quint16 imapPort() const { return imapPort_; }
    quint16 imapTlsPort() const { return imapTlsPort_; }
    QString logText() const {
        QFile log(dir_.path() + QStringLiteral("/dovecot.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    void stop() { process_.stop(); }
    // Starts the stopped server again on the same ports and mailboxes.
    bool restart(EventPump& pump) {
        const QString conf = dir_.path() + QStringLiteral("/dovecot.conf");
        process_.start(binary(), {QStringLiteral("-F"), QStringLiteral("-c"), conf});
        return waitForPort(pump, port_, 15) && (!imapPort_ || waitForPort(pump, imapPort_, 15));
    }
    // Ends the user's open sessions from the server's side.
    bool kick(const QString& user) {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/doveadm"),
                {QStringLiteral("-c"), dir_.path() + QStringLiteral("/dovecot.conf"), QStringLiteral("kick"), user});
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // Forgets the user's UIDs and indexes, as a rebuilt mailbox would: the
    // next session sees the same messages under a new UIDVALIDITY.
    bool renumber(const QString& user) {
        QDir box(QStringLiteral("%1/mail/%2").arg(dir_.path(), user));
        bool ok = true;
        for (const QString& name : box.entryList({QStringLiteral("dovecot*")}, QDir::Files))
            ok = QFile::remove(box.filePath(name)) && ok;
        return ok;
    }

private:
    // The oauth2 passdb, ahead of the passwords and only for the token
    // mechanisms, and its settings file; nothing without SetOAuth().
    QString oauthPassdb() const {
        if (oauthKey_.isEmpty())
            return QString();
        return QStringLiteral("auth_mechanisms = plain login xoauth2 oauthbearer\n"
                              "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n"
                              "  args = %1/oauth2.conf.ext\n}\n")
            .arg(dir_.path());
    }
    // The key where local validation looks it up: <dict>/<azp>/<alg>/<kid>,
    // "default" standing for a missing azp claim, the key in base64. Only
    // Dovecot's auth process (group dovecot, when running as root) reads it.
    bool writeOAuthKey() {
        const QString d = dir_.path();
        const QString keyDir = d + QStringLiteral("/oauth-keys/default/HS256");
        if (!QDir().mkpath(keyDir) || !write(keyDir + QLatin1Char('/') + oauthKid_, oauthKey_.toBase64()))
            return false;
        QString settings = QStringLiteral("introspection_mode = local\n"
                                          "local_validation_key_dict = fs:posix:prefix=%1/oauth-keys/\n"
                                          "username_attribute = %2\n")
                               .arg(d, oauthClaim_);
        if (!oauthIssuer_.isEmpty())
            settings += QStringLiteral("issuers = %1\n").arg(oauthIssuer_);
        if (!write(d + QStringLiteral("/oauth2.conf.ext"), settings.toUtf8()))
            return false;
        const QFile::Permissions dirMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup;
        const QFile::Permissions fileMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        const QStringList dirs = {d + QStringLiteral("/oauth-keys"), d + QStringLiteral("/oauth-keys/default"), keyDir};
        for (const QString& path : dirs)
            if (!QFile::setPermissions(path, dirMode))
                return false;
        const QString keyFile = keyDir + QLatin1Char('/') + oauthKid_;
        if (!QFile::setPermissions(keyFile, fileMode))
            return false;
        if (getuid() != 0)
            return true;
        const group* dovecot = getgrnam("dovecot");
        if (!dovecot)
            return false;
        for (const QString& path : dirs + QStringList{keyFile})
            if (::chown(QFile::encodeName(path).constData(), 0, dovecot->gr_gid) != 0)
                return false;
        return true;
    }

    // The IMAP listeners; without IMAP none (and the TLS one is off
    // without a certificate, so Dovecot never asks for port 993).
    QString imapListeners() const {
        if (!imap_)
            return QString();
        return QStringLiteral("  inet_listener imap {\n    address = 127.0.0.1\n    port = %1\n  }\n"
                              "  inet_listener imaps {\n    address = 127.0.0.1\n    port = %2\n%3  }\n")
            .arg(imapPort_)
            .arg(imapTlsPort_)
            .arg(imapTlsPort_ ? QStringLiteral("    ssl = yes\n") : QString());
    }

    static bool write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    bool chownMail() {
        if (getuid() != 0)
            return true;
        QProcess chown;
        chown.start(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(uid_).arg(gid_),
                                              dir_.path() + QStringLiteral("/mail")});
        return chown.waitForFinished(10000) && chown.exitCode() == 0;
    }

    QTemporaryDir dir_;
    quint16 port_ = 0;
    quint16 tlsPort_ = 0;
    bool imap_ = false;
    quint16 imapPort_ = 0;
    quint16 imapTlsPort_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    int serial_ = 0;
    QByteArray oauthKey_;
    QString oauthIssuer_;
    QString oauthClaim_;
    QString oauthKid_;
    PeerProcess process_;
};

} // namespace tessaly::testing
