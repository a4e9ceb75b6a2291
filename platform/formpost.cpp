#include "platform/formpost.h"

#include "ground/sockerr.h"
#include "platform/linksession.h"

#include <QHostAddress>
#include <QUrl>
#include <algorithm>

namespace tessaly {

namespace {

// Chunk-size lines and trailer lines longer than this are not an answer.
constexpr qsizetype kMaxChunkLine = 1024;
// Interim (1xx) answers passed over before the final one at most.
constexpr int kMaxInterim = 8;

QByteArray formPart(const QString& text) { return QUrl::toPercentEncoding(text); }

// The end of the header block starting at `from` (just past its empty
// line), or -1 while it is not whole. Bare LF line ends count as well.
qsizetype headerEnd(const QByteArray& bytes, qsizetype from) {
    qsizetype at = from;
    for (;;) {
        const qsizetype lf = bytes.indexOf('\n', at);
        if (lf < 0)
            return -1;
        const qsizetype length = lf - at;
        if (length == 0 || (length == 1 && bytes[at] == '\r'))
            return at == from ? -1 : lf + 1; // an empty first line is no header
        at = lf + 1;
    }
}

QList<QByteArray> headerLines(const QByteArray& block) {
    QList<QByteArray> lines = block.split('\n');
    for (QByteArray& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool allDigits(const QByteArray& s) {
    return !s.isEmpty() && std::all_of(s.cbegin(), s.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

bool tokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

// A chunked body from `at`: Done with the body, NeedMore, or Bad.
HttpRead readChunked(const QByteArray& bytes, qsizetype at, bool closed, QByteArray& body, QString& problem) {
    body.clear();
    for (;;) {
        const qsizetype lf = bytes.indexOf('\n', at);
        if (lf < 0) {
            if (bytes.size() - at > kMaxChunkLine) {
                problem = QStringLiteral("a chunk size line is too long");
                return HttpRead::Bad;
            }
            if (closed) {
                problem = QStringLiteral("the connection closed in the middle of the body");
                return HttpRead::Bad;
            }
            return HttpRead::NeedMore;
        }
        if (lf - at > kMaxChunkLine) {
            problem = QStringLiteral("a chunk size line is too long");
            return HttpRead::Bad;
        }
        QByteArray line = bytes.mid(at, lf - at);
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype semicolon = line.indexOf(';');
        if (semicolon >= 0)
            line.truncate(semicolon);
        line = line.trimmed();
        bool hex = !line.isEmpty() && line.size() <= 8;
        for (const char c : line)
            hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
        if (!hex) {
            problem = QStringLiteral("a chunk size is not a hexadecimal number");
            return HttpRead::Bad;
        }
        const qint64 size = line.toLongLong(nullptr, 16);
        at = lf + 1;
        if (size == 0) {
            // Trailer lines up to an empty one; a close right after the last
            // chunk still ends the body.
            qsizetype trailers = 0;
            for (;;) {
                const qsizetype end = bytes.indexOf('\n', at);
                if (end < 0)
                    return closed ? HttpRead::Done : HttpRead::NeedMore;
                const qsizetype length = end - at;
                if (length == 0 || (length == 1 && bytes[at] == '\r'))
                    return HttpRead::Done;
                trailers += length;
                if (trailers > kFormPostMaxHeader) {
                    problem = QStringLiteral("the trailer lines are too long");
                    return HttpRead::Bad;
                }
                at = end + 1;
            }
        }
        if (body.size() + size > kFormPostMaxBody) {
            problem = QStringLiteral("the body is larger than %1 KiB").arg(kFormPostMaxBody / 1024);
            return HttpRead::Bad;
        }
        if (bytes.size() - at < size + 1) {
            if (closed) {
                problem = QStringLiteral("the connection closed in the middle of the body");
                return HttpRead::Bad;
            }
            return HttpRead::NeedMore;
        }
        body += bytes.mid(at, size);
        at += size;
        if (bytes[at] == '\n') {
            at += 1;
        } else if (bytes[at] == '\r') {
            if (at + 1 >= bytes.size()) {
                if (!closed)
                    return HttpRead::NeedMore;
                problem = QStringLiteral("the connection closed in the middle of the body");
                return HttpRead::Bad;
            }
            if (bytes[at + 1] != '\n') {
                problem = QStringLiteral("a chunk does not end where its size says");
                return HttpRead::Bad;
            }
            at += 2;
        } else {
            problem = QStringLiteral("a chunk does not end where its size says");
            return HttpRead::Bad;
        }
    }
}

} // namespace

QByteArray FormEncode(const QList<FormField>& fields) {
    QByteArray out;
    for (const FormField& f : fields) {
        if (!out.isEmpty())
            out += '&';
        out += formPart(f.name) + '=' + formPart(f.value);
    }
    return out;
}

QString FormPost::Shown() const {
    QString text;
    for (const FormField& f : fields) {
        if (!text.isEmpty())
            text += QLatin1Char('&');
        text += f.name + QLatin1Char('=') + (f.secret ? QStringLiteral("****") : f.value);
    }
    const QUrl u(url);
    QString shown = QStringLiteral("POST ") + u.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    if (!basicUser.isEmpty())
        shown += QStringLiteral(" (client %1, password ****)").arg(basicUser);
    return shown + QLatin1Char(' ') + text;
}

bool IsLoopbackHost(const QString& host) {
    QString h = host.trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    if (h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(h) && address.isLoopback();
}

QString FormPostUrlProblem(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return QStringLiteral("\"%1\" is not a complete web address").arg(text.left(200));
    const QString scheme = url.scheme().toLower();
    const QString where = scheme + QStringLiteral("://") + url.host();
    if (!url.userInfo().isEmpty())
        return QStringLiteral("the address %1 carries a user name; give the client's name and secret apart").arg(where);
    if (url.hasFragment())
        return QStringLiteral("the address %1 ends in a #fragment, which a request cannot carry").arg(where);
    if (url.port() == 0)
        return QStringLiteral("the address %1 names port 0").arg(where);
    if (scheme == QLatin1String("https"))
        return {};
    if (scheme == QLatin1String("http")) {
        if (IsLoopbackHost(url.host()))
            return {};
        return QStringLiteral("%1 is a plain http:// address; tokens and secrets travel only over https:// "
                              "(plain http only to this machine)")
            .arg(where);
    }
    return QStringLiteral("%1 is neither an https:// nor an http:// address").arg(where);
}

HttpRead ReadHttpAnswer(const QByteArray& bytes, bool closed, int& status, QByteArray& body, QString& problem) {
    status = 0;
    body.clear();
    problem.clear();
    qsizetype at = 0;
    for (int interim = 0;; ++interim) {
        const qsizetype end = headerEnd(bytes, at);
        if (end < 0) {
            if (bytes.size() - at > kFormPostMaxHeader) {
                problem = QStringLiteral("the header is larger than %1 KiB").arg(kFormPostMaxHeader / 1024);
                return HttpRead::Bad;
            }
            if (closed) {
                problem = bytes.size() == at ? QStringLiteral("the connection closed without an answer")
                                             : QStringLiteral("the connection closed in the middle of the header");
                return HttpRead::Bad;
            }
            return HttpRead::NeedMore;
        }
        if (end - at > kFormPostMaxHeader) {
            problem = QStringLiteral("the header is larger than %1 KiB").arg(kFormPostMaxHeader / 1024);
            return HttpRead::Bad;
        }
        const QList<QByteArray> lines = headerLines(bytes.mid(at, end - at));
        const QByteArray& first = lines.value(0);
        // "HTTP/1.x NNN reason"
        const bool shaped = first.size() >= 12 && first.startsWith("HTTP/1.") && first[7] >= '0' && first[7] <= '9' &&
                            first[8] == ' ' && allDigits(first.mid(9, 3)) && (first.size() == 12 || first[12] == ' ');
        if (!shaped) {
            problem = QStringLiteral("the answer does not start with an HTTP status line");
            return HttpRead::Bad;
        }
        status = first.mid(9, 3).toInt();
        if (status < 100) {
            problem = QStringLiteral("the status %1 is not an HTTP status").arg(status);
            return HttpRead::Bad;
        }
        if (status < 200 && status != 101) {
            if (interim >= kMaxInterim) {
                problem = QStringLiteral("too many interim answers");
                return HttpRead::Bad;
            }
            at = end;
            continue;
        }
        if (status == 101) {
            problem = QStringLiteral("the server switched protocols");
            return HttpRead::Bad;
        }
        qint64 length = -1;
        bool chunked = false;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& line = lines[i];
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = colon > 0 ? line.left(colon) : QByteArray();
            if (name.isEmpty() || !std::all_of(name.cbegin(), name.cend(), tokenChar)) {
                problem = QStringLiteral("a header line is not \"name: value\"");
                return HttpRead::Bad;
            }
            const QByteArray value = line.mid(colon + 1).trimmed();
            const QByteArray lower = name.toLower();
            if (lower == "content-length") {
                if (!allDigits(value) || value.size() > 12) {
                    problem = QStringLiteral("the Content-Length is not a number");
                    return HttpRead::Bad;
                }
                const qint64 n = value.toLongLong();
                if (length >= 0 && n != length) {
                    problem = QStringLiteral("two different Content-Length values");
                    return HttpRead::Bad;
                }
                length = n;
            } else if (lower == "transfer-encoding") {
                for (const QByteArray& coding : value.toLower().split(',')) {
                    const QByteArray c = coding.trimmed();
                    if (c == "chunked") {
                        chunked = true;
                    } else if (!c.isEmpty() && c != "identity") {
                        problem = QStringLiteral("the transfer coding \"%1\" is not understood")
                                      .arg(QString::fromLatin1(c.left(40)));
                        return HttpRead::Bad;
                    }
                }
            }
        }
        if (status == 204 || status == 304)
            return HttpRead::Done;
        if (chunked)
            return readChunked(bytes, end, closed, body, problem);
        const qsizetype available = bytes.size() - end;
        if (length >= 0) {
            if (length > kFormPostMaxBody) {
                problem = QStringLiteral("the body is larger than %1 KiB").arg(kFormPostMaxBody / 1024);
                return HttpRead::Bad;
            }
            if (available >= length) {
                body = bytes.mid(end, length);
                return HttpRead::Done;
            }
            if (closed) {
                problem =
                    QStringLiteral("the connection closed after %1 of %2 bytes of the body").arg(available).arg(length);
                return HttpRead::Bad;
            }
            return HttpRead::NeedMore;
        }
        if (available > kFormPostMaxBody) {
            problem = QStringLiteral("the body is larger than %1 KiB").arg(kFormPostMaxBody / 1024);
            return HttpRead::Bad;
        }
        if (closed) {
            body = bytes.mid(end);
            return HttpRead::Done;
        }
        return HttpRead::NeedMore;
    }
}

FormPostResult PostForm(EventPump& pump, LinkFactory& links, const FormPost& request, const bool* cancel) {
    FormPostResult result;
    if (const QString problem = FormPostUrlProblem(request.url); !problem.isEmpty()) {
        result.failure = problem;
        return result;
    }
    const QUrl url(request.url.trimmed(), QUrl::StrictMode);
    const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const int defaultPort = secure ? 443 : 80;
    const QString host = url.host(QUrl::FullyEncoded);
    const auto port = static_cast<quint16>(url.port(defaultPort));
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    const qint64 deadlineMs = pump.steadyMs() + static_cast<qint64>(std::max(0.0, request.timeoutSeconds) * 1000);
    auto left = [&] { return std::max<qint64>(0, deadlineMs - pump.steadyMs()) / 1000.0; };
    auto socketFailure = [&](int number, const QString& step) {
        result.error = number;
        result.failure = number == sockerr::Interrupted
                             ? QStringLiteral("%1: cancelled").arg(where)
                             : QStringLiteral("%1: %2 (%3)").arg(where, step, sockerr::Text(number));
        return result;
    };

    LinkSession link(pump, links);
    int number = link.Open(host, port, left(), cancel);
    if (number != 0)
        return socketFailure(number, QStringLiteral("no connection"));
    if (secure) {
        number = link.StartTls(host, request.caFile, left(), cancel);
        if (number != 0) {
            if (cancel && *cancel)
                return socketFailure(sockerr::Interrupted, QString());
            result.error = number;
            result.failure = QStringLiteral("%1: no secure connection: %2").arg(where, link.SecureFailure());
            return result;
        }
    }

    const QByteArray body = FormEncode(request.fields);
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray hostHeader = host.contains(QLatin1Char(':')) ? '[' + host.toLatin1() + ']' : host.toLatin1();
    if (port != defaultPort)
        hostHeader += ':' + QByteArray::number(port);
    QByteArray bytes = "POST " + target + " HTTP/1.1\r\nHost: " + hostHeader +
                       "\r\nUser-Agent: Tessaly\r\nAccept: application/json\r\n"
                       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    if (!request.basicUser.isEmpty())
        bytes += "Authorization: Basic " +
                 (formPart(request.basicUser) + ':' + formPart(request.basicPassword)).toBase64() + "\r\n";
    bytes += "\r\n" + body;
    number = link.Write(bytes);
    if (number != 0)
        return socketFailure(number, QStringLiteral("the request could not be sent"));

    bool peerClosed = false;
    QObject::connect(&link, &LinkSession::peerClosed, &link, [&peerClosed] { peerClosed = true; });
    HttpRead state = HttpRead::NeedMore;
    int status = 0;
    QByteArray answer;
    QString problem;
    auto whole = [&] {
        state = ReadHttpAnswer(link.Buffer(), peerClosed, status, answer, problem);
        return state != HttpRead::NeedMore;
    };
    number = link.WaitFor(whole, std::max(left(), 0.001), cancel, deadlineMs);
    link.Abort();
    if (state == HttpRead::Done) {
        result.status = status;
        result.body = answer;
        return result;
    }
    if (state == HttpRead::Bad) {
        result.status = status;
        result.failure = QStringLiteral("%1 sent an unreadable answer: %2").arg(where, problem);
        return result;
    }
    return socketFailure(number != 0 ? number : sockerr::ConnectionReset, QStringLiteral("no whole answer"));
}

} // namespace tessaly
