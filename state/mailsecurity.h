#pragma once
// How the mail connections are secured and how the outgoing server is
// logged in to. These live in the settings file (never in the profile),
// the POP3 choice keyed by the account's name.

#include "platform/tlschoice.h"

#include <QHash>
#include <QString>

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
};

// Section and value names in the settings file.
inline const QString kPopSecuritySection = QStringLiteral("POP3 Security");
inline const QString kOutgoingSection = QStringLiteral("Outgoing Mail");

MailSecurity LoadMailSecurity(const SettingsStore& store);
void SaveMailSecurity(SettingsStore& store, const MailSecurity& in);
// A POP3 account's choice; Automatic when none is stored.
Security ReadPopSecurity(const SettingsStore& store, const QString& account);
void WritePopSecurity(SettingsStore& store, const QString& account, Security s);

} // namespace tessaly
