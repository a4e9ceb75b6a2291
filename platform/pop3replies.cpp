#include "platform/pop3replies.h"

#include "platform/tlschoice.h"

#include <QSet>
#include <QStringList>
#include <algorithm>
#include <limits>

namespace tessaly::pop3 {

bool IsPositive(QStringView answer) { return answer.startsWith(QLatin1String("+OK")); }

QHash<int, std::int32_t> ParseList(const QString& answer) {
    QHash<int, std::int32_t> sizes;
    const QStringList lines = answer.split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList words = lines[i].trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool okNumber = false, okSize = false;
        const int number = words.value(0).toInt(&okNumber);
        const qlonglong size = words.value(1).toLongLong(&okSize);
        if (okNumber && okSize && words.size() == 2)
            sizes.insert(number,
                         static_cast<std::int32_t>(std::clamp<qlonglong>(size, std::numeric_limits<std::int32_t>::min(),
                                                                         std::numeric_limits<std::int32_t>::max())));
    }
    return sizes;
}

QHash<int, QString> ParseUidl(QStringView answer, int count) {
    QHash<int, QString> uids;
    if (count < 1)
        return uids;
    QSet<QString> seen, doubled;
    qsizetype pos = answer.indexOf(QLatin1Char('\n')) + 1;
    // Room for the lines there are, whatever count the server claims.
    uids.reserve(static_cast<qsizetype>(std::min<qsizetype>(count, answer.count(QLatin1Char('\n')))));
    while (pos > 0 && pos < answer.size()) {
        qsizetype end = answer.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = answer.size();
        const QStringView line = answer.mid(pos, end - pos).trimmed();
        pos = end + 1;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (blank < 1)
            continue;
        bool numeric = false;
        const int m = line.left(blank).toInt(&numeric);
        const QStringView id = line.mid(blank + 1);
        if (!numeric || m < 1 || m > count || id.isEmpty() || id.size() > 70 || uids.contains(m))
            continue;
        if (std::any_of(id.begin(), id.end(), [](QChar c) { return c.unicode() < 0x21 || c.unicode() > 0x7e; }))
            continue;
        const QString uid = id.toString();
        if (seen.contains(uid))
            doubled.insert(uid);
        seen.insert(uid);
        uids.insert(m, uid);
    }
    if (!doubled.isEmpty())
        uids.removeIf([&](const QHash<int, QString>::iterator it) { return doubled.contains(it.value()); });
    return uids;
}

bool OffersBatches(const QByteArray& capabilities) { return Offers(capabilities, "PIPELINING"); }

} // namespace tessaly::pop3
