#pragma once
// The POP3 client control and the raw TCP control that shares its
// connection.
//
// Replies reach the owner through dataReceived(): each step that reads a
// reply (connect reads the greeting, the login steps, Receive, Retrieve,
// Close) delivers the reply's lines as they arrive, in one or more pieces.
// packetSent() is emitted as soon as a command is handed to the connection
// (also a command written by the raw TCP control), and socketClosed() when
// the connection ends, so the owner knows that the next piece begins a new
// reply. Bytes that arrive while no step is reading stay buffered until the
// next step, so the order of packetSent() and dataReceived() always follows
// the order of commands and replies on the wire.
// PopReplyTracker (popreplytracker.h) turns these signals into the last
// complete reply.

#include "platform/eventpump.h"
#include "platform/sasloauth.h"
#include "platform/tlschoice.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <optional>
#include <QString>

namespace tessaly {

// A connection that other controls may write raw text onto.
class SocketEndpoint {
public:
    virtual ~SocketEndpoint() = default;
    // Writes the bytes as they are; 0, or a socket error number.
    virtual int WriteRaw(const QByteArray& bytes) = 0;
};

// Socket numbers handed out by connect. Numbers start at 1 and are not
// reused within a run, so a stale number never reaches a newer connection.
class SocketRegistry {
public:
    int Register(SocketEndpoint* endpoint) {
        const int number = next_++;
        endpoints_.insert(number, endpoint);
        return number;
    }
    void Unregister(int number) { endpoints_.remove(number); }
    SocketEndpoint* Find(int number) const { return endpoints_.value(number, nullptr); }

private:
    QHash<int, SocketEndpoint*> endpoints_;
    int next_ = 1;
};

class PopControl : public QObject {
    Q_OBJECT
public:
    // Results other than 0 from the steps: a socket error number, or this
    // for a negative ("-ERR") or unreadable server reply.
    static constexpr int NegativeReply = 1;

    using QObject::QObject;
    ~PopControl() override = default;

    QString Server() const { return server_; }
    void SetServer(const QString& v) { server_ = v; }
    int Port() const { return port_; }
    void SetPort(int v) { port_ = v; }
    QString User() const { return user_; }
    void SetUser(const QString& v) { user_ = v; }
    QString Password() const { return password_; }
    void SetPassword(const QString& v) { password_ = v; }
    int MessageNumber() const { return messageNumber_; }
    void SetMessageNumber(int v) { messageNumber_ = v; }
    // Seconds a step waits without a byte from the server (default 60).
    double Timeout() const { return timeout_; }
    void SetTimeout(double v) { timeout_ = v; }
    // Seconds a command may take from being sent to the end of its answer,
    // however steadily the answer trickles in: RETR gets DownloadDeadline(),
    // every other command (and the greeting) CommandDeadline(). 0 or less:
    // no limit. A command past its deadline fails with a time-out error.
    static constexpr double kDefaultCommandDeadline = 60;
    static constexpr double kDefaultDownloadDeadline = 300;
    double CommandDeadline() const { return commandDeadline_; }
    void SetCommandDeadline(double v) { commandDeadline_ = v; }
    double DownloadDeadline() const { return downloadDeadline_; }
    void SetDownloadDeadline(double v) { downloadDeadline_ = v; }
    // A flag that ends a waiting step early when it becomes true.
    void SetCancelFlag(const bool* flag) { cancel_ = flag; }
    // How Connect() secures the connection, and an extra file of trusted
    // certificates (PEM) besides the system's.
    Security SecurityChoice() const { return security_; }
    void SetSecurity(Security v) { security_ = v; }
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& v) { caFile_ = v; }

    // Drops any connection without a word to the server; back to idle.
    virtual void Reset() = 0;
    // Connects and reads the greeting; the socket number, below 1 on failure.
    virtual int Connect() = 0;
    // The login steps, in this order: USER, PASS, and STAT, whose answer
    // gives the message count and fires loginComplete(). 0 on success.
    virtual int SendUser() = 0;
    virtual int SendPass() = 0;
    virtual int SendStat() = 0;
    // Instead of USER and PASS: AUTH with an OAuth 2.0 access token from the
    // bearer source (OAUTHBEARER or XOAUTH2, whichever the server's CAPA
    // offers). A token the server refuses is renewed and tried once more.
    // 0 on success; NegativeReply when refused or when no token could be
    // had, SignInFailure() then saying why; otherwise a socket error.
    void SetBearer(sasl::BearerSource source) { bearer_ = std::move(source); }
    virtual int SendOAuth() { return NegativeReply; }
    QString SignInFailure() const { return signInFailure_; }
    virtual int MessageCount() const = 0;
    // Reads the next server reply. When no command awaits an answer, the
    // control asks for one with NOOP, so every call delivers exactly one
    // complete reply, the previous reply having been marked complete by
    // the packetSent() of that NOOP.
    virtual int Receive() = 0;
    // The header requests ("TOP n 0") of `numbers`, written at once for a
    // server that takes commands in batches; the answers are read in order.
    // `answers` gets one entry per request whose own answer arrived: 0 or
    // NegativeReply, and the reply. 0 when every answer arrived; otherwise
    // the socket error that ended the batch (the connection is then gone).
    struct HeaderAnswer {
        int result = 0;
        QByteArray reply;
        bool cut = false; // see LastReplyCut()
    };
    virtual int RequestHeaders(const QList<int>& numbers, QList<HeaderAnswer>& answers) = 0;
    // The downloads ("RETR n") of `numbers`, written at once as the header
    // requests are; each answer has the download time-out of its own from
    // the moment it is read. `answers` gets one entry per request whose own
    // complete answer arrived: 0 with the message (leading dots of its lines
    // unstuffed) or NegativeReply. 0 when every answer arrived; otherwise the
    // socket error that ended the batch (the connection is then gone).
    struct MessageAnswer {
        int result = 0;
        QString text;
    };
    virtual int RequestMessages(const QList<int>& numbers, QList<MessageAnswer>& answers) = 0;
    // RETR of MessageNumber(); MessageText() then holds the message.
    virtual int Retrieve() = 0;
    virtual QString MessageText() const = 0;
    // QUIT and close; socketClosed() follows.
    virtual void Close() = 0;
    // The socket number of the open connection, 0 when none.
    virtual int Socket() const = 0;
    // The CAPA answer read while the connection was opened, when it still
    // holds (none after an upgrade to TLS, which makes the client ask again);
    // an empty answer when the server refused CAPA.
    virtual std::optional<QByteArray> Capabilities() const { return std::nullopt; }
    // True when the reply read last was a header answer too big to keep:
    // it was read to its end, so the connection stays in step, but only
    // its first part was delivered.
    virtual bool LastReplyCut() const { return false; }

signals:
    void dataReceived(const QString& text);
    void packetSent();
    void socketClosed();
    void loginComplete();
    void error(int number, const QString& description);
    // Connect() gave up because the connection could not be secured; the
    // text names the server and the reason. No error() accompanies it.
    void secureFailed(const QString& text);
    // Connect() goes on in clear: the server offered no upgrade.
    void clearText();

protected:
    const bool* cancel_ = nullptr;
    sasl::BearerSource bearer_;
    QString signInFailure_;

private:
    Security security_ = Security::None;
    QString caFile_;
    QString server_;
    int port_ = 110;
    QString user_;
    QString password_;
    int messageNumber_ = 0;
    double timeout_ = 60.0;
    double commandDeadline_ = kDefaultCommandDeadline;
    double downloadDeadline_ = kDefaultDownloadDeadline;
};

// Raw text onto a connection of the registry, by socket number.
class TcpControl : public QObject {
    Q_OBJECT
public:
    explicit TcpControl(SocketRegistry& registry, QObject* parent = nullptr) : QObject(parent), registry_(registry) {}
    int Socket() const { return socket_; }
    void SetSocket(int v) { socket_ = v; }
    // Writes the text (8-bit, as given; the caller supplies CR LF). 0 on
    // success; otherwise the error number, also reported through error().
    int SendText(const QString& text);

signals:
    void packetSent();
    void error(int number, const QString& description);

private:
    SocketRegistry& registry_;
    int socket_ = 0;
};

} // namespace tessaly
