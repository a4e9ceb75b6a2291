#pragma once
// The SMTP client control: one message per Send() with the current
// properties, and its real implementation over a LinkSession (RFC 5321,
// message format RFC 5322).

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/linksession.h"

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

    // Sends one message; 0 when the server accepted it. Otherwise the
    // server's reply code (400..599) or a socket error number.
    virtual int Send() = 0;

signals:
    void dataReceived(const QString& text);
    void socketClosed();
    void error(int number, const QString& description);

protected:
    const bool* cancel_ = nullptr;

private:
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

private:
    int exchange(const QByteArray& line, int expected);
    int readReply(int expected);
    int fail(int number);

    EventPump& pump_;
    LinkSession link_;
};

} // namespace tessaly
