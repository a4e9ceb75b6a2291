#include "features/remote/remoteguard.h"

#include "ground/atomicfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

namespace tessaly {

namespace {

QString stamp(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }
QDateTime fromStamp(const QJsonValue& v) {
    QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODate);
    return t.isValid() ? t.toUTC() : QDateTime();
}

bool isHexDigest(const QByteArray& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

QDateTime ParseMailDate(const QString& value) {
    QString text = value.left(200).simplified();
    // A trailing comment such as "(UTC)" or "(CET)".
    static const QRegularExpression comment(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    text.remove(comment);
    // Qt reads numeric zones; the obsolete names stand for fixed offsets.
    static const QList<QPair<QString, QString>> zones = {
        {QStringLiteral("UT"), QStringLiteral("+0000")},  {QStringLiteral("GMT"), QStringLiteral("+0000")},
        {QStringLiteral("UTC"), QStringLiteral("+0000")}, {QStringLiteral("Z"), QStringLiteral("+0000")},
        {QStringLiteral("EST"), QStringLiteral("-0500")}, {QStringLiteral("EDT"), QStringLiteral("-0400")},
        {QStringLiteral("CST"), QStringLiteral("-0600")}, {QStringLiteral("CDT"), QStringLiteral("-0500")},
        {QStringLiteral("MST"), QStringLiteral("-0700")}, {QStringLiteral("MDT"), QStringLiteral("-0600")},
        {QStringLiteral("PST"), QStringLiteral("-0800")}, {QStringLiteral("PDT"), QStringLiteral("-0700")},
    };
    const qsizetype blank = text.lastIndexOf(QLatin1Char(' '));
    if (blank > 0) {
        const QString zone = text.mid(blank + 1).toUpper();
        for (const auto& [name, offset] : zones)
            if (zone == name) {
                text = text.left(blank + 1) + offset;
                break;
            }
    }
    QDateTime t = QDateTime::fromString(text, Qt::RFC2822Date);
    return t.isValid() ? t.toUTC() : QDateTime();
}

bool RemoteGuard::Load(QString* why) {
    seen_.clear();
    failures_.clear();
    refusedUntil_ = QDateTime();
    QFile file(path_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 cannot be read: %2").arg(path_, file.errorString());
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        *why = QStringLiteral("%1 is larger than %2 bytes").arg(path_).arg(kMaxFileBytes);
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxFileBytes), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *why = QStringLiteral("%1 is not a remote state file; remove it to start afresh").arg(path_);
        return false;
    }
    const QJsonObject root = doc.object();
    for (const QJsonValue& v : root.value(QStringLiteral("seen")).toArray()) {
        const QJsonObject o = v.toObject();
        const QByteArray digest = o.value(QStringLiteral("digest")).toString().toLatin1();
        const QDateTime dated = fromStamp(o.value(QStringLiteral("dated")));
        if (isHexDigest(digest) && dated.isValid() && seen_.size() < kMaxDigests)
            seen_.append({digest, dated});
    }
    for (const QJsonValue& v : root.value(QStringLiteral("wrongPasswords")).toArray())
        if (const QDateTime t = fromStamp(v); t.isValid() && failures_.size() < 100)
            failures_.append(t);
    refusedUntil_ = fromStamp(root.value(QStringLiteral("refusedUntil")));
    return true;
}

bool RemoteGuard::Save(QString* why) const {
    QJsonArray seen;
    for (const Entry& e : seen_)
        seen.append(QJsonObject{{QStringLiteral("digest"), QString::fromLatin1(e.digest)},
                                {QStringLiteral("dated"), stamp(e.dated)}});
    QJsonArray failures;
    for (const QDateTime& t : failures_)
        failures.append(stamp(t));
    QJsonObject root{{QStringLiteral("seen"), seen}, {QStringLiteral("wrongPasswords"), failures}};
    if (refusedUntil_.isValid())
        root.insert(QStringLiteral("refusedUntil"), stamp(refusedUntil_));
    return AtomicFile::Write(path_, QJsonDocument(root).toJson(QJsonDocument::Compact), AtomicFile::Access::Private,
                             why);
}

QByteArray RemoteGuard::Digest(const QString& sender, const QDateTime& dated, const QString& commands) {
    QStringList lines;
    for (const QString& line : QString(commands).remove(QLatin1Char('\n')).split(QLatin1Char('\r')))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // Each part with its length, so that no two different triples meet.
    for (const QString& part : {sender.toLower(), dated.toUTC().toString(Qt::ISODate), lines.join(QLatin1Char('\r'))}) {
        const QByteArray bytes = part.toUtf8();
        hash.addData(QByteArray::number(bytes.size()) + ':');
        hash.addData(bytes);
    }
    return hash.result().toHex();
}

bool RemoteGuard::Seen(const QByteArray& digest) const {
    return std::any_of(seen_.begin(), seen_.end(), [&](const Entry& e) { return e.digest == digest; });
}

void RemoteGuard::Remember(const QByteArray& digest, const QDateTime& dated) {
    if (Seen(digest))
        return;
    seen_.append({digest, dated.toUTC()});
    // The oldest go first; they are past the age a message is obeyed at.
    while (seen_.size() > kMaxDigests)
        seen_.removeFirst();
}

bool RemoteGuard::NoteFailure(const QDateTime& now) {
    const QDateTime t = now.toUTC();
    failures_.erase(std::remove_if(failures_.begin(), failures_.end(),
                                   [&](const QDateTime& f) { return f.secsTo(t) >= kFailureWindowSecs || f > t; }),
                    failures_.end());
    failures_.append(t);
    if (failures_.size() < kFailingMessages)
        return false;
    refusedUntil_ = t.addSecs(kRefusalSecs);
    failures_.clear();
    return true;
}

std::optional<QDateTime> RemoteGuard::RefusedUntil(const QDateTime& now) const {
    if (!refusedUntil_.isValid() || refusedUntil_ <= now.toUTC())
        return std::nullopt;
    return refusedUntil_;
}

void RemoteGuard::Prune(const QDateTime& now) {
    const QDateTime t = now.toUTC();
    // A digest is needed while its message could still pass the date test.
    seen_.erase(std::remove_if(seen_.begin(), seen_.end(),
                               [&](const Entry& e) { return e.dated.secsTo(t) > kMaxAgeSecs + kMaxAheadSecs; }),
                seen_.end());
    failures_.erase(std::remove_if(failures_.begin(), failures_.end(),
                                   [&](const QDateTime& f) { return f.secsTo(t) >= kFailureWindowSecs; }),
                    failures_.end());
    if (refusedUntil_.isValid() && refusedUntil_ <= t)
        refusedUntil_ = QDateTime();
    // A refusal longer than it can ever be set for comes from a clock put
    // back; it ends an hour from now at the latest.
    if (refusedUntil_.isValid() && t.secsTo(refusedUntil_) > kRefusalSecs)
        refusedUntil_ = t.addSecs(kRefusalSecs);
}

} // namespace tessaly
