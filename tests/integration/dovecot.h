#pragma once
// A real Dovecot POP3 server for tests: its own configuration, passwd file
// and maildirs in a temporary directory, listening on 127.0.0.1. With
// SetImap(true) before start() it serves IMAP as well, on ports of its own.

#include "tests/integration/peers.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
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
                                        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                                        "userdb {\n  driver = passwd-file\n  args = %1/passwd\n}\n"
                                        "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n"
                                        "    port = %2\n  }\n%4  chroot =\n}\n"
                                        "service anvil {\n  chroot =\n}\n"
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
    PeerProcess process_;
};

} // namespace tessaly::testing
