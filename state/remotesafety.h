#pragma once
// The remote-control settings that live in the settings file (not in the
// profile): the senders whose command messages are obeyed and the one
// folder "run" may open files from. Also how a message's mailbox was read,
// which the mail check notes and the remote-command interpreter weighs.

#include <QString>
#include <QStringList>

namespace tessaly {

class SettingsStore;

inline const QString kRemoteSection = QStringLiteral("Remote Control");
inline const QString kAllowedSendersName = QStringLiteral("AllowedSenders");
inline const QString kRunFolderName = QStringLiteral("RunFolder");

struct RemoteSafety {
    // Mail addresses, lower case, without duplicates.
    QStringList allowedSenders;
    // Empty: "run" is off.
    QString runFolder;

    bool operator==(const RemoteSafety&) const = default;
};

RemoteSafety LoadRemoteSafety(const SettingsStore& store);
void SaveRemoteSafety(SettingsStore& store, const RemoteSafety& safety);

// A list typed by the user: addresses separated by commas, semicolons or
// blanks, lower-cased, duplicates dropped. The entries that are not one
// plain address ("name@host", nothing else) go to `bad` when given.
QStringList ParseSenderList(const QString& text, QStringList* bad = nullptr);
QString SenderListText(const QStringList& senders);

// The address of a From header's value: the part in angle brackets when
// there is one, otherwise the value without comments; lower case. Empty
// when no single address can be read.
QString SenderAddress(const QString& from);

// How the mailbox a message was read from was secured.
enum class MailTransport {
    Unknown,     // not read from a mailbox in this run
    Tls,         // over TLS
    ClearChosen, // in clear because the account's security is "none"
    Clear        // in clear although TLS was not ruled out (no TLS offered)
};

} // namespace tessaly
