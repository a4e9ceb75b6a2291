#pragma once
// How the mail connections are secured and how the outgoing server is
// logged in to. These live in the settings file (never in the profile),
// the POP3 choice keyed by the account's name.

#include "platform/tlschoice.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace tessaly {

class SettingsStore;

// The outgoing server's values and the extra certificates, read at start-up.
struct MailSecurity {
    Security smtp = Security::Automatic;
    QString smtpUser;
    QString smtpPassword;
    QString smtpPasswordCommand;
    // Certificates (PEM) trusted besides the system's; may be empty.
    QString caFile;
    // The stored security text when it names no choice (then `smtp` is
    // "STARTTLS required" and nothing is sent); empty when it was readable.
    QString smtpSecurityUnreadable = {};

    bool operator==(const MailSecurity&) const = default;
};

// Section and value names in the settings file.
inline const QString kPopSecuritySection = QStringLiteral("POP3 Security");
inline const QString kOutgoingSection = QStringLiteral("Outgoing Mail");

// An account's name as a value name of the settings file: account names
// may hold "=" or "[", which the file's lines cannot carry in a name.
QString AccountSettingsKey(const QString& account);
// Writes `value` under the program's name, or removes the entry when it is
// the default; an entry that already says it is left alone.
void WriteOrForget(SettingsStore& store, const QString& section, const QString& key, const QString& value,
                   bool isDefault);
// Every section whose values are named by account (security, protocol,
// folder, sign-in): an account that is gone has its entries removed there.
QStringList AccountSections();

MailSecurity LoadMailSecurity(const SettingsStore& store);
void SaveMailSecurity(SettingsStore& store, const MailSecurity& in);
// A POP3 account's choice; Automatic when none is stored, none when the
// stored text names no choice (PopSecurityText() then gives that text).
std::optional<Security> ReadPopSecurity(const SettingsStore& store, const QString& account);
QString PopSecurityText(const SettingsStore& store, const QString& account);
// The choice a mail check logs in with: the stored one; STARTTLS required
// when the stored text names none (the check reads no such account, and
// should one come all the same it gets no clear-text login); automatic
// without a settings file.
Security PopSecurityForCheck(const SettingsStore* store, const QString& account);
void WritePopSecurity(SettingsStore& store, const QString& account, Security s);
// The entries of the POP3 security section that name none of `accounts`
// (say, a misspelled account name), as they stand in the file.
QStringList StrayPopSecurityEntries(const SettingsStore& store, const QStringList& accounts);
// Removes those entries, and the protocol and folder entries that name none
// of `accounts` (the accounts they belonged to are gone).
void ForgetStrayPopSecurityEntries(SettingsStore& store, const QStringList& accounts);

// Whether the activity line saying that `server` is used without TLS is due
// for `who` ("POP3 " + an account name, or "SMTP"): only the first time for
// that server, which the settings file then remembers, so a program started
// for each check says it once too. Another server is said again.
bool ClearTextNoticeDue(SettingsStore& store, const QString& who, const QString& server);
inline const QString kClearTextSection = QStringLiteral("Said In Clear");

// How an account's mailbox is read. Kept in the settings file beside the
// security choice, keyed by the account's name: an account without an entry
// is POP3, so profiles and settings files from before IMAP read as they did.
enum class MailProtocol { Pop3, Imap };
inline const QString kMailProtocolSection = QStringLiteral("Mail Protocol");
inline const QString kImapFolderSection = QStringLiteral("IMAP Folder");
// "POP3", "IMAP".
QString MailProtocolText(MailProtocol p);
// The protocol a text names, in any letter case; an empty text is POP3, any
// other text names none.
std::optional<MailProtocol> ParseMailProtocol(const QString& text);
// An account's protocol: POP3 without a settings file or an entry; none when
// the stored text names no protocol (MailProtocolEntry() then gives it).
std::optional<MailProtocol> ReadMailProtocol(const SettingsStore* store, const QString& account);
QString MailProtocolEntry(const SettingsStore& store, const QString& account);
// The IMAP folder an account reads; "INBOX" when none is named.
QString ReadImapFolder(const SettingsStore* store, const QString& account);
inline const QString kDefaultImapFolder = QStringLiteral("INBOX");
// Stores the account's protocol and folder. POP3 and the default folder are
// stored as no entry at all, so a POP3-only setup leaves the file as it was.
void WriteMailProtocol(SettingsStore& store, const QString& account, MailProtocol p);
void WriteImapFolder(SettingsStore& store, const QString& account, const QString& folder);

} // namespace tessaly
