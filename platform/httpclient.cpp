#include "platform/httpcontrol.h"

#include "ground/sockerr.h"

#include <QHostAddress>

namespace tessaly {

namespace {
// Text for a request line or the Host header: controls, space, DEL and
// 8-bit bytes (of the UTF-8 form) are written as %XX, so nothing taken from
// a URL or from a server's Location value can end the line or add another.
QByteArray requestSafe(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7f) {
            out += ch;
        } else {
            out += '%';
            out += QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        }
    }
    return out;
}

// The extra request lines, one header each: a CR or LF anywhere ends a line,
// and other control characters (but tab) are left out.
QByteArray extraHeaderLines(const QString& lines) {
    QByteArray text;
    QByteArray line;
    auto finish = [&] {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            text += trimmed + "\r\n";
        line.clear();
    };
    for (const char ch : lines.toLatin1()) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n')
            finish();
        else if (c >= 0x20 || c == '\t')
            line += ch;
    }
    finish();
    return text;
}
} // namespace

void HttpControl::SetURL(const QString& url) {
    url_ = url;
    QString rest = url.trimmed();
    const qsizetype scheme = rest.indexOf(QLatin1String("://"));
    secure_ = scheme >= 0 && rest.left(scheme).compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    path_ = slash >= 0 ? rest.mid(slash) : QStringLiteral("/");
    user_.clear();
    password_.clear();
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString credentials = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = credentials.indexOf(QLatin1Char(':'));
        user_ = colon >= 0 ? credentials.left(colon) : credentials;
        password_ = colon >= 0 ? credentials.mid(colon + 1) : QString();
    }
    urlPort_ = 0;
    const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && !authority.endsWith(QLatin1Char(']'))) {
        bool numeric = false;
        const int port = authority.mid(colon + 1).toInt(&numeric);
        if (numeric && port > 0 && port < 65536)
            urlPort_ = port;
        authority = authority.left(colon);
    }
    if (authority.startsWith(QLatin1Char('[')) && authority.endsWith(QLatin1Char(']')))
        authority = authority.mid(1, authority.size() - 2);
    hostName_ = authority;
    hostAddress_ = QHostAddress(authority).isNull() ? QString() : authority;
}

QString HttpControl::connectHost() const {
    if (!proxyAddress_.isEmpty())
        return proxyAddress_;
    if (!proxyName_.isEmpty())
        return proxyName_;
    return hostAddress_.isEmpty() ? hostName_ : hostAddress_;
}

int HttpControl::connectPort() const {
    if (viaProxy())
        return port_;
    if (urlPort_ != 0)
        return urlPort_;
    return secure_ ? 443 : port_;
}

QByteArray HttpControl::hostHeader() const {
    QByteArray host = requestSafe(hostName_);
    if (host.contains(':'))
        host = '[' + host + ']';
    if (urlPort_ != 0 && urlPort_ != (secure_ ? 443 : 80))
        host += ':' + QByteArray::number(urlPort_);
    return host;
}

QByteArray HttpControl::requestText(const char* method) const {
    // Through a proxy a plain request names the whole URL; a secure one
    // travels inside the CONNECT tunnel and names the path only.
    const QByteArray path = requestSafe(path_);
    const QByteArray target = viaProxy() && !secure_ ? "http://" + hostHeader() + path : path;
    QByteArray text = QByteArray(method) + ' ' + target + " HTTP/1.0\r\n";
    text += "Host: " + hostHeader() + "\r\n";
    if (!user_.isEmpty())
        text += "Authorization: Basic " + (user_ + QLatin1Char(':') + password_).toLatin1().toBase64() + "\r\n";
    text += extraHeaderLines(requestLines_);
    text += "\r\n";
    return text;
}

HttpClient::HttpClient(EventPump&, LinkFactory& links, QObject* parent) : links_(links) { setParent(parent); }

void HttpClient::setState(int state) {
    if (state != state_) {
        state_ = state;
        emit stateChanged(state);
    }
}

void HttpClient::Abort() {
    if (link_) {
        link_->disconnect(this);
        link_->Abort();
        link_.release()->deleteLater();
    }
    received_.clear();
    headerEnd_ = -1;
    contentLength_ = -1;
    tunnelling_ = false;
    state_ = Idle;
}

int HttpClient::Connect() {
    Abort();
    const QString host = connectHost().trimmed();
    const int port = connectPort();
    if (host.isEmpty() || port <= 0 || port > 65535)
        return 0;
    link_ = links_.CreateLink();
    ByteLink* link = link_.get();
    connect(link, &ByteLink::opened, this, &HttpClient::onOpened);
    connect(link, &ByteLink::encrypted, this, [this] {
        setState(Connected);
        emit connected();
    });
    connect(link, &ByteLink::secureFailed, this, [this](const QString& text) {
        failSecure(QStringLiteral("Secure connection to %1 failed: %2").arg(HostName(), text));
    });
    connect(link, &ByteLink::bytesArrived, this, &HttpClient::onBytes);
    connect(link, &ByteLink::closed, this, &HttpClient::onClosed);
    connect(link, &ByteLink::failed, this, &HttpClient::failWith);
    setState(Connecting);
    link->Open(host, static_cast<quint16>(port));
    serial_ = serial_ % 30000 + 1;
    return serial_;
}

void HttpClient::onOpened() {
    if (!secure()) {
        setState(Connected);
        emit connected();
        return;
    }
    if (viaProxy()) {
        // Ask the proxy for a tunnel to the server; TLS starts once it agrees.
        QByteArray target = requestSafe(HostName());
        if (target.contains(':'))
            target = '[' + target + ']';
        target += ':' + QByteArray::number(urlPort_ != 0 ? urlPort_ : 443);
        tunnelling_ = true;
        const int written = link_->Write("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n");
        if (written != 0)
            failWith(written);
        return;
    }
    if (!link_->StartTls(HostName()))
        failSecure(QStringLiteral("Secure connection to %1 failed: TLS is not available").arg(HostName()));
}

int HttpClient::request(const char* method) {
    if (!link_ || !link_->IsOpen()) {
        emit error(sockerr::NotConnected);
        return sockerr::NotConnected;
    }
    headOnly_ = qstrcmp(method, "HEAD") == 0;
    received_.clear();
    headerEnd_ = -1;
    contentLength_ = -1;
    setResponse(Header(), QString());
    const int written = link_->Write(requestText(method));
    if (written != 0) {
        failWith(written);
        return written;
    }
    setState(Requesting);
    emit packetSent();
    return 0;
}

void HttpClient::onBytes() {
    if (!link_)
        return;
    const QByteArray bytes = link_->ReadAll();
    if (bytes.isEmpty())
        return;
    if (tunnelling_) {
        received_ += bytes;
        const qsizetype end = received_.indexOf("\r\n\r\n");
        if (end < 0) {
            if (received_.size() > kMaxHeader)
                failWith(sockerr::MessageTooLong);
            return;
        }
        const QByteArray status = received_.left(received_.indexOf("\r\n"));
        const QList<QByteArray> words = status.split(' ');
        received_.clear();
        tunnelling_ = false;
        if (words.size() < 2 || words.at(1) != "200")
            failSecure(QStringLiteral("Secure connection to %1 failed: the proxy answered %2")
                           .arg(HostName(), QString::fromLatin1(status)));
        else if (!link_->StartTls(HostName()))
            failSecure(QStringLiteral("Secure connection to %1 failed: TLS is not available").arg(HostName()));
        return;
    }
    setState(Receiving);
    received_ += bytes;
    emit dataReceived(QString::fromLatin1(bytes), static_cast<int>(bytes.size()));
    if (headerEnd_ < 0) {
        headerEnd_ = received_.indexOf("\r\n\r\n");
        if (headerEnd_ < 0 && received_.size() > kMaxHeader) {
            failWith(sockerr::MessageTooLong);
            return;
        }
        if (headerEnd_ >= 0) {
            for (const QByteArray& line : received_.left(headerEnd_).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    contentLength_ = line.mid(15).trimmed().toLongLong();
            }
        }
    }
    if (received_.size() > kMaxDocument + kMaxHeader)
        failWith(sockerr::MessageTooLong);
}

void HttpClient::onClosed() {
    if (!link_)
        return;
    received_ += link_->ReadAll();
    if (headerEnd_ < 0)
        headerEnd_ = received_.indexOf("\r\n\r\n");
    const qint64 bodySize = headerEnd_ >= 0 ? received_.size() - headerEnd_ - 4 : 0;
    if (headerEnd_ < 0 || (!headOnly_ && contentLength_ >= 0 && bodySize < contentLength_)) {
        // The answer was cut off before its end.
        failWith(received_.isEmpty() ? sockerr::ConnectionReset : sockerr::ConnectionAborted);
        return;
    }
    setResponse(QString::fromLatin1(received_.left(headerEnd_ + 2)),
                QString::fromLatin1(received_.mid(headerEnd_ + 4)));
    link_->disconnect(this);
    link_.release()->deleteLater();
    setState(Closed);
    emit serverConnectionClosed();
    emit fileClosed();
    emit socketClosed();
    state_ = Idle;
}

void HttpClient::failSecure(const QString& description) {
    if (link_) {
        link_->disconnect(this);
        link_->Abort();
        link_.release()->deleteLater();
    }
    tunnelling_ = false;
    state_ = Idle;
    emit secureError(description);
}

void HttpClient::failWith(int number) {
    if (link_) {
        link_->disconnect(this);
        link_->Abort();
        link_.release()->deleteLater();
    }
    state_ = Idle;
    emit error(number);
}

} // namespace tessaly
