#pragma once
// CPOPAccount: one POP3 mailbox the mail check reads, and POPAccountList,
// the ordered list of them that the profile stores.

#include "ground/keyedlist.h"

#include <QString>
#include <cstdint>

namespace tessaly {

class CPOPAccount {
public:
    // The user's name for the account, shown in status and log lines.
    QString Name() const { return name_; }
    void SetName(const QString& v) { name_ = v; }
    QString Server() const { return server_; }
    void SetServer(const QString& v) { server_ = v; }
    std::int16_t MailPort() const { return mailPort_; }
    void SetMailPort(std::int16_t v) { mailPort_ = v; }
    QString Username() const { return username_; }
    void SetUsername(const QString& v) { username_ = v; }
    // Plain text in memory; scrambled only in the profile file.
    QString Password() const { return password_; }
    void SetPassword(const QString& v) { password_ = v; }
    bool CheckMail() const { return checkMail_; }
    void SetCheckMail(bool v) { checkMail_ = v; }
    // Messages the server reported at the last login; not stored.
    std::int16_t Messages() const { return messages_; }
    void SetMessages(std::int16_t v) { messages_ = v; }

private:
    QString name_;
    QString server_;
    std::int16_t mailPort_ = 110;
    QString username_;
    QString password_;
    bool checkMail_ = false;
    std::int16_t messages_ = 0;
};

class POPAccountList : public KeyedList<CPOPAccount> {
public:
    using KeyedList<CPOPAccount>::Add;
    // Creates an account with these values and appends it (under `key` when
    // it is not empty).
    CPOPAccount& Add(const QString& name, const QString& server, std::int16_t mailPort, const QString& username,
                     const QString& password, bool checkMail, const QString& key = {});
    // Empties `target` and appends a copy of every account, in order and
    // without keys. The message counts are not copied: the copies start at 0.
    void CopyObjects(POPAccountList& target) const;
};

// The fields of the account window, checked when OK is pressed.
struct POP3Entry {
    QString account;
    QString server;
    QString username;
    QString password;
    QString port;
};

// The message for the first field that stops the entry, or an empty text
// when it can be accepted. The five fields are checked in the window's
// order (name, password, port, server, user name); then the port must be a
// number from 1 to 32767, and the password one the profile file can store
// and read back unchanged.
QString pop3EntryProblem(const POP3Entry& entry);

inline const QString kPortRangeText =
    QStringLiteral("Please enter a port from 1 to 32767 for your POP3 account. (default is 110)");

inline const QString kPasswordNotStorableText =
    QStringLiteral("This password cannot be saved in a profile: it must be shorter than 255 characters and "
                   "avoid characters that the profile file cannot hold (such as \",\" at an even position, "
                   "control characters, and characters beyond Latin-1). Please enter another password.");

} // namespace tessaly
