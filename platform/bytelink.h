#pragma once
// A byte stream to a server, as the POP3, SMTP and HTTP clients use it. The
// real link is a QTcpSocket; tests hand the clients scripted links whose
// server answers on the virtual clock. Every notification arrives as a
// signal on the user-interface thread; nothing here waits.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QSslError;

namespace tessaly {

// A certificate problem in plain words ("the certificate's issuer is unknown").
QString CertificateProblem(const QSslError& e);

class ByteLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ByteLink() override = default;

    // Starts connecting; ends in opened() or failed(number).
    virtual void Open(const QString& host, quint16 port) = 0;
    // Queues bytes for sending; returns 0, or a socket error number when the
    // link is not open.
    virtual int Write(const QByteArray& bytes) = 0;
    // Takes everything received so far.
    virtual QByteArray ReadAll() = 0;
    virtual bool IsOpen() const = 0;
    // Closes at once; no further signals.
    virtual void Abort() = 0;
    // Switches an open link to TLS, checking the server's certificate
    // against the system's certificate store (and the PEM certificates of
    // `caFile` when named) and `peerName`. Ends in encrypted() or
    // secureFailed(description, with the reason in plain words); false when
    // the link cannot speak TLS at all.
    virtual bool StartTls(const QString& peerName, const QString& caFile = {}) {
        Q_UNUSED(peerName);
        Q_UNUSED(caFile);
        return false;
    }

signals:
    void opened();
    void bytesArrived();
    // The server closed the connection.
    void closed();
    // A socket error, as a number of the socket error table.
    void failed(int number);
    // The TLS handshake finished; from now on bytes travel encrypted.
    void encrypted();
    // The TLS handshake failed (an untrusted or mismatched certificate, no
    // TLS support); the link is closed and sends nothing more.
    void secureFailed(const QString& description);
};

class LinkFactory {
public:
    virtual ~LinkFactory() = default;
    virtual std::unique_ptr<ByteLink> CreateLink() = 0;
};

// QSslSocket links (plain TCP until StartTls). Names under the reserved ".invalid" top-level domain
// fail as unknown hosts without a resolver query.
class TcpLinkFactory : public LinkFactory {
public:
    // Told of each link's connection and whether (and how) it is encrypted:
    // "127.0.0.1:995 connected, not encrypted", then "... encrypted: TLS 1.3, <cipher>".
    using Trace = std::function<void(const QString&)>;
    void SetTrace(Trace trace) { trace_ = std::move(trace); }
    std::unique_ptr<ByteLink> CreateLink() override;

private:
    Trace trace_;
};

} // namespace tessaly
