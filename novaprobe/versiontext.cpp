#include "versiontext.h"

#include <QStringList>

namespace novaprobe {

namespace {

// One part of a version text as a 16-bit number; false when it is not one.
bool readPart(const QString& text, qint16& out) {
    bool ok = false;
    const short value = text.trimmed().toShort(&ok, 10);
    if (ok)
        out = value;
    return ok;
}

} // namespace

VersionNumber parseVersion(const QString& text) {
    VersionNumber v;
    const qsizetype first = text.indexOf(QLatin1Char('.'));
    if (first < 0)
        return v;
    const qsizetype second = text.indexOf(QLatin1Char('.'), first + 1);
    if (second < 0)
        return v;
    readPart(text.left(first), v.major) && readPart(text.mid(first + 1, second - first - 1), v.minor) &&
        readPart(text.mid(second + 1), v.revision);
    return v;
}

bool isNewerVersion(const QString& web, const QString& mine) { return parseVersion(web) > parseVersion(mine); }

TagValue findTag(const QString& page, const QString& name) {
    const QString open = QStringLiteral("<!") + name + QLatin1Char('>');
    const QString close = QStringLiteral("<!/") + name + QLatin1Char('>');
    const qsizetype start = page.indexOf(open);
    if (start < 0)
        return {QString(), open};
    const qsizetype end = page.indexOf(close, start);
    if (end < 0)
        return {QString(), close};
    const qsizetype from = start + open.size();
    return {page.mid(from, end - from), QString()};
}

QDate parseDayText(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    if (parts.size() != 3 || parts[2].size() != 4)
        return {};
    bool okM = false, okD = false, okY = false;
    const int m = parts[0].toInt(&okM), d = parts[1].toInt(&okD), y = parts[2].toInt(&okY);
    if (!okM || !okD || !okY || parts[0].size() > 2 || parts[1].size() > 2)
        return {};
    return QDate(y, m, d); // invalid for 02/30 and the like
}

} // namespace novaprobe
