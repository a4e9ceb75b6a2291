#include "app/checkrecord.h"

#include "ground/atomicfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace tessaly {

namespace {
constexpr qint64 kMaxRecord = 64 * 1024; // a record is a few hundred bytes

QString timeText(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }
QDateTime timeOf(const QJsonValue& v) { return QDateTime::fromString(v.toString(), Qt::ISODate); }
} // namespace

bool WriteCheckRecord(const QString& path, const CheckRecord& r, QString* error) {
    QJsonObject o;
    o.insert(QLatin1String("started"), timeText(r.started));
    o.insert(QLatin1String("ended"), timeText(r.ended));
    o.insert(QLatin1String("status"), r.status);
    if (!r.detail.isEmpty())
        o.insert(QLatin1String("detail"), r.detail);
    o.insert(QLatin1String("accountsNotRead"), r.accountsNotRead);
    o.insert(QLatin1String("pagesNotDelivered"), r.pagesNotDelivered);
    o.insert(QLatin1String("cancelled"), r.cancelled);
    o.insert(QLatin1String("resident"), r.resident);
    if (r.nextCheck)
        o.insert(QLatin1String("nextCheck"), timeText(*r.nextCheck));
    return AtomicFile::Write(path, QJsonDocument(o).toJson(QJsonDocument::Indented), AtomicFile::Access::Shared, error);
}

std::optional<CheckRecord> ReadCheckRecord(const QString& path, QString* error) {
    QFile f(path);
    if (!f.exists())
        return std::nullopt;
    auto fail = [&](const QString& why) -> std::optional<CheckRecord> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!f.open(QIODevice::ReadOnly))
        return fail(f.errorString());
    if (f.size() > kMaxRecord)
        return fail(QStringLiteral("larger than %1 bytes").arg(kMaxRecord));
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parse);
    const QJsonObject o = doc.object();
    CheckRecord r;
    r.started = timeOf(o.value(QLatin1String("started")));
    r.ended = timeOf(o.value(QLatin1String("ended")));
    if (parse.error != QJsonParseError::NoError || !doc.isObject() || !r.ended.isValid())
        return fail(QStringLiteral("not a check record"));
    r.status = o.value(QLatin1String("status")).toInt(1);
    r.detail = o.value(QLatin1String("detail")).toString().left(500);
    r.accountsNotRead = o.value(QLatin1String("accountsNotRead")).toInt();
    r.pagesNotDelivered = o.value(QLatin1String("pagesNotDelivered")).toInt();
    r.cancelled = o.value(QLatin1String("cancelled")).toBool();
    r.resident = o.value(QLatin1String("resident")).toBool();
    if (const QDateTime next = timeOf(o.value(QLatin1String("nextCheck"))); next.isValid())
        r.nextCheck = next;
    return r;
}

} // namespace tessaly
