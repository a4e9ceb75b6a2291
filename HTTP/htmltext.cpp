#include "htmltext.h"

namespace webwire::text {

namespace {

QString cleanRun(QString run) {
    run.remove(QLatin1Char('\r'));
    run.remove(QLatin1Char('\n'));
    run.remove(QLatin1Char('\t'));
    return run;
}

} // namespace

QString StripHtml(const QString& buffer, bool tabs) {
    QString result;
    const qsizetype firstLt = buffer.indexOf(QLatin1Char('<'));
    qsizetype gt;
    if (firstLt >= 1) {
        result = buffer.left(firstLt);
        gt = buffer.indexOf(QLatin1Char('>'), firstLt);
    } else {
        gt = buffer.indexOf(QLatin1Char('>'));
    }
    if (gt < 0)
        return firstLt < 0 ? buffer : result;
    for (;;) {
        const qsizetype lt = buffer.indexOf(QLatin1Char('<'), gt);
        if (lt < 0)
            return result;
        const QString run = cleanRun(buffer.mid(gt + 1, lt - gt - 1));
        if (!run.isEmpty()) {
            if (tabs)
                result += QLatin1Char('\t');
            result += run;
        }
        gt = buffer.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            return result;
    }
}

QString RemoveStringBetween(const QString& start, const QString& end, const QString& text, bool exclusive,
                            bool removeAll) {
    QString result = text;
    qsizetype from = 0;
    bool first = true;
    for (;;) {
        // With an empty start marker the cut begins after the first character.
        const qsizetype s = start.isEmpty() ? qMin<qsizetype>(1, result.size()) : result.indexOf(start, from);
        if (s < 0)
            return result;
        const qsizetype afterStart = s + start.size();
        const qsizetype e = result.indexOf(end, afterStart);
        if (e < 0)
            return first ? QString() : result;
        if (exclusive) {
            result.remove(afterStart, e - afterStart);
            from = afterStart + end.size();
        } else {
            result.remove(s, e + end.size() - s);
            from = s;
        }
        first = false;
        if (!removeAll || start.isEmpty() || from > result.size())
            return result;
    }
}

QString HeaderField(const QString& header, const QString& label) {
    const qsizetype at = header.indexOf(label, 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    const qsizetype from = at + label.size();
    const qsizetype cr = header.indexOf(QLatin1Char('\r'), from);
    return header.mid(from, cr < 0 ? -1 : cr - from);
}

QString LastModifiedDate(const QString& header) {
    const QString value = HeaderField(header, QStringLiteral("Last-Modified:"));
    const qsizetype gmt = value.indexOf(QLatin1String("GMT"));
    if (gmt < 0)
        return {};
    const QString part = value.left(gmt);
    const qsizetype comma = part.indexOf(QLatin1Char(','));
    return comma < 0 ? part : part.mid(comma + 1);
}

QString StatusCode(const QString& header) {
    const qsizetype cr = header.indexOf(QLatin1Char('\r'));
    if (cr < 0)
        return {};
    const QString line = header.left(cr);
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {};
    const qsizetype next = line.indexOf(QLatin1Char(' '), blank + 1);
    return line.mid(blank + 1, next < 0 ? -1 : next - blank - 1);
}

QString LocationValue(const QString& header) {
    static const QString label = QStringLiteral("Location: ");
    const qsizetype at = header.indexOf(label);
    if (at < 0)
        return {};
    const qsizetype from = at + label.size();
    const qsizetype cr = header.indexOf(QLatin1Char('\r'), from);
    return header.mid(from, cr < 0 ? -1 : cr - from).trimmed();
}

QString NormaliseLineBreaks(const QString& data) {
    QString t;
    t.reserve(data.size() + 16);
    for (qsizetype i = 0; i < data.size(); ++i) {
        t += data.at(i);
        if (data.at(i) == QLatin1Char('\r') && (i + 1 >= data.size() || data.at(i + 1) != QLatin1Char('\n')))
            t += QLatin1Char('\n');
    }
    if (t.startsWith(QLatin1Char('\n')))
        t.prepend(QLatin1Char('\r'));
    QString out;
    out.reserve(t.size() + 16);
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (i >= 2 && t.at(i) == QLatin1Char('\n') && t.at(i - 1) != QLatin1Char('\r'))
            out += QLatin1Char('\r');
        out += t.at(i);
    }
    return out;
}

} // namespace webwire::text
