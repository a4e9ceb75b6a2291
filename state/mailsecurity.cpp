#include "state/mailsecurity.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"

#include <QUrl>
#include <algorithm>

namespace tessaly {

namespace {

// Account names may hold "=" or "[", which the file's lines cannot carry in a name.
QString accountKey(const QString& account) {
    return QString::fromLatin1(QUrl::toPercentEncoding(account, " !#$&'()*+,-./:;<>?@^_`{|}~"));
}

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

QStringList StrayPopSecurityEntries(const SettingsStore& store, const QStringList& accounts) {
    QStringList stray;
    for (const QString& name : store.names(kAppTitle, kPopSecuritySection)) {
        const bool known = std::any_of(accounts.begin(), accounts.end(), [&](const QString& account) {
            return accountKey(account).compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            stray << name;
    }
    return stray;
}

void ForgetStrayPopSecurityEntries(SettingsStore& store, const QStringList& accounts) {
    for (const QString& name : StrayPopSecurityEntries(store, accounts))
        store.remove(kAppTitle, kPopSecuritySection, name);
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
