#include "platform/terminallink.h"

#include "ground/sockerr.h"
#include "ground/tessalyerror.h"
#include "platform/tlschoice.h"

namespace tessaly {

namespace {

[[noreturn]] void raise(int number, const QString& text) { throw TessalyError(number, text); }

[[noreturn]] void notOpen() {
    raise(SerialControl::PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
}

// The logoff the paging routines send; the terminal hangs up after it.
const QByteArray kLogoff("\x04\r");

} // namespace

TcpTerminalLink::TcpTerminalLink(EventPump& pump, LinkFactory& links, QObject* parent) : session_(pump, links) {
    setParent(parent);
    connect(&session_, &LinkSession::bytesArrived, this, &TcpTerminalLink::arrived);
    connect(&session_, &LinkSession::peerClosed, this,
            [this] { ended(QStringLiteral("the terminal closed the connection")); });
    connect(&session_, &LinkSession::linkFailed, this, [this](int number) { ended(sockerr::Text(number)); });
}

TcpTerminalLink::~TcpTerminalLink() = default;

void TcpTerminalLink::SetAddress(const QString& host, int port, bool tls, const QString& caFile) {
    if (open_)
        raise(PortAlreadyOpen, QStringLiteral("Port already open"));
    host_ = host.trimmed();
    port_ = port;
    tls_ = tls;
    caFile_ = caFile;
}

QString TcpTerminalLink::Where() const {
    const QString host = host_.contains(QLatin1Char(':')) ? QLatin1Char('[') + host_ + QLatin1Char(']') : host_;
    return host + QLatin1Char(':') + QString::number(port_);
}

void TcpTerminalLink::SetPortOpen(bool open) {
    if (!open) {
        if (!open_)
            return;
        open_ = false;
        peerGone_ = false;
        session_.Abort();
        session_.Buffer().clear();
        emit terminalLine(QStringLiteral("Closed the connection to the paging terminal at ") + Where());
        return;
    }
    if (open_)
        raise(PortAlreadyOpen, QStringLiteral("Port already open"));
    const QString terminal = QStringLiteral("The paging terminal at ") + Where();
    if (host_.isEmpty() || port_ < 1 || port_ > 65535)
        raise(PortUnavailable, QStringLiteral("The paging terminal has no usable address (%1)").arg(Where()));
    const int opened = session_.Open(host_, static_cast<quint16>(port_), connectTimeout_, cancel_);
    if (opened == sockerr::TimedOut)
        raise(PortUnavailable, terminal + QStringLiteral(" did not answer within %1 seconds").arg(connectTimeout_));
    if (opened == sockerr::Interrupted)
        raise(PortUnavailable,
              QStringLiteral("The connection to the paging terminal at %1 was cancelled").arg(Where()));
    if (opened != 0)
        raise(PortUnavailable, terminal + QStringLiteral(" cannot be reached: ") + sockerr::Text(opened));
    if (tls_ && session_.StartTls(host_, caFile_, connectTimeout_, cancel_) != 0)
        raise(PortUnavailable, terminal + QStringLiteral(" cannot be reached: TLS failed: ") +
                                   ExplainTlsFailure(session_.SecureFailure()));
    open_ = true;
    peerGone_ = false;
    loggedOff_ = false;
    dropped_ = 0;
    emit terminalLine(QStringLiteral("Connected to the paging terminal at %1, %2")
                          .arg(Where(), tls_ ? QStringLiteral("encrypted (TLS)") : QStringLiteral("not encrypted")));
}

void TcpTerminalLink::arrived() {
    QByteArray& buffer = session_.Buffer();
    const qsizetype excess = buffer.size() - kMaxBuffer;
    if (excess <= 0)
        return;
    buffer.remove(0, excess);
    if (dropped_ == 0 && open_)
        emit terminalLine(QStringLiteral("The paging terminal at %1 sent more than %2 unread bytes; the oldest are "
                                         "dropped")
                              .arg(Where())
                              .arg(kMaxBuffer));
    dropped_ += excess;
}

void TcpTerminalLink::ended(const QString& reason) {
    if (!open_ || peerGone_)
        return;
    arrived(); // what came with the close is held to the bound as well
    peerGone_ = true;
    goneReason_ = reason;
    closeIfDrained();
}

void TcpTerminalLink::closeIfDrained() {
    if (peerGone_ && session_.Buffer().isEmpty())
        lost(goneReason_);
}

void TcpTerminalLink::lost(const QString& reason) {
    open_ = false;
    peerGone_ = false;
    session_.Abort();
    session_.Buffer().clear();
    if (loggedOff_)
        emit terminalLine(
            QStringLiteral("The paging terminal at %1 closed the connection after the logoff").arg(Where()));
    else
        reportLineLost(Where(), reason);
}

int TcpTerminalLink::InBufferCount() const { return open_ ? static_cast<int>(session_.Buffer().size()) : 0; }

void TcpTerminalLink::SetInBufferCount(int count) {
    if (count != 0)
        raise(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    if (!open_)
        return;
    session_.Buffer().clear();
    closeIfDrained();
}

QString TcpTerminalLink::Input() {
    if (!open_)
        notOpen();
    const QString text = QString::fromLatin1(std::exchange(session_.Buffer(), {}));
    closeIfDrained();
    return text;
}

void TcpTerminalLink::SetOutput(const QString& text) {
    if (!open_)
        notOpen();
    const QByteArray bytes = text.toLatin1();
    const int failure = session_.Write(bytes);
    if (failure != 0) {
        // The connection is gone: what the terminal sent before stays unread.
        lost(peerGone_ ? goneReason_ : sockerr::Text(failure));
        return;
    }
    loggedOff_ = bytes == kLogoff;
}

} // namespace tessaly
