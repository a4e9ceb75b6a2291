#include "platform/snppclient.h"

#include "ground/printableascii.h"
#include "ground/sockerr.h"
#include "platform/tlschoice.h"

namespace tessaly {

namespace {

using snpp::ReplyClass;

// The text's lines, each as printable ASCII; CR LF, CR and LF all end a line.
QStringList pageLines(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    QStringList lines = t.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = toPrintableAscii(line);
    return lines;
}

// A word the server reads as one argument: no spaces, no control characters.
bool oneWord(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return false;
    return true;
}

// At most this many bytes of a server's text go into a reason.
constexpr qsizetype kReasonText = 200;

} // namespace

QString SnppClient::address() const { return host_.trimmed() + QLatin1Char(':') + QString::number(port_); }

SnppClient::SnppClient(EventPump& pump, LinkFactory& links, QObject* parent) : pump_(pump), link_(pump, links) {
    setParent(parent);
}

QByteArray SnppClient::DataBlock(const QString& text) {
    QByteArray block;
    for (const QString& line : pageLines(text)) {
        const QByteArray bytes = line.toLatin1();
        // Dot-stuffing: a line that begins with "." gets a second one.
        if (bytes.startsWith('.'))
            block += '.';
        block += bytes + "\r\n";
    }
    return block + ".\r\n";
}

std::optional<snpp::Reply> SnppClient::readReply(int& failure) {
    std::optional<snpp::Reply> reply;
    failure = 0;
    auto scan = [&] {
        QByteArray& buffer = link_.Buffer();
        const qsizetype before = buffer.size();
        const QByteArray copy = buffer;
        reply = snpp::TakeReply(buffer);
        if (reply) {
            const QByteArray taken = copy.left(before - buffer.size());
            for (const QByteArray& line : taken.split('\n'))
                if (!line.isEmpty())
                    emit dataReceived(QString::fromLatin1(line.left(snpp::kMaxLine)) + QLatin1Char('\n'));
        }
        return reply.has_value();
    };
    // However slowly a server trickles its reply, one reply takes at most
    // three time-outs.
    const qint64 deadline = pump_.steadyMs() + static_cast<qint64>(timeout_ * 3000);
    failure = link_.WaitFor(scan, timeout_, cancel_, deadline);
    if (failure != 0)
        return std::nullopt;
    return reply;
}

SnppOutcome SnppClient::socketFailure(int number, const char* what) {
    emit error(number, sockerr::Text(number));
    SnppOutcome out;
    out.kind = SnppOutcome::Kind::Temporary;
    out.socketError = number;
    out.reason = QStringLiteral("SNPP server %1, %2: %3").arg(address(), QLatin1String(what), sockerr::Text(number));
    return out;
}

// Sends `line` (shown in the transcript as `shown`) and reads the answer.
// Delivered means the answer was of the wanted class and the exchange goes on.
SnppOutcome SnppClient::step(const QByteArray& line, const QString& shown, ReplyClass wanted, const char* what) {
    if (!line.isEmpty()) {
        emit commandSent(shown);
        const int written = link_.Write(line);
        if (written != 0)
            return socketFailure(written, what);
    }
    int failure = 0;
    const std::optional<snpp::Reply> reply = readReply(failure);
    if (!reply)
        return socketFailure(failure, what);
    SnppOutcome out;
    out.code = reply->code;
    const QString server = QStringLiteral("SNPP server ") + address();
    const QString said = QString::fromLatin1(reply->text.left(kReasonText));
    if (reply->kind == wanted) {
        out.kind = SnppOutcome::Kind::Delivered;
        return out;
    }
    switch (reply->kind) {
    case ReplyClass::Permanent:
        out.kind = SnppOutcome::Kind::Permanent;
        out.reason =
            QStringLiteral("%1 refused %2: %3 %4").arg(server, QLatin1String(what), QString::number(reply->code), said);
        break;
    case ReplyClass::Temporary:
        out.kind = SnppOutcome::Kind::Temporary;
        out.reason = QStringLiteral("%1 refused %2 for now: %3 %4")
                         .arg(server, QLatin1String(what), QString::number(reply->code), said);
        break;
    case ReplyClass::Unreadable:
        out.kind = SnppOutcome::Kind::Temporary;
        out.reason = QStringLiteral("%1 gave an unreadable reply to %2 (%3)").arg(server, QLatin1String(what), said);
        break;
    case ReplyClass::Success:
    case ReplyClass::Continue:
        out.kind = SnppOutcome::Kind::Temporary;
        out.reason = QStringLiteral("%1 gave an unexpected reply to %2: %3 %4")
                         .arg(server, QLatin1String(what), QString::number(reply->code), said);
        break;
    }
    return out;
}

// Ends the connection (called once it was open) after the outcome is known: politely with QUIT while
// the server keeps the session (after a delivered page or a 5xx refusal),
// at once otherwise.
SnppOutcome SnppClient::finish(SnppOutcome outcome) {
    const bool polite = link_.IsOpen() && outcome.socketError == 0 &&
                        (outcome.Delivered() || outcome.kind == SnppOutcome::Kind::Permanent);
    if (polite) {
        emit commandSent(QStringLiteral("QUIT"));
        if (link_.Write("QUIT\r\n") == 0) {
            int failure = 0;
            readReply(failure); // the page's outcome stands whatever QUIT brings
        }
    }
    link_.Abort();
    emit socketClosed();
    return outcome;
}

SnppOutcome SnppClient::SendPage(const QString& pagerId, const QString& password, const QString& text) {
    const QString server = QStringLiteral("SNPP server ") + address();
    SnppOutcome refused;
    refused.kind = SnppOutcome::Kind::Permanent;
    if (pagerId.isEmpty() || pagerId.size() > 256 || !oneWord(pagerId)) {
        refused.reason = QStringLiteral("The pager ID \"%1\" is not one word of printable ASCII; nothing was sent")
                             .arg(toPrintableAscii(pagerId.left(80)));
        return refused;
    }
    if (password.size() > 256 || !oneWord(password)) {
        refused.reason = QStringLiteral("The password of pager ID %1 is not one word of printable ASCII; nothing "
                                        "was sent")
                             .arg(pagerId);
        return refused;
    }

    const int opened = link_.Open(host_.trimmed(), static_cast<quint16>(port_), timeout_, cancel_);
    if (opened != 0) {
        emit error(opened, sockerr::Text(opened));
        SnppOutcome out;
        out.socketError = opened;
        out.reason = QStringLiteral("No connection to %1: %2").arg(server, sockerr::Text(opened));
        return out;
    }
    if (tls_ && link_.StartTls(host_.trimmed(), caFile_, timeout_, cancel_) != 0) {
        refused.reason =
            QStringLiteral("No secure connection to %1: %2").arg(address(), ExplainTlsFailure(link_.SecureFailure()));
        return finish(refused);
    }

    SnppOutcome out = step({}, {}, ReplyClass::Success, "the connection");
    if (out.Delivered()) {
        QByteArray page = "PAGE " + pagerId.toLatin1();
        QString shown = QString::fromLatin1(page);
        if (!password.isEmpty()) {
            page += ' ' + password.toLatin1();
            shown += QStringLiteral(" ****");
        }
        out = step(page + "\r\n", shown, ReplyClass::Success, "the pager ID");
    }
    if (out.Delivered()) {
        const QStringList lines = pageLines(text);
        const QByteArray single = lines.size() == 1 ? lines.first().toLatin1() : QByteArray();
        if (lines.size() == 1 && !single.trimmed().isEmpty() && single.size() <= messLimit_) {
            out = step("MESS " + single + "\r\n", QStringLiteral("MESS ") + lines.first(), ReplyClass::Success,
                       "the message");
        } else {
            out = step("DATA\r\n", QStringLiteral("DATA"), ReplyClass::Continue, "DATA");
            if (out.Delivered()) {
                const QByteArray block = DataBlock(text);
                for (const QByteArray& line : block.split('\n'))
                    if (!line.isEmpty())
                        emit commandSent(QString::fromLatin1(line.chopped(1)));
                const int written = link_.Write(block);
                out = written != 0 ? socketFailure(written, "the message")
                                   : step({}, {}, ReplyClass::Success, "the message");
            }
        }
    }
    if (out.Delivered())
        out = step("SEND\r\n", QStringLiteral("SEND"), ReplyClass::Success, "SEND");
    return finish(out);
}

} // namespace tessaly
