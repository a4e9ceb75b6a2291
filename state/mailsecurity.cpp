#include "state/mailsecurity.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "state/signinsettings.h"

#include <QUrl>
#include <algorithm>

namespace tessaly {

QString AccountSettingsKey(const QString& account) {
    return QString::fromLatin1(QUrl::toPercentEncoding(account, " !#$&'()*+,-./:;<>?@^_`{|}~"));
}

namespace {
QString accountKey(const QString& account) { return AccountSettingsKey(account); }
} // namespace

QString PopSecurityText(const SettingsStore& store, const QString& account) {
    return store.read(kAppTitle, kPopSecuritySection, accountKey(account), QString());
}

std::optional<Security> ReadPopSecurity(const SettingsStore& store, const QString& account) {
    return ParseSecurity(PopSecurityText(store, account));
}

Security PopSecurityForCheck(const SettingsStore* store, const QString& account) {
    return store ? ReadPopSecurity(*store, account).value_or(Security::StartTls) : Security::Automatic;
}

namespace {
QStringList strayEntries(const SettingsStore& store, const QString& section, const QStringList& accounts) {
    QStringList stray;
    for (const QString& name : store.names(kAppTitle, section)) {
        const bool known = std::any_of(accounts.begin(), accounts.end(), [&](const QString& account) {
            return accountKey(account).compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            stray << name;
    }
    return stray;
}
} // namespace

QStringList AccountSections() {
    return QStringList{kPopSecuritySection, kMailProtocolSection, kImapFolderSection} + SignInSections();
}

QStringList StrayPopSecurityEntries(const SettingsStore& store, const QStringList& accounts) {
    return strayEntries(store, kPopSecuritySection, accounts);
}

void ForgetStrayPopSecurityEntries(SettingsStore& store, const QStringList& accounts) {
    for (const QString& section : AccountSections())
        for (const QString& name : strayEntries(store, section, accounts))
            store.remove(kAppTitle, section, name);
}

QString MailProtocolText(MailProtocol p) {
    return p == MailProtocol::Imap ? QStringLiteral("IMAP") : QStringLiteral("POP3");
}

std::optional<MailProtocol> ParseMailProtocol(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.compare(QLatin1String("POP3"), Qt::CaseInsensitive) == 0)
        return MailProtocol::Pop3;
    if (t.compare(QLatin1String("IMAP"), Qt::CaseInsensitive) == 0)
        return MailProtocol::Imap;
    return std::nullopt;
}

QString MailProtocolEntry(const SettingsStore& store, const QString& account) {
    return store.read(kAppTitle, kMailProtocolSection, accountKey(account), QString());
}

std::optional<MailProtocol> ReadMailProtocol(const SettingsStore* store, const QString& account) {
    return store ? ParseMailProtocol(MailProtocolEntry(*store, account)) : MailProtocol::Pop3;
}

QString ReadImapFolder(const SettingsStore* store, const QString& account) {
    const QString folder =
        store ? store->read(kAppTitle, kImapFolderSection, accountKey(account), QString()).trimmed() : QString();
    return folder.isEmpty() ? kDefaultImapFolder : folder;
}

void WriteOrForget(SettingsStore& store, const QString& section, const QString& key, const QString& value,
                   bool isDefault) {
    if (isDefault) {
        if (store.contains(kAppTitle, section, key))
            store.remove(kAppTitle, section, key);
        return;
    }
    if (!store.contains(kAppTitle, section, key) || store.read(kAppTitle, section, key, QString()) != value)
        store.write(kAppTitle, section, key, value);
}

void WriteMailProtocol(SettingsStore& store, const QString& account, MailProtocol p) {
    WriteOrForget(store, kMailProtocolSection, accountKey(account), MailProtocolText(p), p == MailProtocol::Pop3);
}

void WriteImapFolder(SettingsStore& store, const QString& account, const QString& folder) {
    const QString f = folder.trimmed();
    WriteOrForget(store, kImapFolderSection, accountKey(account), f,
                  f.isEmpty() || f.compare(kDefaultImapFolder, Qt::CaseInsensitive) == 0);
}

void WritePopSecurity(SettingsStore& store, const QString& account, Security s) {
    store.write(kAppTitle, kPopSecuritySection, accountKey(account), SecurityText(s));
}

MailSecurity LoadMailSecurity(const SettingsStore& store) {
    auto outgoing = [&](const char* name) {
        return store.read(kAppTitle, kOutgoingSection, QString::fromLatin1(name), QString());
    };
    MailSecurity out;
    const QString security = outgoing("Security");
    const std::optional<Security> choice = ParseSecurity(security);
    out.smtp = choice.value_or(Security::StartTls);
    if (!choice)
        out.smtpSecurityUnreadable = security;
    out.smtpUser = outgoing("User");
    out.smtpPassword = outgoing("Password");
    out.smtpPasswordCommand = outgoing("PasswordCommand");
    out.caFile = outgoing("CAFile");
    return out;
}

void SaveMailSecurity(SettingsStore& store, const MailSecurity& in) {
    auto outgoing = [&](const char* name, const QString& value) {
        store.write(kAppTitle, kOutgoingSection, QString::fromLatin1(name), value);
    };
    outgoing("Security", in.smtpSecurityUnreadable.isEmpty() ? SecurityText(in.smtp) : in.smtpSecurityUnreadable);
    outgoing("User", in.smtpUser);
    outgoing("Password", in.smtpPassword);
    outgoing("PasswordCommand", in.smtpPasswordCommand);
    outgoing("CAFile", in.caFile);
}

bool ClearTextNoticeDue(SettingsStore& store, const QString& who, const QString& server) {
    const QString key = accountKey(who);
    const QString host = server.trimmed().toLower();
    if (store.read(kAppTitle, kClearTextSection, key, QString()) == host)
        return false;
    store.write(kAppTitle, kClearTextSection, key, host);
    return true;
}

} // namespace tessaly
