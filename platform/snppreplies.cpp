#include "platform/snppreplies.h"

namespace tessaly::snpp {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

QByteArray cleanText(QByteArray text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return text.trimmed();
}

Reply unreadable(const char* why) {
    Reply r;
    r.text = why;
    return r;
}

// True for a line that another line of the same reply follows: a help line
// ("214 ...") or an SMTP-style continuation ("ddd-...").
bool continues(const QByteArray& line) { return line.size() >= 4 && line[3] == '-' ? true : line.startsWith("214"); }

} // namespace

ReplyClass Classify(int code) {
    if (code < 200 || code > 599)
        return ReplyClass::Unreadable;
    switch (code / 100) {
    case 2: return ReplyClass::Success;
    case 3: return ReplyClass::Continue;
    case 4: return ReplyClass::Temporary;
    default: return ReplyClass::Permanent;
    }
}

Reply ParseLine(const QByteArray& raw) {
    QByteArray line = raw;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return unreadable("a reply line without a three-digit code");
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\t')
        return unreadable("a reply code of more than three digits");
    Reply r;
    r.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    r.text = cleanText(line.mid(4));
    r.kind = Classify(r.code);
    if (r.kind == ReplyClass::Unreadable) {
        r.text = "a reply code outside SNPP level 2: " + line.left(3);
        r.code = 0;
    }
    return r;
}

std::optional<Reply> TakeReply(QByteArray& buffer) {
    // Find the end of the reply first, so nothing is removed from an
    // incomplete one.
    qsizetype from = 0;
    int lines = 0;
    for (;;) {
        const qsizetype lf = buffer.indexOf('\n', from);
        if (lf < 0) {
            if (buffer.size() - from > kMaxLine) {
                buffer.clear();
                return unreadable("a reply line too long");
            }
            return std::nullopt;
        }
        if (lf + 1 - from > kMaxLine) {
            buffer.remove(0, lf + 1);
            return unreadable("a reply line too long");
        }
        ++lines;
        const QByteArray line = buffer.mid(from, lf - from);
        from = lf + 1;
        if (lines > kMaxLines) {
            buffer.remove(0, from);
            return unreadable("a reply of too many lines");
        }
        if (continues(line))
            continue;
        // The final line: parse the whole reply.
        Reply reply;
        qsizetype at = 0;
        while (at < from) {
            const qsizetype end = buffer.indexOf('\n', at);
            const QByteArray one = buffer.mid(at, end - at);
            at = end + 1;
            if (at < from) {
                const Reply part = ParseLine(one);
                if (part.code == 0) {
                    buffer.remove(0, from);
                    return part;
                }
                reply.help << part.text;
            } else {
                const QList<QByteArray> help = reply.help;
                reply = ParseLine(one);
                if (reply.code != 0)
                    reply.help = help;
            }
        }
        buffer.remove(0, from);
        return reply;
    }
}

} // namespace tessaly::snpp
