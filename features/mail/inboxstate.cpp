#include "features/mail/inboxstate.h"

#include "features/mail/cmail.h"
#include "ground/tessalyerror.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace tessaly {

namespace {
constexpr int kFormat = 1;
} // namespace

bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error) {
    QJsonArray messages;
    for (const CMail& m : inbox) {
        messages.append(QJsonObject{
            {QStringLiteral("id"), m.ID()},
            {QStringLiteral("header"), m.Header()},
            {QStringLiteral("from"), m.From()},
            {QStringLiteral("date"), m.DateSent()},
            {QStringLiteral("subject"), m.Subject()},
            {QStringLiteral("to"), m.MailTo()},
            {QStringLiteral("body"), m.Body()},
            {QStringLiteral("size"), m.Size()},
            {QStringLiteral("priority"), m.Priority()},
            {QStringLiteral("new"), m.NewMessage()},
            {QStringLiteral("paged"), m.Paged()},
            {QStringLiteral("downloaded"), m.Downloaded()},
            {QStringLiteral("pageAttempts"), m.PageAttempts()},
        });
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

bool LoadInboxState(Inbox& inbox, const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists())
        return true;
    auto fail = [&](const QString& why) {
        inbox.Clear();
        if (error)
            *error = why;
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("not a state file (%1)").arg(parse.errorString()));
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toInt() != kFormat)
        return fail(QStringLiteral("unknown state file format"));
    try {
        for (const QJsonValue& v : root.value(QStringLiteral("messages")).toArray()) {
            const QJsonObject o = v.toObject();
            const QString id = o.value(QStringLiteral("id")).toString();
            if (id.isEmpty() || !inbox.IsNewMail(id))
                continue; // nothing to key it by, or already there
            auto m = std::make_unique<CMail>();
            m->SetID(id);
            m->SetHeader(o.value(QStringLiteral("header")).toString());
            m->SetFrom(o.value(QStringLiteral("from")).toString());
            m->SetDateSent(o.value(QStringLiteral("date")).toString());
            m->SetSubject(o.value(QStringLiteral("subject")).toString());
            m->SetMailTo(o.value(QStringLiteral("to")).toString());
            m->SetBody(o.value(QStringLiteral("body")).toString());
            m->SetSize(o.value(QStringLiteral("size")).toInt());
            m->SetPriority(static_cast<std::int16_t>(std::clamp(o.value(QStringLiteral("priority")).toInt(), -32768, 32767)));
            m->SetNewMessage(o.value(QStringLiteral("new")).toBool());
            m->SetDownloaded(o.value(QStringLiteral("downloaded")).toBool());
            m->SetPageAttempts(static_cast<std::int16_t>(std::clamp(o.value(QStringLiteral("pageAttempts")).toInt(), 0, 32767)));
            const bool paged = o.value(QStringLiteral("paged")).toBool();
            CMail& stored = inbox.Add(std::move(m), id);
            stored.SetPaged(paged); // Add clears it
        }
    } catch (const TessalyError& e) {
        return fail(e.description());
    }
    return true;
}

} // namespace tessaly
