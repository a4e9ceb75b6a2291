#include "features/paging/escalation.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"

#include <QRegularExpression>
#include <QUrl>

namespace tessaly {

namespace {

const QString kFallback = QStringLiteral("Fallback");
const QString kNotify = QStringLiteral("Notify");
const QString kProofOfLife = QStringLiteral("Proof Of Life");
const QString kLastProofOfLife = QStringLiteral("Last Proof Of Life");
const QString kAlarm = QStringLiteral("Alarm");
const QString kAlarmSince = QStringLiteral("Alarm Since");

// A chain entry is at most this long, and a chain at most this many pagers.
constexpr int kMaxName = 255;
constexpr int kMaxChain = 16;

QString read(const SettingsStore& store, const QString& name) {
    return store.read(kAppTitle, kEscalationSection, name, QString());
}

QStringList readChain(const QString& text) {
    QStringList out;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = QUrl::fromPercentEncoding(part.trimmed().toLatin1());
        if (!name.isEmpty() && name.size() <= kMaxName && out.size() < kMaxChain)
            out << name;
    }
    return out;
}

QString writeChain(const QStringList& names) {
    QStringList parts;
    for (const QString& n : names)
        parts << QString::fromLatin1(QUrl::toPercentEncoding(n, " !#$&'()*+-./:;<=>?@[]^_`{|}~"));
    return parts.join(QLatin1Char(','));
}

// Writes `value` where it means something else than the entry there; an
// empty value removes the entry.
void put(SettingsStore& store, const QString& name, const QString& value, const QString& meaningNow, QString& failure) {
    if (meaningNow == value)
        return;
    if (value.isEmpty())
        store.remove(kAppTitle, kEscalationSection, name);
    else
        store.write(kAppTitle, kEscalationSection, name, value);
    if (failure.isEmpty())
        failure = store.lastFailure();
}

} // namespace

EscalationSettings LoadEscalation(const SettingsStore& store) {
    EscalationSettings s;
    s.fallback = readChain(read(store, kFallback));
    s.notify = read(store, kNotify).trimmed();
    if (!NoticeAddressProblem(s.notify).isEmpty())
        s.notify.clear();
    s.proofOfLife = ParseProofOfLife(read(store, kProofOfLife)).value_or(QTime());
    return s;
}

QString SaveEscalation(SettingsStore& store, const EscalationSettings& settings) {
    QString failure;
    const EscalationSettings now = LoadEscalation(store);
    put(store, kFallback, writeChain(settings.fallback), writeChain(now.fallback), failure);
    put(store, kNotify, settings.notify, now.notify, failure);
    const auto time = [](const QTime& t) { return t.isValid() ? t.toString(QStringLiteral("HH:mm")) : QString(); };
    put(store, kProofOfLife, time(settings.proofOfLife), time(now.proofOfLife), failure);
    return failure;
}

QString FallbackText(const QStringList& names) { return names.join(QStringLiteral(", ")); }

QStringList ParseFallback(const QString& text, const PagerList& pagers, QString* why) {
    QStringList out;
    auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason;
        return QStringList();
    };
    for (const QString& raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString part = raw.trimmed();
        if (part.isEmpty())
            continue;
        bool number = false;
        const int n = part.toInt(&number);
        const CPager* pager = nullptr;
        if (number) {
            if (n < 1 || n > pagers.Count())
                return refuse(QStringLiteral("there is no pager %1").arg(part));
            pager = &pagers.Item(n);
        } else {
            pager = pagers.Find(part);
            if (!pager)
                return refuse(QStringLiteral("no pager is named \"%1\"").arg(part));
        }
        if (pagers.Count() > 0 && pager == &pagers.Item(1))
            return refuse(QStringLiteral("pager 1 is the one paged first; the chain lists the pagers after it"));
        if (out.contains(pager->Username(), Qt::CaseInsensitive))
            return refuse(QStringLiteral("pager \"%1\" is listed twice").arg(pager->Username()));
        if (out.size() >= kMaxChain)
            return refuse(QStringLiteral("at most %1 pagers").arg(kMaxChain));
        out << pager->Username();
    }
    if (why)
        why->clear();
    return out;
}

QString ProofOfLifeText(const QTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("HH:mm")) : QStringLiteral("off");
}

std::optional<QTime> ParseProofOfLife(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return QTime();
    static const QRegularExpression form(QStringLiteral("^([01]?\\d|2[0-3]):([0-5]\\d)$"));
    const QRegularExpressionMatch m = form.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    return QTime(m.captured(1).toInt(), m.captured(2).toInt());
}

QString NoticeAddressProblem(const QString& address) {
    const QString a = address.trimmed();
    if (a.isEmpty())
        return {};
    static const QRegularExpression form(QStringLiteral("^[^@\\s<>,;\"]+@[^@\\s<>,;\"]+$"));
    if (a.size() > 254 || !form.match(a).hasMatch())
        return QStringLiteral("\"%1\" is not one mail address such as oncall@example.com").arg(address);
    return {};
}

QList<const CPager*> PagerChain(const PagerList& pagers, const QStringList& fallback) {
    QList<const CPager*> chain;
    if (pagers.Count() == 0)
        return chain;
    chain << &pagers.Item(1);
    for (const QString& name : fallback)
        if (const CPager* p = pagers.Find(name); p && !chain.contains(p))
            chain << p;
    return chain;
}

UndeliverableAlarm LoadAlarm(const SettingsStore& store) {
    UndeliverableAlarm a;
    a.text = read(store, kAlarm).left(1000);
    a.since = QDateTime::fromString(read(store, kAlarmSince), Qt::ISODate);
    return a;
}

QString RaiseAlarm(SettingsStore& store, const QString& text, const QDateTime& when) {
    const UndeliverableAlarm was = LoadAlarm(store);
    QString oneLine = text;
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    store.write(kAppTitle, kEscalationSection, kAlarm, oneLine.left(1000));
    QString failure = store.lastFailure();
    if (!was.Set() || !was.since.isValid()) {
        store.write(kAppTitle, kEscalationSection, kAlarmSince, when.toUTC().toString(Qt::ISODate));
        if (failure.isEmpty())
            failure = store.lastFailure();
    }
    return failure;
}

QString AcknowledgeAlarm(SettingsStore& store) {
    QString failure;
    for (const QString& name : {kAlarm, kAlarmSince})
        if (store.contains(kAppTitle, kEscalationSection, name)) {
            store.remove(kAppTitle, kEscalationSection, name);
            if (failure.isEmpty())
                failure = store.lastFailure();
        }
    return failure;
}

QString FailureNoticeSubject(const QList<UndeliveredPage>& pages) {
    return pages.size() == 1 ? QStringLiteral("Tessaly: a page could not be delivered")
                             : QStringLiteral("Tessaly: %1 pages could not be delivered").arg(pages.size());
}

QString FailureNoticeText(const QList<UndeliveredPage>& pages, const QDateTime& now) {
    QString text = QStringLiteral("No pager of the chain took these pages (%1):\r\n")
                       .arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    for (const UndeliveredPage& p : pages) {
        text += QStringLiteral("\r\n");
        for (const QString& m : p.mails)
            text += QStringLiteral("Mail: %1\r\n").arg(m.left(300));
        if (p.firstSeen.isValid())
            text += QStringLiteral("First seen: %1\r\n")
                        .arg(p.firstSeen.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        text += QStringLiteral("Page: %1\r\n").arg(p.text.left(300));
        for (const QString& t : p.tried)
            text += QStringLiteral("Tried: %1\r\n").arg(t.left(300));
    }
    return text;
}

QString AlarmText(const QList<UndeliveredPage>& pages, const QDateTime& now) {
    const QString when = now.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    QString what = pages.isEmpty() || pages.first().mails.isEmpty() ? QString() : pages.first().mails.first();
    if (what.size() > 120)
        what = what.left(120) + QStringLiteral("...");
    if (pages.size() == 1)
        return what.isEmpty() ? QStringLiteral("A page could not be delivered on any pager (%1)").arg(when)
                              : QStringLiteral("A page could not be delivered on any pager (%1): %2").arg(when, what);
    return QStringLiteral("%1 pages could not be delivered on any pager (%2)").arg(pages.size()).arg(when);
}

QDate LastProofOfLife(const SettingsStore& store) {
    return QDate::fromString(read(store, kLastProofOfLife), Qt::ISODate);
}

QString SetLastProofOfLife(SettingsStore& store, const QDate& day) {
    store.write(kAppTitle, kEscalationSection, kLastProofOfLife, day.toString(Qt::ISODate));
    return store.lastFailure();
}

} // namespace tessaly
