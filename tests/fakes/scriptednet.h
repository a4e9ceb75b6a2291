#pragma once
// Scripted servers on the virtual clock, behind the LinkFactory seam the
// POP3, SMTP and HTTP clients connect through. A test lists which host and
// port answer with which script; every byte travels with a set latency, so
// time-outs and slow servers run in virtual time.
//
// Hosts: a name under ".invalid" or a host never named in listen() is an
// unknown host (1001); a known host without a listener on the port refuses
// the connection (61). "localhost" and "127.0.0.1" are always known.

#include "platform/bytelink.h"
#include "tests/fakes/virtualeventpump.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

namespace tessaly {

class ScriptedLink;

// The server's end of one connection.
class ServerEnd {
public:
    // Sends bytes after `delay` seconds (the net's latency when negative).
    void send(const QByteArray& bytes, double delay = -1);
    // Closes the connection after `delay` seconds.
    void close(double delay = -1);
    bool isOpen() const { return link_ != nullptr && open_; }
    // Everything the client wrote on this connection.
    QByteArray received;
    // True once the client switched the connection to TLS (bytes written
    // before that stay in `received` as they were).
    bool encrypted = false;

private:
    friend class ScriptedLink;
    friend class ScriptedNet;
    VirtualEventPump* pump_ = nullptr;
    ScriptedLink* link_ = nullptr;
    double latency_ = 0;
    double lastDelivery_ = 0; // keeps sends and the close in order
    bool open_ = false;
    double deliverAt(double delay);
};

class ServerScript {
public:
    virtual ~ServerScript() = default;
    virtual void connected(ServerEnd&) {}
    virtual void received(ServerEnd& end, const QByteArray& bytes) = 0;
};

// A script that answers whole lines (LF-terminated; the CR is kept).
class LineScript : public ServerScript {
public:
    void received(ServerEnd& end, const QByteArray& bytes) override;
    virtual void line(ServerEnd& end, const QByteArray& line) = 0;

private:
    QByteArray pending_;
};

class ScriptedNet : public LinkFactory {
public:
    using ScriptMaker = std::function<std::unique_ptr<ServerScript>()>;

    explicit ScriptedNet(VirtualEventPump& pump) : pump_(pump) {}
    ~ScriptedNet() override;

    void listen(const QString& host, quint16 port, ScriptMaker maker);
    void setLatency(double seconds) { latency_ = seconds; }
    // A TLS handshake checking this peer name fails as an untrusted certificate.
    void setUntrusted(const QString& peerName) { untrusted_ << peerName; }
    std::unique_ptr<ByteLink> CreateLink() override;

    // The server ends of all connections made so far, oldest first.
    const QList<std::shared_ptr<ServerEnd>>& connections() const { return ends_; }

private:
    friend class ScriptedLink;
    VirtualEventPump& pump_;
    double latency_ = 0.05;
    QHash<QString, ScriptMaker> listeners_; // "host:port"
    QStringList hosts_{QStringLiteral("localhost"), QStringLiteral("127.0.0.1")};
    QStringList untrusted_;
    QList<std::shared_ptr<ServerEnd>> ends_;
    QList<std::shared_ptr<ServerScript>> scripts_;
};

// ---- Scripted servers --------------------------------------------------

// A POP3 mailbox and what its server did.
struct Pop3Mailbox {
    QString user = QStringLiteral("user");
    QString password = QStringLiteral("secret");
    QList<QByteArray> messages; // complete messages, CR LF line ends
    QByteArray greeting = "+OK Scripted POP3 ready";
    double replyDelay = 0.1;    // seconds from a command to its answer
    int chunkSize = 0;          // > 0: answers go out in pieces this long, 0.01 s apart
    bool silent = false;        // accepts the connection, never answers
    // After this command (its first words, e.g. "PASS" or "TOP 2") the
    // server drops the line instead of answering.
    QByteArray dropAfter;
    // From this command on (first words as above) the server answers nothing.
    QByteArray silentAfter;
    // Seconds between the pieces of a chunked answer.
    double chunkDelay = 0.01;
    // Header requests ("TOP") for these message numbers are answered "-ERR".
    QList<int> refuseTop;
    // Answer the header request with a bare "+OK", as many servers do (sizes come from LIST).
    bool bareTop = false;
    // Answer "UIDL": each message's unique ID is a digest of its text, so it
    // stays with the message when others are added or deleted.
    bool uidl = false;
    // List "PIPELINING" in the answer to "CAPA" (otherwise CAPA is unknown).
    bool pipelining = false;
    // Every command line received, without CR LF, in order.
    QList<QByteArray> commands;
    // The commands received that begin with `verb`.
    int count(const QByteArray& verb) const;
};
std::unique_ptr<ServerScript> makePop3Script(std::shared_ptr<Pop3Mailbox> box);

struct SmtpMessage {
    QByteArray helo;
    QByteArray mailFrom;
    QList<QByteArray> rcptTo;
    QByteArray data; // as received, before un-stuffing, without the final "."
};
struct SmtpSink {
    double replyDelay = 0.1;
    bool silent = false;
    int rejectRcpt = 0;   // a code such as 550 refuses every RCPT TO
    int rejectData = 0;   // a code refuses the message after its data
    // Refuse the data of the next `rejectDataTimes` messages only (0 = every message when rejectData is set).
    int rejectDataTimes = 0;
    // Refuse (with 554) the messages at these positions, counting every
    // message whose data arrived on any connection, from 1.
    QList<int> refuseMessages;
    // EHLO offers AUTH PLAIN and LOGIN; a code such as 535 refuses every AUTH.
    bool offerAuth = false;
    int refuseAuth = 0;
    int dataCount = 0; // messages whose data arrived
    QList<QByteArray> commands;
    QList<SmtpMessage> messages; // accepted messages
};
std::unique_ptr<ServerScript> makeSmtpScript(std::shared_ptr<SmtpSink> sink);

struct HttpResponder {
    // Answer for a request (request line and header); empty means silence.
    std::function<QByteArray(const QByteArray& request)> respond;
    double replyDelay = 0.1;
    bool keepOpen = false; // never closes after answering
    QList<QByteArray> requests;
};
std::unique_ptr<ServerScript> makeHttpScript(std::shared_ptr<HttpResponder> responder);

} // namespace tessaly
