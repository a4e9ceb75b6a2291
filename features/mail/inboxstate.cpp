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
const QString kRemoteChecked = QStringLiteral("remoteChecked");  // absent: not yet
// The header values of messages known by unique ID.
const QString kHeaders = QStringLiteral("headers");
const QString kUid = QStringLiteral("uid");

// The file is written as text directly: building it from JSON objects cost
// more than the rest of a check of an unchanged mailbox.
void appendString(QByteArray& out, const QString& text) {
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendKey(QByteArray& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void appendHeaderRecord(QByteArray& out, const QString& uid, const KnownHeader& h) {
    out += '{';
    appendKey(out, "uid");
    appendString(out, uid);
    for (const auto& [key, value] : {std::pair{"id", &h.id}, std::pair{"from", &h.from}, std::pair{"date", &h.dateSent},
                                     std::pair{"subject", &h.subject}, std::pair{"to", &h.mailTo}}) {
        out += ',';
        appendKey(out, key);
        appendString(out, *value);
    }
    out += ',';
    appendKey(out, "size");
    out += QByteArray::number(h.size);
    if (h.priority != 0) {
        out += ',';
        appendKey(out, "priority");
        out += QByteArray::number(h.priority);
    }
    if (!h.filteredBy.isEmpty()) {
        out += ',';
        appendKey(out, "filtered");
        appendString(out, h.filteredBy);
    }
    out += '}';
}

KnownHeader headerFrom(const QJsonObject& o) {
    KnownHeader h;
    h.id = o.value(kId).toString();
    h.from = o.value(QStringLiteral("from")).toString();
    h.dateSent = o.value(QStringLiteral("date")).toString();
    h.subject = o.value(QStringLiteral("subject")).toString();
    h.mailTo = o.value(QStringLiteral("to")).toString();
    h.size = static_cast<std::int32_t>(std::clamp<qint64>(o.value(QStringLiteral("size")).toInteger(0), 0, INT32_MAX));
    h.priority = static_cast<std::int16_t>(std::clamp(o.value(QStringLiteral("priority")).toInt(0), -32768, 32767));
    h.filteredBy = o.value(QStringLiteral("filtered")).toString();
    return h;
}
} // namespace

bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error) {
    QByteArray text = "{\"format\":" + QByteArray::number(kFormat) + ",\"messages\":[";
    bool first = true;
    for (const auto& [id, mark] : inbox.Marks()) {
        if (!first)
            text += ',';
        first = false;
        text += '{';
        appendKey(text, "id");
        appendString(text, id);
        text += mark.newMessage ? ",\"new\":true" : ",\"new\":false";
        text += mark.paged ? ",\"paged\":true" : ",\"paged\":false";
        if (mark.pageAttempts > 0)
            text += ",\"pageAttempts\":" + QByteArray::number(mark.pageAttempts);
        if (mark.remoteChecked)
            text += ",\"remoteChecked\":true";
        text += '}';
    }
    text += ']';
    const auto known = inbox.KnownHeaders();
    if (!known.isEmpty()) {
        text += ",\"headers\":[";
        for (qsizetype i = 0; i < known.size(); ++i) {
            if (i)
                text += ',';
            appendHeaderRecord(text, known[i].first, known[i].second);
        }
        text += ']';
    }
    text += '}';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0 ||
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
        marks.append({id, MailMark{o.value(kNew).toBool(true), o.value(kPaged).toBool(false), attempts,
                                   o.value(kRemoteChecked).toBool(false)}});
    }
    QList<QPair<QString, KnownHeader>> known;
    for (const QJsonValue& v : root.value(kHeaders).toArray()) {
        const QJsonObject o = v.toObject();
        const QString uid = o.value(kUid).toString();
        KnownHeader h = headerFrom(o);
        if (!uid.isEmpty() && !h.id.isEmpty())
            known.append({uid, std::move(h)});
    }
    for (const auto& [id, mark] : marks)
        inbox.Remember(id, mark);
    for (const auto& [uid, header] : known)
        inbox.RememberKnown(uid, header);
    return true;
}

} // namespace tessaly
