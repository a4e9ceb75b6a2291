#include "platform/linksession.h"

#include "ground/sockerr.h"

#include <algorithm>

namespace tessaly {

LinkSession::LinkSession(EventPump& pump, LinkFactory& links) : pump_(pump), links_(links) {}

LinkSession::~LinkSession() { Abort(); }

void LinkSession::Abort() {
    if (link_) {
        link_->disconnect(this);
        link_->Abort();
        // The link may be inside one of its own signals; let the loop delete it.
        link_.release()->deleteLater();
    }
    opened_ = false;
    closed_ = false;
    failure_ = 0;
    encrypted_ = false;
    secureEnded_ = false;
}

int LinkSession::Open(const QString& host, quint16 port, double timeoutSeconds, const bool* cancel) {
    Abort();
    buffer_.clear();
    link_ = links_.CreateLink();
    ByteLink* link = link_.get();
    connect(link, &ByteLink::opened, this, [this] { opened_ = true; });
    connect(link, &ByteLink::bytesArrived, this, [this, link] {
        buffer_ += link->ReadAll();
        ++arrivals_;
        emit bytesArrived();
    });
    connect(link, &ByteLink::closed, this, [this, link] {
        buffer_ += link->ReadAll();
        ++arrivals_;
        closed_ = true;
        emit peerClosed();
    });
    connect(link, &ByteLink::failed, this, [this](int number) {
        failure_ = number;
        ++arrivals_;
        emit linkFailed(number);
    });
    connect(link, &ByteLink::encrypted, this, [this] { encrypted_ = true; });
    connect(link, &ByteLink::secureFailed, this, [this](const QString& reason) {
        secureFailure_ = reason;
        secureEnded_ = true;
        ++arrivals_;
    });
    link->Open(host, port);
    const bool ended = pump_.waitUntil([this] { return opened_ || failure_ != 0 || closed_; }, timeoutSeconds, cancel);
    if (opened_ && !failure_)
        return 0;
    const int number = !ended ? (cancel && *cancel ? sockerr::Interrupted : sockerr::TimedOut)
                              : (failure_ ? failure_ : sockerr::ConnectionReset);
    Abort();
    return number;
}

int LinkSession::Write(const QByteArray& bytes) {
    if (!link_ || failure_)
        return failure_ ? failure_ : sockerr::NotConnected;
    if (closed_)
        return sockerr::NotConnected;
    return link_->Write(bytes);
}

int LinkSession::StartTls(const QString& peerName, const QString& caFile, double timeoutSeconds, const bool* cancel) {
    secureFailure_.clear();
    if (!link_ || !IsOpen() || failure_)
        return failure_ ? failure_ : sockerr::NotConnected;
    // Nothing sent in clear may pass for part of the encrypted exchange.
    buffer_.clear();
    if (!link_->StartTls(peerName, caFile)) {
        secureFailure_ = QStringLiteral("this system offers no TLS support");
        Abort();
        return kSecureFailed;
    }
    const bool ended = pump_.waitUntil([this] { return encrypted_ || secureEnded_ || failure_ != 0 || closed_; },
                                       timeoutSeconds, cancel);
    if (encrypted_)
        return 0;
    int number = kSecureFailed;
    if (!ended)
        number = cancel && *cancel ? sockerr::Interrupted : sockerr::TimedOut;
    else if (!secureEnded_)
        number = failure_ ? failure_ : sockerr::ConnectionReset;
    if (number != kSecureFailed)
        secureFailure_ = QStringLiteral("no TLS handshake (") + sockerr::Text(number) + QLatin1Char(')');
    Abort();
    return kSecureFailed;
}

int LinkSession::WaitFor(const std::function<bool()>& done, double idleSeconds, const bool* cancel, qint64 deadlineMs) {
    for (;;) {
        if (done())
            return 0;
        if (failure_)
            return failure_;
        if (closed_ || !link_)
            return link_ ? sockerr::ConnectionReset : sockerr::NotConnected;
        double wait = idleSeconds;
        if (deadlineMs >= 0) {
            const double left = (deadlineMs - pump_.steadyMs()) / 1000.0;
            if (left <= 0)
                return sockerr::TimedOut;
            wait = std::min(wait, left);
        }
        const quint64 seen = arrivals_;
        const bool moved =
            pump_.waitUntil([&] { return arrivals_ != seen || done() || failure_ != 0 || closed_; }, wait, cancel);
        if (!moved)
            return cancel && *cancel ? sockerr::Interrupted : sockerr::TimedOut;
    }
}

} // namespace tessaly
