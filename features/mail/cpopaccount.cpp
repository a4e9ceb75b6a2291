#include "features/mail/cpopaccount.h"

#include "ground/scramble.h"

namespace tessaly {

CPOPAccount& POPAccountList::Add(const QString& name, const QString& server, std::int16_t mailPort,
                                 const QString& username, const QString& password, bool checkMail, const QString& key) {
    auto account = std::make_unique<CPOPAccount>();
    account->SetName(name);
    account->SetServer(server);
    account->SetMailPort(mailPort);
    account->SetUsername(username);
    account->SetPassword(password);
    account->SetCheckMail(checkMail);
    return KeyedList<CPOPAccount>::Add(std::move(account), key);
}

void POPAccountList::CopyObjects(POPAccountList& target) const {
    if (&target == this)
        return;
    target.Clear();
    for (const CPOPAccount& a : *this)
        target.Add(a.Name(), a.Server(), a.MailPort(), a.Username(), a.Password(), a.CheckMail());
}

QString pop3EntryProblem(const POP3Entry& entry) {
    if (entry.account.isEmpty())
        return QStringLiteral("Please enter a name for your POP3 account.");
    if (entry.password.isEmpty())
        return QStringLiteral("Please enter a password for your POP3 account.");
    if (entry.port.isEmpty())
        return QStringLiteral("Please enter a port for your POP3 account. (default is 110)");
    if (entry.server.isEmpty())
        return QStringLiteral("Please enter a server name for your POP3 account.");
    if (entry.username.isEmpty())
        return QStringLiteral("Please enter a username for your POP3 account.");
    // The profile keeps the port as a 16-bit number.
    bool ok = false;
    const int port = entry.port.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 32767)
        return kPortRangeText;
    if (!PasswordStorable(entry.password))
        return kPasswordNotStorableText;
    return {};
}

} // namespace tessaly
