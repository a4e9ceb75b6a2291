#pragma once
// An SNPP level 2 client (RFC 1861): one page per SendPage() over a
// LinkSession. The exchange is the greeting (220), "PAGE <id> [password]",
// the text as "MESS <text>" when it is one line within the service's limit
// or else "DATA", the lines with leading dots doubled and ".", then "SEND"
// and "QUIT". Every step waits in the event pump with the time-out.
//
// TLS: RFC 1861 has no upgrade command, so there is no STARTTLS. With
// SetTls(true) the handshake starts as soon as the connection is open (a
// service that runs SNPP inside TLS on its own port), checked against the
// system's certificates and the CA file; otherwise the page goes in clear.

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/linksession.h"
#include "platform/snppreplies.h"

#include <QObject>

namespace tessaly {

// The result of one page.
struct SnppOutcome {
    enum class Kind {
        Delivered, // SEND was answered with 2xx
        Temporary, // worth trying again later: a 4xx reply, a socket error,
                   // a time-out, a dropped connection, an unreadable reply
        Permanent  // the service refused this page (5xx), the settings
                   // cannot work (a pager ID with spaces), or the
                   // connection could not be secured
    };
    Kind kind = Kind::Temporary;
    int code = 0;        // the server's reply code, when a reply decided
    int socketError = 0; // the socket error number, when one decided
    QString reason;      // for the activity line: what failed, in words
    bool Delivered() const { return kind == Kind::Delivered; }
};

class SnppClient : public QObject {
    Q_OBJECT
public:
    // The SNPP port RFC 1861 names.
    static constexpr int kSnppPort = 444;

    SnppClient(EventPump& pump, LinkFactory& links, QObject* parent = nullptr);

    QString Host() const { return host_; }
    void SetHost(const QString& v) { host_ = v; }
    int Port() const { return port_; }
    void SetPort(int v) { port_ = v; }
    bool Tls() const { return tls_; }
    void SetTls(bool v) { tls_ = v; }
    // An extra file of trusted certificates (PEM) besides the system's.
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& v) { caFile_ = v; }
    // Seconds a step waits without a byte from the server (default 60).
    double Timeout() const { return timeout_; }
    void SetTimeout(double v) { timeout_ = v; }
    // The longest text sent with MESS; longer or multi-line text goes with
    // DATA. 0: always DATA.
    int MessLimit() const { return messLimit_; }
    void SetMessLimit(int v) { messLimit_ = v; }
    void SetCancelFlag(const bool* flag) { cancel_ = flag; }

    // Sends one page: `text` to `pagerId`, with the optional password or PIN
    // the service wants after the ID. The text goes as printable ASCII, its
    // line breaks kept.
    SnppOutcome SendPage(const QString& pagerId, const QString& password, const QString& text);

    // The lines that follow "DATA" for `text`: CR LF line ends, leading dots
    // doubled, the closing ".".
    static QByteArray DataBlock(const QString& text);

signals:
    // A line from the server, as received.
    void dataReceived(const QString& text);
    // A line sent to the server as the terminal may show it: a password
    // after the pager ID is replaced by "****".
    void commandSent(const QString& text);
    void error(int number, const QString& description);
    void socketClosed();

private:
    std::optional<snpp::Reply> readReply(int& failure);
    SnppOutcome step(const QByteArray& line, const QString& shown, snpp::ReplyClass wanted, const char* what);
    SnppOutcome finish(SnppOutcome outcome);
    SnppOutcome socketFailure(int number, const char* what);
    // "host:port", for the reasons.
    QString address() const;

    EventPump& pump_;
    LinkSession link_;
    QString host_;
    int port_ = kSnppPort;
    bool tls_ = false;
    QString caFile_;
    double timeout_ = 60.0;
    int messLimit_ = 160;
    const bool* cancel_ = nullptr;
};

} // namespace tessaly
