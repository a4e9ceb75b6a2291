#pragma once
// One client connection with its receive buffer and the blocking steps the
// protocol clients build on: open, write, and wait for a condition on the
// received bytes. Every wait sleeps in the EventPump with an idle time-out
// (the time allowed without a single byte arriving), so a large reply that
// keeps flowing is never cut off while a silent server is.

#include "platform/bytelink.h"
#include "platform/eventpump.h"

#include <functional>

namespace tessaly {

class LinkSession : public QObject {
    Q_OBJECT
public:
    LinkSession(EventPump& pump, LinkFactory& links);
    ~LinkSession() override;

    // Connects and waits; 0, or a socket error number.
    int Open(const QString& host, quint16 port, double timeoutSeconds, const bool* cancel);
    int Write(const QByteArray& bytes);
    // Switches the open connection to TLS and waits for the handshake; bytes
    // received in clear before it are dropped. 0 when encrypted; otherwise
    // kSecureFailed with SecureFailure() saying why, or a socket error number.
    static constexpr int kSecureFailed = -2;
    int StartTls(const QString& peerName, const QString& caFile, double timeoutSeconds, const bool* cancel);
    QString SecureFailure() const { return secureFailure_; }
    bool Encrypted() const { return encrypted_; }
    // Waits until done() holds, testing it after every arrival. 0 when it
    // held; otherwise the link's error number, ConnectionReset when the
    // server closed, TimedOut after `idleSeconds` without data or once the
    // pump's steady clock passes `deadlineMs` (when not negative) however
    // much data flows, Interrupted on cancel.
    int WaitFor(const std::function<bool()>& done, double idleSeconds, const bool* cancel, qint64 deadlineMs = -1);
    // Bytes received and not yet taken by the protocol.
    QByteArray& Buffer() { return buffer_; }
    const QByteArray& Buffer() const { return buffer_; }
    bool IsOpen() const { return link_ && link_->IsOpen() && !closed_; }
    // True once the server closed or the link failed.
    bool Ended() const { return closed_ || failure_ != 0; }
    void Abort();

signals:
    // New bytes were appended to Buffer().
    void bytesArrived();
    // The server closed the connection (also while no step was waiting).
    void peerClosed();
    // The link failed with this socket error number (also while no step
    // was waiting).
    void linkFailed(int number);

private:
    EventPump& pump_;
    LinkFactory& links_;
    std::unique_ptr<ByteLink> link_;
    QByteArray buffer_;
    quint64 arrivals_ = 0;
    bool opened_ = false;
    bool closed_ = false;
    bool encrypted_ = false;
    bool secureEnded_ = false;
    QString secureFailure_;
    int failure_ = 0;
};

} // namespace tessaly
