#include "state/remotesafety.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"

#include <QRegularExpression>

namespace tessaly {

namespace {

bool plainAddress(const QString& text) {
    static const QRegularExpression address(QStringLiteral("^[^@\\s<>(),;:\"\\[\\]]+@[^@\\s<>(),;:\"\\[\\]]+$"));
    return text.size() <= 254 && address.match(text).hasMatch();
}

} // namespace

QStringList ParseSenderList(const QString& text, QStringList* bad) {
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QStringList out;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        const QString address = part.toLower();
        if (!plainAddress(address)) {
            if (bad)
                *bad << part;
            continue;
        }
        if (!out.contains(address))
            out << address;
    }
    return out;
}

QString SenderListText(const QStringList& senders) { return senders.join(QStringLiteral(", ")); }

QString SenderAddress(const QString& from) {
    QString value = from.left(1000);
    const qsizetype open = value.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        const qsizetype close = value.indexOf(QLatin1Char('>'), open);
        if (close < 0)
            return {};
        value = value.mid(open + 1, close - open - 1);
    } else {
        // "user@host (Name)": comments do not nest deeply in practice; one
        // level is removed, anything left over makes the address unreadable.
        static const QRegularExpression comment(QStringLiteral("\\([^()]*\\)"));
        value.remove(comment);
    }
    value = value.trimmed().toLower();
    return plainAddress(value) ? value : QString();
}

RemoteSafety LoadRemoteSafety(const SettingsStore& store) {
    RemoteSafety out;
    out.allowedSenders = ParseSenderList(store.read(kAppTitle, kRemoteSection, kAllowedSendersName, QString()));
    out.runFolder = store.read(kAppTitle, kRemoteSection, kRunFolderName, QString()).trimmed();
    return out;
}

void SaveRemoteSafety(SettingsStore& store, const RemoteSafety& safety) {
    store.write(kAppTitle, kRemoteSection, kAllowedSendersName, SenderListText(safety.allowedSenders));
    store.write(kAppTitle, kRemoteSection, kRunFolderName, safety.runFolder.trimmed());
}

} // namespace tessaly
