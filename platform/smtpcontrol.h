#pragma once
// The SMTP client control: one message per Send() with the current
// properties, and its real implementation over a LinkSession (RFC 5321,
// message format RFC 5322).

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/linksession.h"
#include "platform/sasloauth.h"
#include "platform/tlschoice.h"

#include <QObject>

namespace tessaly {

class SmtpControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SmtpControl() override = default;

    // One address, or several separated by "," or ";".
    QString Recipient() const { return recipient_; }
    void SetRecipient(const QString& v) { recipient_ = v; }
    QString Sender() const { return sender_; }
    void SetSender(const QString& v) { sender_ = v; }
    // The address is used when set, the host name otherwise.
    QString HostAddress() const { return hostAddress_; }
    void SetHostAddress(const QString& v) { hostAddress_ = v; }
    QString HostName() const { return hostName_; }
    void SetHostName(const QString& v) { hostName_ = v; }
    int Port() const { return port_; }
    void SetPort(int v) { port_ = v; }
    // The name given in HELO.
    QString Domain() const { return domain_; }
    void SetDomain(const QString& v) { domain_ = v; }
    QString Subject() const { return subject_; }
    void SetSubject(const QString& v) { subject_ = v; }
    QString Body() const { return body_; }
    void SetBody(const QString& v) { body_ = v; }
    // Program identification, sent as the X-Mailer header.
    QString Mailer() const { return mailer_; }
    void SetMailer(const QString& v) { mailer_ = v; }
    // Seconds a step waits without a byte from the server (default 60).
    double Timeout() const { return timeout_; }
    void SetTimeout(double v) { timeout_ = v; }
    void SetCancelFlag(const bool* flag) { cancel_ = flag; }
    // How the connection is secured, and an extra file of trusted
    // certificates (PEM) besides the system's.
    Security SecurityChoice() const { return security_; }
    void SetSecurity(Security v) { security_ = v; }
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& v) { caFile_ = v; }
    // Log in with AUTH PLAIN or LOGIN when a user name is set. The password
    // is the one given, or else the first output line of the password
    // command (a program and its arguments, run without a shell).
    QString AuthUser() const { return authUser_; }
    void SetAuthUser(const QString& v) { authUser_ = v; }
    QString AuthPassword() const { return authPassword_; }
    void SetAuthPassword(const QString& v) { authPassword_ = v; }
    QString PasswordCommand() const { return passwordCommand_; }
    void SetPasswordCommand(const QString& v) { passwordCommand_ = v; }
    // Asked at each login: a bearer source when the outgoing server signs in
    // with OAuth 2.0, empty for the password. With a source the login is
    // AUTH OAUTHBEARER or XOAUTH2 (whichever the server offers) with an
    // access token for AuthUser(); a token the server refuses is renewed and
    // tried once more.
    void SetBearerLookup(std::function<sasl::BearerSource()> lookup) { bearerLookup_ = std::move(lookup); }
    // The settings' security text when it names no choice: Send() then
    // refuses at once, without connecting. Empty: no problem.
    QString SecurityProblem() const { return securityProblem_; }
    void SetSecurityProblem(const QString& v) { securityProblem_ = v; }

    // Sends one message; 0 when the server accepted it. Otherwise the
    // server's reply code (400..599) or a socket error number.
    virtual int Send() = 0;
    // Set when a send failed in a way the same values would meet again: the
    // server refused the login for good (a 5xx answer to AUTH) or wants one
    // that is not set, there was no password, or the connection could not
    // be secured as chosen. Trying again only repeats the failure, and a
    // provider may lock an account after refused logins. Kept until cleared.
    bool RefusedForGood() const { return refusedForGood_; }
    void ClearRefusedForGood() { refusedForGood_ = false; }

signals:
    void dataReceived(const QString& text);
    void socketClosed();
    void error(int number, const QString& description);
    // The message was not sent because the connection could not be secured
    // or the login failed; the text names the server and the reason.
    void secureFailed(const QString& text);
    // The connection goes on in clear: the server offered no upgrade.
    void clearText();
    // A login command as the terminal may show it, secrets replaced by "****".
    void commandSent(const QString& text);

protected:
    const bool* cancel_ = nullptr;
    bool refusedForGood_ = false;
    std::function<sasl::BearerSource()> bearerLookup_;

private:
    Security security_ = Security::None;
    QString caFile_, authUser_, authPassword_, passwordCommand_, securityProblem_;
    QString recipient_, sender_, hostAddress_, hostName_, domain_, subject_, body_, mailer_;
    int port_ = 25;
    double timeout_ = 60.0;
};

class SmtpClient : public SmtpControl {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxLine = 1 << 20;

    SmtpClient(EventPump& pump, LinkFactory& links, QObject* parent = nullptr);

    int Send() override;

    // The message as it goes after DATA: headers, blank line, body with CR
    // LF line ends and leading dots doubled, and the closing ".".
    QByteArray MessageData() const;

    // Returned by Send() when the connection could not be secured or the
    // login failed (reported through secureFailed()).
    static constexpr int kNotSecured = 530;

private:
    int exchange(const QByteArray& line, int expected);
    int readReply(int expected);
    int fail(int number);
    // EHLO (HELO when the server knows no EHLO and nothing needs it); the
    // reply's capability lines go to `capabilities`.
    int greet(const QByteArray& domain, bool needsEhlo, QByteArray& capabilities);
    int secure(const QByteArray& domain, bool implicit, QByteArray& capabilities);
    int authenticate(const QByteArray& capabilities);
    int authenticateOAuth(const QList<QByteArray>& mechanisms, const sasl::BearerSource& bearer);
    QString serverHost() const;
    int refuse(const QString& reason);

    EventPump& pump_;
    LinkSession link_;
    QByteArray lastReply_;
};

} // namespace tessaly
