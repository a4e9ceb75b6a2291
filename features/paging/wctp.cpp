#include "features/paging/wctp.h"

#include "platform/bytelink.h"
#include "platform/eventpump.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace tessaly::wctp {

namespace {

QXmlStreamWriter& startOperation(QXmlStreamWriter& w) {
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeDTD(QStringLiteral("<!DOCTYPE wctp-Operation SYSTEM \"%1\">").arg(QLatin1String(kDtdUrl)));
    w.writeStartElement(QStringLiteral("wctp-Operation"));
    w.writeAttribute(QStringLiteral("wctpVersion"), QLatin1String(kVersion));
    return w;
}

QByteArray endOperation(QXmlStreamWriter& w, QByteArray& out) {
    w.writeEndElement(); // wctp-Operation
    w.writeEndDocument();
    return out;
}

// A reader over a bounded answer that stops at anything able to expand
// into more than it says: a document type with an internal subset, an
// entity declaration or an entity reference it could not resolve.
class BoundedReader {
public:
    explicit BoundedReader(const QByteArray& xml) : ok_(xml.size() <= kMaxAnswer), r_(ok_ ? xml : QByteArray()) {
        r_.setNamespaceProcessing(false);
    }

    // The next start element; false at the end, on an error or on a
    // refused construct. `depth` is the element's nesting level (1 = root).
    bool nextElement() {
        while (ok_ && !r_.atEnd()) {
            switch (r_.readNext()) {
            case QXmlStreamReader::StartElement: ++depth_; return true;
            case QXmlStreamReader::EndElement: --depth_; break;
            case QXmlStreamReader::DTD:
                if (!r_.entityDeclarations().isEmpty() || !r_.notationDeclarations().isEmpty() ||
                    r_.text().contains(QLatin1Char('[')))
                    ok_ = false;
                break;
            case QXmlStreamReader::EntityReference:
            case QXmlStreamReader::Invalid: ok_ = false; break;
            default: break;
            }
        }
        if (r_.hasError())
            ok_ = false;
        return false;
    }

    // Reads to the end, so that a malformed tail spoils the whole answer.
    bool finish() {
        while (nextElement()) {
        }
        return ok_;
    }

    // The element's text (its direct text, children skipped); stops at its
    // end element.
    QString elementText() {
        QString text;
        const int depth = depth_;
        while (ok_ && !r_.atEnd()) {
            switch (r_.readNext()) {
            case QXmlStreamReader::Characters:
                if (depth_ == depth)
                    text += r_.text();
                break;
            case QXmlStreamReader::StartElement: ++depth_; break;
            case QXmlStreamReader::EndElement:
                if (--depth_ < depth)
                    return text.trimmed();
                break;
            case QXmlStreamReader::EntityReference:
            case QXmlStreamReader::Invalid: ok_ = false; break;
            default: break;
            }
        }
        return text.trimmed();
    }

    QStringView name() const { return r_.name(); }
    QString attr(const char* name) const { return r_.attributes().value(QLatin1String(name)).toString().trimmed(); }
    int depth() const { return depth_; }
    bool ok() const { return ok_; }

private:
    bool ok_;
    QXmlStreamReader r_;
    int depth_ = 0;
};

int codeOf(const QString& text) {
    bool ok = false;
    const int code = text.toInt(&ok);
    return ok && code > 0 ? code : 0;
}

Delivery deliveryOf(const QString& type) {
    const QString t = type.toUpper();
    if (t == QLatin1String("DELIVERED") || t == QLatin1String("READ"))
        return Delivery::ToHandset;
    if (t == QLatin1String("QUEUED"))
        return Delivery::ToNetwork;
    if (t == QLatin1String("DELETED") || t == QLatin1String("RETURNED") || t == QLatin1String("UNDELIVERABLE") ||
        t == QLatin1String("FAILED") || t == QLatin1String("EXPIRED"))
        return Delivery::Failed;
    return Delivery::Unknown;
}

int rank(Delivery d) {
    switch (d) {
    case Delivery::Unknown: return 0;
    case Delivery::ToNetwork: return 1;
    case Delivery::Failed: return 2;
    case Delivery::ToHandset: return 3;
    }
    return 0;
}

// Text as XML 1.0 can carry it: control characters other than tab and line
// ends, unpaired surrogates and the non-characters U+FFFE/U+FFFF become
// spaces. A carrier refuses a document with any of them as unparsable,
// which would otherwise drop the page for good.
QString xmlText(const QString& text) {
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t c = out.at(i).unicode();
        bool bad = (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xfffe || c == 0xffff;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < out.size() && QChar::isLowSurrogate(out.at(i + 1).unicode())) {
                ++i;
                continue;
            }
            bad = true;
        } else if (QChar::isLowSurrogate(c)) {
            bad = true;
        }
        if (bad)
            out[i] = QLatin1Char(' ');
    }
    return out;
}

} // namespace

QString Timestamp(const QDateTime& when) { return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

QByteArray SubmitRequest(const SubmitValues& v) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    startOperation(w);
    w.writeStartElement(QStringLiteral("wctp-SubmitRequest"));
    w.writeStartElement(QStringLiteral("wctp-SubmitHeader"));
    w.writeAttribute(QStringLiteral("submitTimestamp"),
                     Timestamp(v.submitted.isValid() ? v.submitted : QDateTime::currentDateTimeUtc()));
    w.writeEmptyElement(QStringLiteral("wctp-Originator"));
    w.writeAttribute(QStringLiteral("senderID"), xmlText(v.senderId));
    if (!v.securityCode.isEmpty())
        w.writeAttribute(QStringLiteral("securityCode"), xmlText(v.securityCode));
    if (!v.messageId.isEmpty() || v.notifyWhenDelivered) {
        w.writeEmptyElement(QStringLiteral("wctp-MessageControl"));
        if (!v.messageId.isEmpty())
            w.writeAttribute(QStringLiteral("messageID"), xmlText(v.messageId));
        if (v.notifyWhenDelivered)
            w.writeAttribute(QStringLiteral("notifyWhenDelivered"), QStringLiteral("true"));
    }
    w.writeEmptyElement(QStringLiteral("wctp-Recipient"));
    w.writeAttribute(QStringLiteral("recipientID"), xmlText(v.recipientId));
    w.writeEndElement(); // wctp-SubmitHeader
    w.writeStartElement(QStringLiteral("wctp-Payload"));
    w.writeTextElement(QStringLiteral("wctp-Alphanumeric"), xmlText(v.text));
    w.writeEndElement(); // wctp-Payload
    w.writeEndElement(); // wctp-SubmitRequest
    return endOperation(w, out);
}

// Error codes come in series of a hundred. The 300s (the operation itself
// is not understood or not supported) and the 400s (the sender, its
// security code, the recipient or an authorization is refused, a field is
// invalid) do not change when the same page is sent again: permanent. The
// one exception is 304, "cannot accept the operation until the waiting
// messages are polled", which clears by itself. The 500s (message
// processing) and the 600s and above (the carrier's system) describe the
// carrier's state, not the page: temporary, as is a code outside every
// series, since a refusal we cannot place is no reason to drop a page.
bool IsPermanent(int errorCode) {
    if (errorCode == 304)
        return false;
    return errorCode >= 300 && errorCode < 500;
}

Confirmation ReadConfirmation(const QByteArray& xml) {
    Confirmation c;
    BoundedReader r(xml);
    if (!r.nextElement() || r.name() != QLatin1String("wctp-Operation"))
        return c;
    if (!r.nextElement() || r.depth() != 2 || r.name() != QLatin1String("wctp-Confirmation"))
        return c;
    if (!r.nextElement() || r.depth() != 3)
        return c;
    Confirmation found;
    if (r.name() == QLatin1String("wctp-Success")) {
        found.outcome = Outcome::Success;
        found.code = codeOf(r.attr("successCode"));
        found.text = r.attr("successText");
        found.trackingId = r.attr("trackingNumber");
    } else if (r.name() == QLatin1String("wctp-Failure")) {
        found.code = codeOf(r.attr("errorCode"));
        found.outcome = IsPermanent(found.code) ? Outcome::Permanent : Outcome::Temporary;
        found.text = r.attr("errorText");
    } else {
        return c;
    }
    const QString inner = r.elementText();
    if (found.text.isEmpty())
        found.text = inner;
    if (!r.finish())
        return c;
    return found;
}

QByteArray PollForMessages(const PollValues& v) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    startOperation(w);
    w.writeStartElement(QStringLiteral("wctp-PollForMessages"));
    w.writeAttribute(QStringLiteral("pollerID"), xmlText(v.pollerId));
    if (!v.securityCode.isEmpty())
        w.writeAttribute(QStringLiteral("securityCode"), xmlText(v.securityCode));
    w.writeAttribute(QStringLiteral("maxMessagesInBatch"), QString::number(qMax(1, v.maxMessages)));
    w.writeEndElement();
    return endOperation(w, out);
}

// wctp-Operation / wctp-PollResponse / wctp-Message / wctp-StatusInfo, whose
// wctp-ResponseHeader names the page in wctp-MessageControl messageID and
// whose wctp-Notification type says how far it got.
QList<StatusNotice> ReadPollResponse(const QByteArray& xml) {
    QList<StatusNotice> notices;
    BoundedReader r(xml);
    if (!r.nextElement() || r.name() != QLatin1String("wctp-Operation"))
        return {};
    if (!r.nextElement() || r.depth() != 2 || r.name() != QLatin1String("wctp-PollResponse"))
        return {};
    int statusDepth = 0;
    StatusNotice current;
    while (r.nextElement()) {
        if (statusDepth && r.depth() <= statusDepth) {
            notices << current;
            statusDepth = 0;
        }
        if (r.name() == QLatin1String("wctp-StatusInfo") && r.depth() == 4) {
            statusDepth = r.depth();
            current = StatusNotice{};
        } else if (statusDepth && r.name() == QLatin1String("wctp-MessageControl")) {
            current.messageId = r.attr("messageID");
        } else if (statusDepth && r.name() == QLatin1String("wctp-Notification")) {
            current.type = r.attr("type");
            current.delivery = deliveryOf(current.type);
        }
        if (notices.size() > 1000)
            return {};
    }
    if (statusDepth)
        notices << current;
    if (!r.ok())
        return {};
    return notices;
}

Delivery StatusOf(const QList<StatusNotice>& notices, const QString& messageId) {
    Delivery best = Delivery::Unknown;
    for (const StatusNotice& n : notices)
        if (!messageId.isEmpty() && n.messageId == messageId && rank(n.delivery) > rank(best))
            best = n.delivery;
    return best;
}

// ---------------------------------------------------------------------------

WctpSender::WctpSender(QObject* parent)
    : QObject(parent), net_(new QNetworkAccessManager(this)), deadline_(new QTimer(this)) {
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (!reply_)
            return;
        timedOut_ = true;
        reply_->abort();
    });
}

WctpSender::~WctpSender() { Abort(); }

void WctpSender::SetProxy(const QNetworkProxy& proxy) { net_->setProxy(proxy); }

void WctpSender::Abort() {
    deadline_->stop();
    done_ = nullptr;
    if (QNetworkReply* reply = reply_.data()) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void WctpSender::fail(const QString& reason) {
    SendResult result;
    result.text = reason;
    QTimer::singleShot(0, this, [this, result] { finish(result); });
}

void WctpSender::finish(const SendResult& result) {
    deadline_->stop();
    Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

void WctpSender::Send(const QByteArray& body, Done done) {
    Abort();
    done_ = std::move(done);
    answer_.clear();
    sslTexts_.clear();
    tooLong_ = timedOut_ = false;

    const QString scheme = endpoint_.scheme().toLower();
    if (!endpoint_.isValid() || endpoint_.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        fail(QStringLiteral("the endpoint URL is not an http:// or https:// address"));
        return;
    }
    QNetworkRequest request(endpoint_);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml; charset=utf-8"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (scheme == QLatin1String("https")) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (!caFile_.isEmpty()) {
            const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile_, QSsl::Pem);
            if (extra.isEmpty()) {
                fail(QStringLiteral("no certificate could be read from the CA file ") + caFile_);
                return;
            }
            conf.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
        }
        request.setSslConfiguration(conf);
    }

    QNetworkReply* reply = net_->post(request, body);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxAnswer) {
            tooLong_ = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        answer_ += reply->read(kMaxAnswer + 1 - answer_.size());
        if (answer_.size() > kMaxAnswer) {
            tooLong_ = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& e : errors)
            if (!sslTexts_.contains(CertificateProblem(e)))
                sslTexts_ << CertificateProblem(e);
    });
    connect(reply, &QNetworkReply::finished, this, &WctpSender::onFinished);
    deadline_->start(qMax(1, timeout_) * 1000);
}

void WctpSender::onFinished() {
    QNetworkReply* reply = reply_.data();
    if (!reply)
        return;
    reply_ = nullptr;
    reply->deleteLater();
    if (!tooLong_ && reply->isOpen())
        answer_ += reply->read(kMaxAnswer + 1 - answer_.size());
    if (answer_.size() > kMaxAnswer)
        tooLong_ = true;

    SendResult result;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString host = endpoint_.host();
    result.httpStatus = status;
    if (!tooLong_)
        result.answer = answer_;
    if (timedOut_) {
        result.text = QStringLiteral("no answer from %1 within %2 seconds").arg(host).arg(timeout_);
    } else if (tooLong_) {
        result.text = QStringLiteral("the answer from %1 is longer than %2 bytes").arg(host).arg(kMaxAnswer);
    } else if (!sslTexts_.isEmpty()) {
        result.text =
            QStringLiteral("secure connection to %1 failed: %2").arg(host, sslTexts_.join(QStringLiteral("; ")));
    } else {
        // A carrier may send its wctp-Failure with an HTTP error status.
        const Confirmation c = ReadConfirmation(answer_);
        result.code = c.code;
        result.text = c.text;
        result.trackingId = c.trackingId;
        switch (c.outcome) {
        case Outcome::Success:
            if (status >= 200 && status < 300) {
                result.kind = SendResult::Delivered;
            } else {
                result.text = QStringLiteral("HTTP %1 from %2").arg(status).arg(host);
                result.code = 0;
            }
            break;
        case Outcome::Permanent: result.kind = SendResult::PermanentFailure; break;
        case Outcome::Temporary: break;
        case Outcome::Unreadable:
            result.code = 0;
            if (reply->error() != QNetworkReply::NoError && status == 0)
                result.text = QStringLiteral("%1: %2").arg(host, reply->errorString());
            else if (status < 200 || status >= 300)
                result.text = QStringLiteral("HTTP %1 from %2")
                                  .arg(QStringLiteral("%1 %2")
                                           .arg(status)
                                           .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                                           .trimmed(),
                                       host);
            else
                result.text = QStringLiteral("the answer from %1 is no WCTP confirmation").arg(host);
            break;
        }
    }
    finish(result);
}

SendResult Poster::SendAndWait(EventPump& pump, const QByteArray& body, const bool* cancel) {
    bool ended = false;
    SendResult outcome;
    Send(body, [&](const SendResult& r) {
        outcome = r;
        ended = true;
    });
    // The sender's own deadline ends the exchange; the wait allows a little
    // beyond it for the abort to come through.
    pump.waitUntil([&] { return ended; }, qMax(1, Timeout()) + 5.0, cancel);
    if (!ended) {
        Abort();
        outcome = SendResult{};
        outcome.text = cancel && *cancel ? QStringLiteral("cancelled") : QStringLiteral("no answer in time");
    }
    return outcome;
}

} // namespace tessaly::wctp
