#include "platform/bytelink.h"

#include "ground/sockerr.h"

#include <QHostAddress>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>
#include <QTimer>

namespace tessaly {

namespace {

int numberFor(QAbstractSocket::SocketError e) {
    using S = QAbstractSocket;
    switch (e) {
    case S::ConnectionRefusedError: return sockerr::ConnectionRefused;
    case S::RemoteHostClosedError: return sockerr::ConnectionReset;
    case S::HostNotFoundError: return sockerr::HostNotFound;
    case S::SocketAccessError: return 13;
    case S::SocketResourceError: return 55;
    case S::SocketTimeoutError: return sockerr::TimedOut;
    case S::NetworkError: return 51;
    case S::AddressInUseError: return 48;
    case S::SocketAddressNotAvailableError: return 49;
    case S::UnsupportedSocketOperationError: return 45;
    case S::DatagramTooLargeError: return sockerr::MessageTooLong;
    case S::TemporaryError: return 35;
    default: return sockerr::ConnectionAborted;
    }
}

QString protocolText(QSsl::SslProtocol p) {
    switch (p) {
    case QSsl::TlsV1_2: return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3: return QStringLiteral("TLS 1.3");
    default: return QStringLiteral("TLS (version %1)").arg(int(p));
    }
}

class TcpLink : public ByteLink {
public:
    explicit TcpLink(TcpLinkFactory::Trace trace) : trace_(std::move(trace)) {
        connect(&socket_, &QSslSocket::encrypted, this, [this] {
            if (trace_)
                trace_(QStringLiteral("%1 encrypted: %2, %3")
                           .arg(where(), protocolText(socket_.sessionProtocol()), socket_.sessionCipher().name()));
            emit encrypted();
        });
        connect(&socket_, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            QStringList texts;
            for (const QSslError& e : errors)
                if (!texts.contains(CertificateProblem(e)))
                    texts << CertificateProblem(e);
            secureFailure(texts.join(QStringLiteral("; ")));
        });
        connect(&socket_, &QTcpSocket::connected, this, [this] {
            socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            if (trace_)
                trace_(QStringLiteral("%1 connected, not encrypted").arg(where()));
            emit opened();
        });
        connect(&socket_, &QTcpSocket::readyRead, this, &ByteLink::bytesArrived);
        connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e == QAbstractSocket::RemoteHostClosedError)
                return; // reported through disconnected() as closed()
            if (e == QAbstractSocket::SslHandshakeFailedError || e == QAbstractSocket::SslInternalError ||
                e == QAbstractSocket::SslInvalidUserDataError) {
                secureFailure(socket_.errorString());
                return;
            }
            if (!reported_) {
                reported_ = true;
                emit failed(numberFor(e));
            }
        });
        connect(&socket_, &QTcpSocket::disconnected, this, [this] {
            if (!reported_) {
                reported_ = true;
                emit closed();
            }
        });
    }

    void Open(const QString& host, quint16 port) override {
        reported_ = false;
        const QString h = host.trimmed();
        if (h.isEmpty() || h.endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive) ||
            h.compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0) {
            // Reserved names never resolve; report it from the event loop
            // like any other resolver answer.
            QTimer::singleShot(0, this, [this] {
                reported_ = true;
                emit failed(sockerr::HostNotFound);
            });
            return;
        }
        socket_.connectToHost(h, port);
    }

    int Write(const QByteArray& bytes) override {
        if (socket_.state() != QAbstractSocket::ConnectedState)
            return sockerr::NotConnected;
        return socket_.write(bytes) == bytes.size() ? 0 : sockerr::ConnectionAborted;
    }

    bool StartTls(const QString& peerName, const QString& caFile) override {
        if (!QSslSocket::supportsSsl() || socket_.state() != QAbstractSocket::ConnectedState)
            return false;
        if (!caFile.isEmpty()) {
            const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
            if (extra.isEmpty()) {
                QTimer::singleShot(0, this, [this, caFile] {
                    secureFailure(QStringLiteral("no certificate could be read from the CA file ") + caFile);
                });
                return true;
            }
            QSslConfiguration conf = socket_.sslConfiguration();
            conf.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
            socket_.setSslConfiguration(conf);
        }
        socket_.setPeerVerifyName(peerName);
        socket_.startClientEncryption();
        return true;
    }

    QByteArray ReadAll() override { return socket_.readAll(); }
    bool IsOpen() const override { return socket_.state() == QAbstractSocket::ConnectedState; }

    void Abort() override {
        reported_ = true;
        socket_.abort();
    }

private:
    QString where() const { return QStringLiteral("%1:%2").arg(socket_.peerName()).arg(socket_.peerPort()); }

    void secureFailure(const QString& description) {
        if (reported_)
            return;
        reported_ = true;
        socket_.abort();
        emit secureFailed(description);
    }

    QSslSocket socket_;
    bool reported_ = false;
    TcpLinkFactory::Trace trace_;
};

} // namespace

QString CertificateProblem(const QSslError& e) {
    switch (e.error()) {
    case QSslError::CertificateExpired: return QStringLiteral("the certificate has expired");
    case QSslError::CertificateNotYetValid: return QStringLiteral("the certificate is not valid yet");
    case QSslError::HostNameMismatch:
        return QStringLiteral("the certificate is for another host name (wrong host name)");
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain: return QStringLiteral("the certificate is self-signed");
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted: return QStringLiteral("the certificate's issuer is unknown");
    case QSslError::CertificateRevoked: return QStringLiteral("the certificate has been revoked");
    default: return e.errorString();
    }
}

std::unique_ptr<ByteLink> TcpLinkFactory::CreateLink() { return std::make_unique<TcpLink>(trace_); }

} // namespace tessaly
