#include "features/mail/inboxstate.h"

#include "features/mail/cmail.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

namespace tessaly {

namespace {
constexpr int kFormat = 2;
// Format 1 kept whole messages; its records carry the same keys.
constexpr int kOldestFormat = 1;
// Far beyond any real mailbox (10 000 messages take about 1 MB); a larger
// file is not read at all.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

const QString kId = QStringLiteral("id");
const QString kNew = QStringLiteral("new");
const QString kPaged = QStringLiteral("paged");
const QString kPageAttempts = QStringLiteral("pageAttempts"); // absent: none failed
} // namespace

bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error) {
    QJsonArray messages;
    for (const auto& [id, mark] : inbox.Marks()) {
        QJsonObject record{{kId, id}, {kNew, mark.newMessage}, {kPaged, mark.paged}};
        if (mark.pageAttempts > 0)
            record.insert(kPageAttempts, mark.pageAttempts);
        messages.append(record);
    }
    const QJsonObject root{{QStringLiteral("format"), kFormat}, {QStringLiteral("messages"), messages}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool MergeInboxState(Inbox& inbox, const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists())
        return true;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    if (file.size() > kMaxFileBytes)
        return fail(QStringLiteral("the file is larger than %1 MB").arg(kMaxFileBytes / (1024 * 1024)));
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("not a state file (%1)").arg(parse.errorString()));
    const QJsonObject root = doc.object();
    const int format = root.value(QStringLiteral("format")).toInt();
    if (format < kOldestFormat || format > kFormat)
        return fail(QStringLiteral("unknown state file format"));
    const QJsonValue list = root.value(QStringLiteral("messages"));
    if (!list.isArray())
        return fail(QStringLiteral("no message list"));
    // Everything is read before anything is folded in.
    QList<QPair<QString, MailMark>> marks;
    for (const QJsonValue& v : list.toArray()) {
        const QJsonObject o = v.toObject();
        const QString id = o.value(kId).toString();
        if (id.isEmpty())
            continue; // nothing to know it by
        const auto attempts = static_cast<std::int16_t>(std::clamp(o.value(kPageAttempts).toInt(0), 0, 32767));
        marks.append({id, MailMark{o.value(kNew).toBool(true), o.value(kPaged).toBool(false), attempts}});
    }
    for (const auto& [id, mark] : marks)
        inbox.Remember(id, mark);
    return true;
}

} // namespace tessaly
