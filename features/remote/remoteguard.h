#pragma once
// What remote control must remember between messages and between runs:
// the digests of the command messages already examined (so that a copy
// sent again never runs), and the recent messages with wrong passwords
// (five within an hour close remote control for an hour). Kept in a small
// file of its own in the program directory, readable only by its owner.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace tessaly {

class RemoteGuard {
public:
    static constexpr int kWrongLinesPerMessage = 3;
    static constexpr int kFailingMessages = 5;
    static constexpr qint64 kFailureWindowSecs = 3600;
    static constexpr qint64 kRefusalSecs = 3600;
    // A message dated further back or ahead than this is not obeyed.
    static constexpr qint64 kMaxAgeSecs = 24 * 3600;
    static constexpr qint64 kMaxAheadSecs = 10 * 60;
    // The file is read no further than this, and keeps no more digests.
    static constexpr qint64 kMaxFileBytes = 1 << 20;
    static constexpr int kMaxDigests = 5000;

    static inline const QString kFileName = QStringLiteral("remote-state.json");

    explicit RemoteGuard(QString path) : path_(std::move(path)) {}
    QString Path() const { return path_; }

    // Reads the file afresh (none yet: nothing remembered). False, with the
    // reason, when it is there but cannot be read or understood.
    bool Load(QString* why);
    // Writes the file in one step, mode 0600.
    bool Save(QString* why) const;

    // Sender, date and commands of a message, as one digest. The date is
    // taken as the instant it names and the commands without blank lines
    // and the blanks around each line, so that a copy with its Date written
    // another way or its lines re-spaced is the same message.
    static QByteArray Digest(const QString& sender, const QDateTime& dated, const QString& commands);
    bool Seen(const QByteArray& digest) const;
    // `dated`: the message's date, after which the digest may be forgotten.
    void Remember(const QByteArray& digest, const QDateTime& dated);

    // Notes a message with a wrong password at `now`; true when it is the
    // one that closes remote control.
    bool NoteFailure(const QDateTime& now);
    // The end of a refusal still running at `now`.
    std::optional<QDateTime> RefusedUntil(const QDateTime& now) const;

    // Drops what no longer matters at `now`.
    void Prune(const QDateTime& now);

private:
    struct Entry {
        QByteArray digest; // hex
        QDateTime dated;   // UTC
    };
    QString path_;
    QList<Entry> seen_;
    QList<QDateTime> failures_; // UTC
    QDateTime refusedUntil_;    // UTC; invalid: none
};

// The date of a Date header's value (RFC 5322, with the obsolete zone names
// and a trailing comment allowed); invalid when it cannot be read.
QDateTime ParseMailDate(const QString& value);

} // namespace tessaly
