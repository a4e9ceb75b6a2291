#include "ground/mimetext.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <cctype>
#include <iterator>

namespace tessaly::mimetext {

namespace {

bool isWsp(char c) { return c == ' ' || c == '\t'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isUtf8(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = utf8(bytes);
    return !utf8.hasError();
}

bool isAscii(QByteArrayView bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QString windows1252(QByteArrayView bytes) {
    QStringDecoder cp1252("windows-1252");
    return cp1252.isValid() ? QString(cp1252(bytes)) : QString::fromLatin1(bytes);
}

QString guessed(QByteArrayView bytes) {
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    return isUtf8(bytes) ? QString::fromUtf8(bytes) : windows1252(bytes);
}

// Cuts `text` to `max` characters without splitting a surrogate pair.
void limit(QString& text, qsizetype max) {
    if (text.size() <= max)
        return;
    qsizetype n = max;
    if (n > 0 && text.at(n - 1).isHighSurrogate())
        --n;
    text.truncate(n);
}

// ---- Header fields of one entity ----------------------------------------

struct Entity {
    QByteArrayView head; // header lines, folded as they came
    QByteArrayView body;
};

// A header line is "name:" with a name of visible characters, or a
// continuation that starts with a blank.
bool isHeaderLine(QByteArrayView line) {
    if (!line.isEmpty() && isWsp(line.front()))
        return true;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == ':')
            return i > 0;
        if (c <= 0x20 || c >= 0x7F)
            return false;
    }
    return false;
}

// The header block ends at the first empty line, or at the first line that
// is no header line (then the body starts with it).
Entity splitEntity(QByteArrayView m) {
    qsizetype pos = 0;
    while (pos < m.size()) {
        qsizetype lf = m.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? m.size() : lf + 1;
        QByteArrayView line = m.sliced(pos, end - pos);
        while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
            line.chop(1);
        if (line.isEmpty())
            return {m.first(pos), m.sliced(end)};
        if (!isHeaderLine(line) || (pos == 0 && isWsp(line.front())))
            return {m.first(pos), m.sliced(pos)};
        pos = end;
    }
    return {m, {}};
}

// The value of the first field `name` (lower case), unfolded; empty when absent.
QByteArray fieldValue(QByteArrayView head, QByteArrayView name) {
    qsizetype pos = 0;
    while (pos < head.size()) {
        const qsizetype lf = head.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? head.size() : lf + 1;
        const QByteArrayView line = head.sliced(pos, end - pos);
        pos = end;
        if (line.size() <= name.size() || line[name.size()] != ':' ||
            line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QByteArray value = line.sliced(name.size() + 1).toByteArray();
        while (pos < head.size() && isWsp(head[pos])) {
            const qsizetype next = head.indexOf('\n', pos);
            const qsizetype stop = next < 0 ? head.size() : next + 1;
            value += head.sliced(pos, stop - pos);
            pos = stop;
        }
        value.replace('\r', ' ').replace('\n', ' ');
        return value.trimmed();
    }
    return {};
}

struct ContentType {
    QByteArray type = "text/plain";       // "type/subtype", lower case
    QHash<QByteArray, QByteArray> params; // names lower case
};

ContentType contentType(QByteArrayView head) {
    ContentType ct;
    const QByteArray value = fieldValue(head, "content-type");
    if (value.isEmpty())
        return ct;
    // Split at ";" outside quotes.
    QList<QByteArray> pieces{QByteArray()};
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size()) {
            pieces.back() += value[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            pieces << QByteArray();
        else
            pieces.back() += c;
    }
    const QByteArray type = pieces.takeFirst().trimmed().toLower();
    if (type.contains('/'))
        ct.type = type;
    for (const QByteArray& p : pieces) {
        const qsizetype eq = p.indexOf('=');
        if (eq > 0)
            ct.params.insert(p.first(eq).trimmed().toLower(), p.sliced(eq + 1).trimmed());
    }
    return ct;
}

// An attachment says so, or carries a file name (mail programs send text
// files "inline" with their name).
bool isAttachment(QByteArrayView head, const ContentType& ct) {
    const QByteArray disposition = fieldValue(head, "content-disposition").toLower();
    return disposition.startsWith("attachment") || disposition.contains("filename") ||
           (ct.params.contains("name") && !ct.type.startsWith("multipart/"));
}

// The parts of a multipart body, between its delimiter lines. A body
// without the closing delimiter ends with its last part.
QList<QByteArrayView> parts(QByteArrayView body, QByteArrayView boundary) {
    QList<QByteArrayView> out;
    const QByteArray dash = "--" + boundary.toByteArray();
    qsizetype partStart = -1;
    qsizetype pos = 0;
    while (pos < body.size() && out.size() < kMaxParts) {
        const qsizetype lf = body.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? body.size() : lf + 1;
        if (body.sliced(pos).startsWith(dash)) {
            QByteArrayView rest = body.sliced(pos + dash.size(), end - pos - dash.size());
            const bool closing = rest.startsWith("--");
            if (closing)
                rest = rest.sliced(2);
            if (rest.trimmed().isEmpty()) {
                if (partStart >= 0) {
                    // The line break before a delimiter belongs to it.
                    qsizetype partEnd = pos;
                    if (partEnd > partStart && body[partEnd - 1] == '\n')
                        --partEnd;
                    if (partEnd > partStart && body[partEnd - 1] == '\r')
                        --partEnd;
                    out << body.sliced(partStart, partEnd - partStart);
                }
                if (closing)
                    return out;
                partStart = end;
            }
        }
        pos = end;
    }
    if (partStart >= 0 && partStart < body.size() && out.size() < kMaxParts)
        out << body.sliced(partStart);
    return out;
}

QByteArray transferDecoded(QByteArrayView head, QByteArrayView body) {
    body = body.first(std::min(body.size(), kMaxPartBytes));
    const QByteArray encoding = fieldValue(head, "content-transfer-encoding").toLower();
    if (encoding == "base64")
        return DecodeBase64(body);
    if (encoding == "quoted-printable")
        return DecodeQuotedPrintable(body);
    return body.toByteArray();
}

struct Found {
    Entity plain, html;
    bool hasPlain = false, hasHtml = false;
    int seen = 0;
};

void search(QByteArrayView entity, int depth, Found& found) {
    if (found.hasPlain || ++found.seen > kMaxParts)
        return;
    const Entity e = splitEntity(entity);
    const ContentType ct = contentType(e.head);
    if (isAttachment(e.head, ct))
        return;
    if (ct.type.startsWith("multipart/")) {
        if (depth >= kMaxDepth)
            return;
        QByteArray boundary = ct.params.value("boundary");
        if (boundary.isEmpty()) {
            // No boundary given: the first line that looks like a delimiter.
            const QByteArrayView b = e.body.trimmed();
            if (b.startsWith("--"))
                boundary =
                    b.sliced(2, b.indexOf('\n') < 0 ? b.size() - 2 : b.indexOf('\n') - 2).toByteArray().trimmed();
        }
        const QList<QByteArrayView> list = boundary.isEmpty() ? QList<QByteArrayView>{} : parts(e.body, boundary);
        if (list.isEmpty()) {
            // Not really multipart: its body is all the text there is.
            if (!found.hasPlain) {
                found.plain = {{}, e.body};
                found.hasPlain = true;
            }
            return;
        }
        for (const QByteArrayView part : list)
            search(part, depth + 1, found);
        return;
    }
    const bool html = ct.type == "text/html";
    // Inside a multipart only text/plain counts as plain text; a message of
    // its own may be any kind of text.
    const bool plain = ct.type == "text/plain" || (depth == 0 && ct.type.startsWith("text/") && !html);
    if (plain) {
        found.plain = e;
        found.hasPlain = true;
    } else if (html && !found.hasHtml) {
        found.html = e;
        found.hasHtml = true;
    }
}

QString decodedText(const Entity& e) {
    const ContentType ct = contentType(e.head);
    return DecodeCharset(transferDecoded(e.head, e.body), ct.params.value("charset"));
}

// Line ends as LF; control characters other than TAB and LF dropped.
QString tidyBody(const QString& text) {
    QString out;
    out.reserve(std::min(text.size(), kMaxTextChars));
    for (qsizetype i = 0; i < text.size() && out.size() < kMaxTextChars; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 >= text.size() || text.at(i + 1) != QLatin1Char('\n'))
                out += QLatin1Char('\n');
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
                   (c.unicode() >= 0x20 && c.unicode() != 0x7F && c.unicode() != 0xFEFF)) {
            out += c;
        }
    }
    limit(out, kMaxTextChars);
    return out;
}

// ---- HTML -------------------------------------------------------------------

// Entity names of U+00A0 to U+00FF, in order.
const char* const kLatin1Names[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
static_assert(std::size(kLatin1Names) == 96);

const QHash<QString, char32_t>& entityTable() {
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t;
        for (char32_t i = 0; i < 96; ++i)
            t.insert(QLatin1String(kLatin1Names[i]), 0xA0 + i);
        const std::pair<const char*, char32_t> more[] = {
            {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
            {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
            {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"hellip", 0x2026}, {"bull", 0x2022},
            {"euro", 0x20AC},   {"trade", 0x2122},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
            {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},
            {"scaron", 0x161},  {"Yuml", 0x178},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},
            {"emsp", 0x2003},   {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},
            {"rlm", 0x200F},    {"prime", 0x2032},  {"Prime", 0x2033},  {"minus", 0x2212},  {"larr", 0x2190},
            {"rarr", 0x2192},   {"uarr", 0x2191},   {"darr", 0x2193},   {"fnof", 0x192}};
        for (const auto& [name, c] : more)
            t.insert(QLatin1String(name), c);
        return t;
    }();
    return table;
}

// The character of the entity starting at `at` ("&..."), and its length;
// 0 when it is no entity.
char32_t entityAt(QStringView s, qsizetype at, qsizetype& length) {
    length = 0;
    qsizetype i = at + 1;
    if (i < s.size() && s[i] == QLatin1Char('#')) {
        const bool hex = i + 1 < s.size() && (s[i + 1] == QLatin1Char('x') || s[i + 1] == QLatin1Char('X'));
        i += hex ? 2 : 1;
        const qsizetype digits = i;
        quint32 value = 0;
        while (i < s.size() && i - digits < 8) {
            const char16_t c = s[i].unicode();
            int d = c < 0x80 ? hexValue(static_cast<char>(c)) : -1;
            if (d < 0 || (!hex && d > 9))
                break;
            value = value * (hex ? 16 : 10) + static_cast<quint32>(d);
            ++i;
        }
        if (i == digits)
            return 0;
        if (i < s.size() && s[i] == QLatin1Char(';'))
            ++i;
        length = i - at;
        if (value >= 0x80 && value <= 0x9F) {
            // Windows-1252 numbers, as browsers read them.
            const char byte = static_cast<char>(value);
            const QString c = windows1252(QByteArrayView(&byte, 1));
            return c.isEmpty() ? 0xFFFD : c.at(0).unicode();
        }
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return 0xFFFD;
        return value;
    }
    const qsizetype nameStart = i;
    while (i < s.size() && i - nameStart < 10 && s[i].isLetterOrNumber() && s[i].unicode() < 0x80)
        ++i;
    if (i == nameStart || i >= s.size() || s[i] != QLatin1Char(';'))
        return 0;
    const auto it = entityTable().constFind(s.sliced(nameStart, i - nameStart).toString());
    if (it == entityTable().constEnd())
        return 0;
    length = i + 1 - at;
    return it.value();
}

bool isBreakTag(QStringView name) {
    static const char* const kBreaks[] = {"br", "p",     "div", "li", "tr",         "h1", "h2",  "h3", "h4", "h5",
                                          "h6", "table", "ul",  "ol", "blockquote", "hr", "pre", "dd", "dt", "address"};
    for (const char* b : kBreaks)
        if (name == QLatin1String(b))
            return true;
    return false;
}

// ---- Encoded words ------------------------------------------------------------

struct EncodedWord {
    QByteArray charset;
    QByteArray bytes;
    qsizetype end = 0; // position after the word
};

// An encoded word "=?charset?B|Q?text?=" at `at`; a word cut off at the end
// of the value is taken as far as it goes.
bool encodedWordAt(QByteArrayView v, qsizetype at, EncodedWord& w) {
    if (!v.sliced(at).startsWith("=?"))
        return false;
    qsizetype i = at + 2;
    const qsizetype q1 = v.indexOf('?', i);
    if (q1 < 0 || q1 == i || q1 - i > 64 || q1 + 2 >= v.size() || v[q1 + 2] != '?')
        return false;
    const char enc = v[q1 + 1];
    if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q')
        return false;
    QByteArray charset = v.sliced(i, q1 - i).toByteArray();
    for (const char c : charset)
        if (isWsp(c) || c == '\r' || c == '\n')
            return false;
    if (const qsizetype star = charset.indexOf('*'); star >= 0)
        charset.truncate(star); // RFC 2231 language
    i = q1 + 3;
    qsizetype end = i;
    while (end < v.size() && !(v[end] == '?' && end + 1 < v.size() && v[end + 1] == '=')) {
        if (isWsp(v[end]))
            return false;
        ++end;
    }
    const QByteArrayView text = v.sliced(i, end - i);
    w.charset = charset;
    w.end = std::min(end + 2, v.size());
    if (enc == 'B' || enc == 'b') {
        w.bytes = DecodeBase64(text);
    } else {
        QByteArray t = text.toByteArray();
        t.replace('_', ' ');
        w.bytes = DecodeQuotedPrintable(t);
    }
    return true;
}

} // namespace

QByteArray RawBytes(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    return text.toLatin1();
}

QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset) {
    QByteArray name = charset.trimmed().toByteArray().toLower();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
        name = name.sliced(1, name.size() - 2).trimmed();
    if (name.isEmpty() || name.size() > 40)
        return guessed(bytes);
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':' || c == '+'))
            return guessed(bytes);
    if (name == "us-ascii" || name == "ascii" || name == "utf-8" || name == "utf8")
        return guessed(bytes);
    if (name == "iso-8859-1" || name == "latin1" || name == "iso8859-1" || name == "latin-1")
        return windows1252(bytes);
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return guessed(bytes);
    return decoder(bytes);
}

QString DecodeHeaderValue(QByteArrayView raw) {
    raw = raw.first(std::min(raw.size(), kMaxHeaderBytes));
    // Unfold: a line break before a blank goes; any other one becomes a blank.
    QByteArray v;
    v.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\r' && c != '\n') {
            v += c;
            continue;
        }
        if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            ++i;
        if (i + 1 >= raw.size() || !isWsp(raw[i + 1]))
            v += ' ';
    }

    QString out;
    QByteArray pendingCharset, pendingBytes; // adjacent words of one charset
    auto flush = [&] {
        if (!pendingBytes.isEmpty())
            out += DecodeCharset(pendingBytes, pendingCharset);
        pendingBytes.clear();
    };
    qsizetype literalStart = 0;
    bool afterWord = false;
    qsizetype i = 0;
    while (i < v.size()) {
        EncodedWord w;
        const qsizetype at = v.indexOf("=?", i);
        if (at < 0)
            break;
        if (!encodedWordAt(v, at, w)) {
            i = at + 1;
            continue;
        }
        const QByteArrayView between = QByteArrayView(v).sliced(literalStart, at - literalStart);
        // Blanks between two encoded words are not part of the text.
        if (!(afterWord && between.trimmed().isEmpty())) {
            flush();
            out += guessed(between);
        }
        if (w.charset.toLower() != pendingCharset.toLower())
            flush();
        pendingCharset = w.charset;
        pendingBytes += w.bytes;
        afterWord = true;
        i = literalStart = w.end;
    }
    flush();
    out += guessed(QByteArrayView(v).sliced(literalStart));
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    limit(out, kMaxHeaderBytes);
    return out;
}

QString BodyText(QByteArrayView message) {
    message = message.first(std::min(message.size(), kMaxMessageBytes));
    Found found;
    search(message, 0, found);
    if (found.hasPlain)
        return tidyBody(decodedText(found.plain));
    if (found.hasHtml)
        return tidyBody(HtmlToText(decodedText(found.html)));
    return {};
}

QString HtmlToText(QStringView html) {
    // First pass: text with entities decoded; '\n' marks a break, and every
    // source white space is one blank.
    QString text;
    text.reserve(std::min(html.size(), kMaxTextChars * 2));
    qsizetype i = 0;
    QHash<QString, qsizetype> nextClose; // -1: none up to the end
    auto skipPast = [&](QStringView what) {
        const qsizetype at = html.indexOf(what, i, Qt::CaseInsensitive);
        i = at < 0 ? html.size() : at + what.size();
    };
    while (i < html.size() && text.size() < kMaxTextChars * 2) {
        const QChar c = html[i];
        if (c == QLatin1Char('<')) {
            if (html.sliced(i).startsWith(QLatin1String("<!--"))) {
                i += 4;
                skipPast(u"-->");
                continue;
            }
            // The tag runs to the next '>' outside quotes.
            qsizetype j = i + 1;
            const bool closing = j < html.size() && html[j] == QLatin1Char('/');
            if (closing)
                ++j;
            const qsizetype nameStart = j;
            while (j < html.size() && html[j].isLetterOrNumber())
                ++j;
            const QString name = html.sliced(nameStart, j - nameStart).toString().toLower();
            if (name.isEmpty() && !closing &&
                !(j < html.size() && (html[j] == QLatin1Char('!') || html[j] == QLatin1Char('?')))) {
                text += c; // a lone "<" is text
                ++i;
                continue;
            }
            QChar quote;
            while (j < html.size() && (html[j] != QLatin1Char('>') || !quote.isNull())) {
                if (quote.isNull() && (html[j] == QLatin1Char('"') || html[j] == QLatin1Char('\'')))
                    quote = html[j];
                else if (html[j] == quote)
                    quote = QChar();
                ++j;
            }
            i = j + 1;
            if (!closing && (name == QLatin1String("script") || name == QLatin1String("style") ||
                             name == QLatin1String("title") || name == QLatin1String("head"))) {
                // Scripts and styles are never text, even unclosed. Where a
                // closing tag is is remembered: many unclosed ones must not
                // each search the whole rest again.
                const QString end = QStringLiteral("</") + name;
                qsizetype& close = nextClose[name];
                if (close >= 0 && close < i)
                    close = html.indexOf(end, i, Qt::CaseInsensitive);
                if (close >= 0) {
                    i = close + end.size();
                    skipPast(u">");
                } else if (name == QLatin1String("script") || name == QLatin1String("style")) {
                    i = html.size();
                }
            } else if (isBreakTag(name)) {
                text += QLatin1Char('\n');
            } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
                text += QLatin1Char(' ');
            }
            continue;
        }
        if (c == QLatin1Char('&')) {
            qsizetype length = 0;
            const char32_t e = entityAt(html, i, length);
            if (length > 0) {
                const QString s = QString::fromUcs4(&e, 1);
                text += s.at(0).isSpace() || e < 0x20 ? QStringLiteral(" ") : s;
                i += length;
                continue;
            }
        }
        text += c.isSpace() || c.unicode() < 0x20 ? QLatin1Char(' ') : c;
        ++i;
    }
    // Second pass: runs of blanks and breaks collapse into one of them.
    QString out;
    out.reserve(text.size());
    bool blank = false, brk = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            brk = true;
        } else if (c == QLatin1Char(' ')) {
            blank = true;
        } else {
            if (!out.isEmpty() && (brk || blank))
                out += brk ? QLatin1Char('\n') : QLatin1Char(' ');
            blank = brk = false;
            out += c;
        }
    }
    limit(out, kMaxTextChars);
    return out;
}

QByteArray DecodeQuotedPrintable(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size());
    qsizetype i = 0;
    while (i < data.size()) {
        const char c = data[i];
        if (c == '=') {
            const int hi = i + 1 < data.size() ? hexValue(data[i + 1]) : -1;
            const int lo = i + 2 < data.size() ? hexValue(data[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 3;
                continue;
            }
            // A soft line break, possibly after transport padding.
            qsizetype j = i + 1;
            while (j < data.size() && isWsp(data[j]))
                ++j;
            if (j >= data.size() || data[j] == '\r' || data[j] == '\n') {
                if (j < data.size() && data[j] == '\r')
                    ++j;
                if (j < data.size() && data[j] == '\n')
                    ++j;
                i = j;
                continue;
            }
            out += c; // not an escape: kept as written
            ++i;
            continue;
        }
        if (isWsp(c)) {
            // Blanks at the end of a line were added in transport.
            qsizetype j = i;
            while (j < data.size() && isWsp(data[j]))
                ++j;
            if (j < data.size() && data[j] != '\r' && data[j] != '\n') {
                out += data.sliced(i, j - i);
            }
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QByteArray DecodeBase64(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size() * 3 / 4 + 3);
    quint32 acc = 0;
    int bits = 0;
    for (const char ch : data) {
        int v;
        if (ch >= 'A' && ch <= 'Z')
            v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            v = ch - '0' + 52;
        else if (ch == '+' || ch == '-')
            v = 62;
        else if (ch == '/' || ch == '_')
            v = 63;
        else if (ch == '=') {
            bits = 0; // padding ends a group
            acc = 0;
            continue;
        } else
            continue;
        acc = (acc << 6) | static_cast<quint32>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

QByteArray EncodeQuotedPrintable(QByteArrayView data) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(data.size() * 3 / 2);
    qsizetype lineLength = 0;
    auto put = [&](QByteArrayView piece) {
        if (lineLength + piece.size() > 75) {
            out += "=\r\n";
            lineLength = 0;
        }
        out += piece;
        lineLength += piece.size();
    };
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            continue;
        if (c == '\n' || c == '\r') {
            out += "\r\n";
            lineLength = 0;
            continue;
        }
        const bool lineEnd = i + 1 >= data.size() || data[i + 1] == '\r' || data[i + 1] == '\n';
        const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnd);
        if (literal) {
            const char one = static_cast<char>(c);
            put(QByteArrayView(&one, 1));
        } else {
            const char escaped[] = {'=', kHex[c >> 4], kHex[c & 15]};
            put(QByteArrayView(escaped, 3));
        }
    }
    return out;
}

QByteArray EncodeHeaderValue(const QString& text) {
    bool plain = !text.contains(QLatin1String("=?"));
    for (const QChar c : text)
        plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (plain)
        return text.toLatin1();
    // Words of at most 45 bytes (60 in base64), never splitting a character.
    QByteArray out;
    QByteArray chunk;
    auto word = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (const char32_t c : text.toUcs4()) {
        const char32_t one = (c < 0x20 || c == 0x7F) ? U' ' : c;
        const QByteArray bytes = QString::fromUcs4(&one, 1).toUtf8();
        if (chunk.size() + bytes.size() > 45)
            word();
        chunk += bytes;
    }
    word();
    return out;
}

} // namespace tessaly::mimetext
