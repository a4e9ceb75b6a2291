#include "platform/smtpcontrol.h"

#include "ground/mimetext.h"
#include "ground/sockerr.h"
#include "platform/passwordcommand.h"

#include <QLocale>
#include <QRegularExpression>

namespace tessaly {

namespace {

QStringList addresses(const QString& list) {
    QStringList out;
    for (const QString& part : list.split(QRegularExpression(QStringLiteral("[,;]")), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            out << part.trimmed();
    return out;
}

// "user@host" or "Name <user@host>" → "<user@host>".
QByteArray path(const QString& address) {
    const qsizetype open = address.indexOf(QLatin1Char('<'));
    const qsizetype close = address.indexOf(QLatin1Char('>'), open);
    const QString bare = open >= 0 && close > open ? address.mid(open + 1, close - open - 1) : address;
    return '<' + bare.trimmed().toLatin1() + '>';
}

QByteArray rfc5322Date(const QDateTime& local) {
    const int offset = local.offsetFromUtc() / 60;
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
    return QLocale::c().toString(local, QStringLiteral("ddd, d MMM yyyy HH:mm:ss ")).toLatin1() + zone.toLatin1();
}

// CR LF line ends whatever the text used.
QByteArray crlfLines(QByteArray in) {
    in.replace("\r\n", "\n");
    in.replace('\r', '\n');
    in.replace("\n", "\r\n");
    return in;
}

} // namespace

SmtpClient::SmtpClient(EventPump& pump, LinkFactory& links, QObject* parent) : pump_(pump), link_(pump, links) {
    setParent(parent);
}

QByteArray SmtpClient::MessageData() const {
    QByteArray data;
    data += "Date: " + rfc5322Date(pump_.now()) + "\r\n";
    data += "From: " + Sender().toLatin1() + "\r\n";
    data += "To: " + addresses(Recipient()).join(QStringLiteral(", ")).toLatin1() + "\r\n";
    data += "Subject: " + mimetext::EncodeHeaderValue(Subject()) + "\r\n";
    if (!Mailer().isEmpty())
        data += "X-Mailer: " + Mailer().toLatin1() + "\r\n";
    data += "MIME-Version: 1.0\r\n";
    data += "Content-Type: text/plain; charset=UTF-8\r\n";
    // Plain ASCII in short lines goes as it is; anything else in a form
    // that servers without 8-bit support pass unchanged.
    QByteArray body = crlfLines(Body().toUtf8());
    bool sevenBit = true;
    for (const QByteArray& line : body.split('\n'))
        sevenBit = sevenBit && line.size() <= 998;
    for (const char c : body)
        sevenBit = sevenBit && static_cast<unsigned char>(c) < 0x80 && c != '\0';
    if (sevenBit) {
        data += "Content-Transfer-Encoding: 7bit\r\n";
    } else {
        data += "Content-Transfer-Encoding: quoted-printable\r\n";
        body = mimetext::EncodeQuotedPrintable(body);
    }
    data += "\r\n";
    if (!body.isEmpty() && !body.endsWith("\r\n"))
        body += "\r\n";
    // Dot-stuffing: a line that begins with "." gets a second one.
    if (body.startsWith('.'))
        body.prepend('.');
    body.replace("\r\n.", "\r\n..");
    data += body;
    data += ".\r\n";
    return data;
}

int SmtpClient::fail(int number) {
    if (number >= 400 && number <= 599) {
        // A refusal by the server: end politely; no socket error.
        if (link_.IsOpen() && link_.Write("QUIT\r\n") == 0)
            readReply(221);
    } else {
        emit error(number, sockerr::Text(number));
    }
    const bool wasOpen = link_.IsOpen() || link_.Ended();
    link_.Abort();
    if (wasOpen)
        emit socketClosed();
    return number;
}

int SmtpClient::readReply(int expected) {
    // A reply is one or more lines "ddd-text" ending with "ddd text".
    QByteArray reply;
    int code = 0;
    bool complete = false;
    int failure = 0;
    lastReply_.clear();
    auto scan = [&] {
        QByteArray& buffer = link_.Buffer();
        qsizetype lf;
        while (!complete && (lf = buffer.indexOf('\n')) >= 0) {
            const QByteArray line = buffer.left(lf + 1);
            buffer.remove(0, lf + 1);
            reply += line;
            lastReply_ = reply;
            emit dataReceived(QString::fromLatin1(line));
            if (line.size() < 4 || line[3] != '-') {
                code = line.left(3).toInt();
                complete = true;
            }
        }
        if (!complete && buffer.size() > kMaxLine)
            failure = sockerr::MessageTooLong;
        return complete || failure != 0;
    };
    const int waited = link_.WaitFor(scan, Timeout(), cancel_);
    if (failure)
        return failure;
    if (waited != 0)
        return waited;
    if (code < 100)
        return 500; // unreadable reply
    return code == expected ? 0 : code;
}

int SmtpClient::exchange(const QByteArray& line, int expected) {
    const int written = link_.Write(line + "\r\n");
    return written != 0 ? written : readReply(expected);
}

// The server as it is connected to: its address when one is set, else its name.
QString SmtpClient::serverHost() const { return HostAddress().trimmed().isEmpty() ? HostName() : HostAddress(); }

int SmtpClient::refuse(const QString& reason) {
    const QString host = serverHost();
    emit secureFailed(QStringLiteral("No secure connection to %1:%2: %3").arg(host.trimmed()).arg(Port()).arg(reason));
    refusedForGood_ = true;
    return fail(kNotSecured);
}

int SmtpClient::greet(const QByteArray& domain, bool needsEhlo, QByteArray& capabilities) {
    capabilities.clear();
    int result = exchange("EHLO " + domain, 250);
    if (result == 0) {
        capabilities = lastReply_;
        return 0;
    }
    // A server from before EHLO: 500 or 502, and HELO does the rest.
    if (!needsEhlo && (result == 500 || result == 502))
        result = exchange("HELO " + domain, 250);
    return result;
}

int SmtpClient::secure(const QByteArray& domain, bool implicit, QByteArray& capabilities) {
    const Security choice = SecurityChoice();
    const bool login = !AuthUser().isEmpty();
    if (choice == Security::None && !login)
        return exchange("HELO " + domain, 250);
    const bool needsEhlo = login || choice == Security::StartTls;
    int result = greet(domain, needsEhlo, capabilities);
    if (!implicit && choice == Security::StartTls && (result == 500 || result == 502))
        return refuse(QStringLiteral("the server knows no EHLO, and STARTTLS is required"));
    if (result != 0 || implicit)
        return result;
    switch (UpgradeFor(choice, Offers(capabilities, "STARTTLS"))) {
    case Upgrade::Clear: return 0;
    case Upgrade::ClearNotice: emit clearText(); return 0;
    case Upgrade::Refuse: return refuse(QStringLiteral("the server offers no STARTTLS, and STARTTLS is required"));
    case Upgrade::StartTls: break;
    }
    result = exchange("STARTTLS", 220);
    if (result >= 400 && result <= 599)
        return refuse(QStringLiteral("the server refused STARTTLS"));
    if (result != 0)
        return result;
    const QString host = serverHost();
    if (link_.StartTls(host.trimmed(), CaFile(), Timeout(), cancel_) != 0)
        return refuse(ExplainTlsFailure(link_.SecureFailure()));
    // The capabilities heard in clear may have been forged; ask again.
    return greet(domain, true, capabilities);
}

int SmtpClient::authenticate(const QByteArray& capabilities) {
    const sasl::BearerSource bearer = bearerLookup_ ? bearerLookup_() : sasl::BearerSource();
    if (!link_.Encrypted() && SecurityChoice() != Security::None)
        return refuse(
            bearer ? QStringLiteral("the access token is only sent over TLS (choose the security \"none\" to allow it)")
                   : QStringLiteral("the password is only sent over TLS (choose the security \"none\" to allow it)"));
    const QList<QByteArray> mechanisms = OfferedWords(capabilities, "AUTH");
    if (bearer)
        return authenticateOAuth(mechanisms, bearer);
    const bool plain = mechanisms.contains("PLAIN");
    if (!plain && !mechanisms.contains("LOGIN"))
        return refuse(QStringLiteral("the server offers no AUTH PLAIN or AUTH LOGIN"));
    QString password = AuthPassword();
    if (password.isEmpty() && !PasswordCommand().trimmed().isEmpty()) {
        const PasswordCommandResult got = RunPasswordCommand(pump_, PasswordCommand(), Timeout(), cancel_);
        if (!got.ok)
            return refuse(QStringLiteral("the password command failed: ") + got.problem);
        password = got.password;
    }
    if (password.isEmpty()) {
        // An empty AUTH would only be refused.
        refusedForGood_ = true;
        const QString host = serverHost();
        emit secureFailed(QStringLiteral("SMTP server %1: the user name %2 is set but no password or password "
                                         "command (Options, Outgoing Mail); nothing was sent")
                              .arg(host.trimmed(), AuthUser()));
        return fail(kNotSecured);
    }
    const QByteArray user = AuthUser().toUtf8();
    const QByteArray secret = password.toUtf8();
    int result;
    if (plain) {
        emit commandSent(QStringLiteral("AUTH PLAIN ****"));
        result = exchange("AUTH PLAIN " + (QByteArray(1, '\0') + user + '\0' + secret).toBase64(), 235);
    } else {
        emit commandSent(QStringLiteral("AUTH LOGIN"));
        result = exchange("AUTH LOGIN", 334);
        if (result == 0) {
            emit commandSent(QStringLiteral("****"));
            result = exchange(user.toBase64(), 334);
        }
        if (result == 0) {
            emit commandSent(QStringLiteral("****"));
            result = exchange(secret.toBase64(), 235);
        }
    }
    if (result >= 500 && result <= 599)
        refusedForGood_ = true;
    if (result >= 400 && result <= 599) {
        const QString host = serverHost();
        emit secureFailed(
            QStringLiteral("SMTP server %1 refused the login of %2 (check the user name and password): %3")
                .arg(host.trimmed(), AuthUser(), QString::fromLatin1(lastReply_.trimmed())));
    }
    return result;
}

int SmtpClient::authenticateOAuth(const QList<QByteArray>& mechanisms, const sasl::BearerSource& bearer) {
    using namespace sasl;
    const OAuthMechanism mechanism = ChooseOAuth(mechanisms);
    if (mechanism == OAuthMechanism::None)
        return refuse(QStringLiteral("the server offers no AUTH OAUTHBEARER or AUTH XOAUTH2"));
    const QByteArray name = MechanismName(mechanism);
    const QString host = serverHost().trimmed();
    int result = 0;
    std::optional<OAuthRefusal> refusal;
    for (int round = 0; round < 2; ++round) {
        const BearerToken got = bearer(round > 0);
        if (got.token.isEmpty()) {
            refusedForGood_ = true;
            emit secureFailed(
                QStringLiteral("SMTP server %1: no access token for %2 (%3); nothing was sent")
                    .arg(host, AuthUser(), got.failure.isEmpty() ? QStringLiteral("not signed in") : got.failure));
            return fail(kNotSecured);
        }
        emit commandSent(QStringLiteral("AUTH %1 ****").arg(QString::fromLatin1(name)));
        result = exchange(
            "AUTH " + name + ' ' + InitialResponse(mechanism, AuthUser(), got.token, host, Port()).toBase64(), 235);
        refusal.reset();
        if (result == 334) {
            // The server's reasons, then its failure once they are answered.
            refusal = ReadErrorChallenge(QByteArrayView(lastReply_).sliced(std::min<qsizetype>(4, lastReply_.size())));
            const QByteArray answer = ErrorChallengeAnswer(mechanism).toBase64();
            emit commandSent(QString::fromLatin1(answer));
            result = exchange(answer, 235);
        }
        if (result == 0 || !(result >= 400 && result <= 599) || !refusal || !refusal->TokenRefused())
            break;
    }
    if (result >= 500 && result <= 599)
        refusedForGood_ = true;
    if (result >= 400 && result <= 599)
        emit secureFailed(QStringLiteral("SMTP server %1 refused the access token of %2 (%3): %4")
                              .arg(host, AuthUser(), refusal ? refusal->Text() : QStringLiteral("no reason given"),
                                   QString::fromLatin1(lastReply_.trimmed().left(200))));
    return result;
}

int SmtpClient::Send() {
    const QString host = serverHost();
    if (!SecurityProblem().isEmpty()) {
        refusedForGood_ = true;
        emit secureFailed(QStringLiteral("Outgoing mail: the security setting \"%1\" is not one of automatic, TLS, "
                                         "STARTTLS required, none; nothing was sent")
                              .arg(SecurityProblem().left(60)));
        return kNotSecured;
    }
    const int opened = link_.Open(host, static_cast<quint16>(Port()), Timeout(), cancel_);
    if (opened != 0) {
        emit error(opened, sockerr::Text(opened));
        return opened;
    }
    const bool implicit = ImplicitTls(SecurityChoice(), Port(), kSmtpTlsPort);
    if (implicit && link_.StartTls(host.trimmed(), CaFile(), Timeout(), cancel_) != 0)
        return refuse(ExplainTlsFailure(link_.SecureFailure()));
    int result = readReply(220);
    if (result == sockerr::TimedOut && !implicit)
        emit secureFailed(SilentGreetingHint(host.trimmed(), Port()));
    const QString domain = Domain().trimmed().isEmpty() ? QStringLiteral("localhost") : Domain().trimmed();
    QByteArray capabilities;
    if (result == 0)
        result = secure(domain.toLatin1(), implicit, capabilities);
    if (result == 0 && !AuthUser().isEmpty())
        result = authenticate(capabilities);
    if (result == 0) {
        result = exchange("MAIL FROM:" + path(Sender()), 250);
        if (result == 530 && AuthUser().isEmpty()) {
            // The same message without a login would be refused again.
            refusedForGood_ = true;
            emit secureFailed(QStringLiteral("SMTP server %1 wants a login (%2): set the SMTP user name and password "
                                             "(Options, Outgoing Mail)")
                                  .arg(host.trimmed(), QString::fromLatin1(lastReply_.trimmed())));
        }
    }
    const QStringList to = addresses(Recipient());
    if (result == 0 && to.isEmpty())
        result = 501;
    for (const QString& rcpt : to) {
        if (result != 0)
            break;
        result = exchange("RCPT TO:" + path(rcpt), 250);
        if (result == 251)
            result = 0;
    }
    if (result == 0)
        result = exchange("DATA", 354);
    if (result == 0) {
        const int written = link_.Write(MessageData());
        result = written != 0 ? written : readReply(250);
    }
    if (result != 0)
        return fail(result);
    exchange("QUIT", 221); // the message is accepted whatever QUIT brings
    link_.Abort();
    emit socketClosed();
    return 0;
}

} // namespace tessaly
