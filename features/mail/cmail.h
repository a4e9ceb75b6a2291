#pragma once
// CMail: one message found on a POP3 server. Inbox: the keyed list of them,
// with the keep-and-purge cycle that a check runs over it.

#include "ground/keyedlist.h"
#include "state/remotesafety.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tessaly {

class CMail;

// What a header request gave for a message a server lists under a unique
// ID (its "UIDL" name), so that a later check can keep the message without
// asking for its header again.
struct KnownHeader {
    QString id, from, dateSent, subject, mailTo;
    std::int16_t priority = 0;
    std::int32_t size = 0;
    // Not empty: the filters removed the message as spam; the fingerprint of
    // the rules that did (Filters::Fingerprint), so that edited rules look again.
    QString filteredBy;
    // The message's header was too big to read; it is passed over.
    bool unreadable = false;
    bool seen = true; // listed by a server in the current check

    // A new message with these values (not yet downloaded).
    std::unique_ptr<CMail> ToMail() const;
    static KnownHeader Of(const CMail& mail);
};

class CMail {
public:
    QString ID() const { return field(Id); }
    void SetID(const QString& v) { setField(Id, v); }
    QString Header() const { return header_; }
    void SetHeader(const QString& v) { header_ = v; }
    QString From() const { return field(From_); }
    void SetFrom(const QString& v) { setField(From_, v); }
    QString DateSent() const { return field(Date); }
    void SetDateSent(const QString& v) { setField(Date, v); }
    QString Subject() const { return field(Subject_); }
    void SetSubject(const QString& v) { setField(Subject_, v); }
    bool NewMessage() const { return newMessage_; }
    void SetNewMessage(bool v) { newMessage_ = v; }
    bool Paged() const { return paged_; }
    void SetPaged(bool v) { paged_ = v; }
    // The message as downloaded. Held as 8-bit text (as it came from the
    // server: half the memory of a QString), or as UTF-8 when it holds
    // characters beyond Latin-1.
    QString Body() const { return wideBody_ ? QString::fromUtf8(body_) : QString::fromLatin1(body_); }
    void SetBody(const QString& v);
    std::int32_t Size() const { return size_; }
    void SetSize(std::int32_t v) { size_ = v; }
    bool KeepMessage() const { return keep_; }
    void SetKeepMessage(bool v) { keep_ = v; }
    std::int16_t Priority() const { return priority_; }
    void SetPriority(std::int16_t v) { priority_ = v; }
    QString MailTo() const { return field(To); }
    void SetMailTo(const QString& v) { setField(To, v); }
    bool Downloaded() const { return downloaded_; }
    void SetDownloaded(bool v) { downloaded_ = v; }
    // The remote-command interpreter has examined the downloaded message; it
    // is not offered again, so its commands run once.
    bool RemoteChecked() const { return remoteChecked_; }
    void SetRemoteChecked(bool v) { remoteChecked_ = v; }
    // How the mailbox was secured when this run last read the message.
    MailTransport Transport() const { return transport_; }
    void SetTransport(MailTransport v) { transport_ = v; }
    // Checks whose page for this message was not delivered.
    std::int16_t PageAttempts() const { return pageAttempts_; }
    void SetPageAttempts(std::int16_t v) { pageAttempts_ = v; }

    // Fills ID, From, DateSent, Subject, MailTo, Priority and Size from a
    // header answer, and keeps the answer as Header.
    void FillFromHeader(const QString& header);

    // ID, From, DateSent, Subject, MailTo, Priority and Size are those of `h`.
    bool HasValues(const KnownHeader& h) const;

private:
    friend class Inbox;
    enum Field { Id, From_, Date, Subject_, To, kFields };
    QString field(Field f) const;
    void setField(Field f, const QString& v);

    // The five text fields as UTF-8, one after the other, in one block: a
    // mailbox of many thousand messages keeps one small allocation per
    // message for them instead of five of UTF-16.
    QByteArray fields_;
    std::array<std::int32_t, kFields> fieldEnds_{}; // where each field ends in fields_
    std::int32_t size_ = 0;
    std::int16_t priority_ = 0;
    QString header_;
    QByteArray body_;
    bool wideBody_ = false;
    bool newMessage_ = false, paged_ = false, keep_ = false, downloaded_ = false, remoteChecked_ = false;
    std::int16_t pageAttempts_ = 0;
    // How many unique IDs the inbox files under this message (Inbox::held_).
    std::int16_t heldBy_ = 0;
    MailTransport transport_ = MailTransport::Unknown;
};

// What a later run must know of a message when it meets it again: whether
// it is still new (not yet shown in the viewer), whether it was paged, in
// how many checks its page was not delivered, and whether the remote-command
// interpreter has seen it.
struct MailMark {
    bool newMessage = true;
    bool paged = false;
    std::int16_t pageAttempts = 0;
    bool remoteChecked = false;

    // Two records of one message: paged by either run stays paged, shown by
    // either stays shown, and the failed attempts are the larger count.
    void Fold(const MailMark& other) {
        newMessage = newMessage && other.newMessage;
        paged = paged || other.paged;
        pageAttempts = std::max(pageAttempts, other.pageAttempts);
        remoteChecked = remoteChecked || other.remoteChecked;
    }
    bool operator==(const MailMark&) const = default;
};

class Inbox {
public:
    // Hands a message to the remote-command interpreter, which may hide the
    // remote password in the body it keeps.
    using RemoteCommandHandler = std::function<void(const CMail& mail, QString& body)>;

    // Appends under `key`, which is the message's ID, not paged and kept. A key
    // already present is the keyed list's duplicate-key error. A message
    // remembered from an earlier run takes its remembered mark.
    CMail& Add(std::unique_ptr<CMail> message, const QString& key);
    CMail& Item(int position) const { return list_.Item(position); }
    CMail& Item(const QString& key) const { return list_.Item(key); }
    // The message under `key`, or none.
    CMail* Find(const QString& key) const { return list_.Find(key); }
    int Count() const { return list_.Count(); }
    void Remove(int position) {
        release(list_.Item(position));
        list_.Remove(position);
    }
    void Remove(const QString& key) {
        release(list_.Item(key));
        list_.Remove(key);
    }
    void Clear() {
        held_.clear();
        list_.Clear();
        remembered_.clear();
        known_.clear();
    }
    auto begin() const { return list_.begin(); }
    auto end() const { return list_.end(); }

    // Marks the message under `id` as seen in this check; an unknown ID is ignored.
    void KeepMessage(const QString& id);
    void ResetKeep();
    // Removes every message not seen in this check, and forgets the
    // remembered marks of messages no server listed.
    void PurgeOld();

    // A mark from an earlier run: folded into the message with this exact ID
    // when it is here, else kept until the message is added again.
    void Remember(const QString& id, const MailMark& mark);
    // Calls `visit` with the mark of every message here, then with the
    // remembered marks not met again yet (sorted by ID).
    void ForEachMark(const std::function<void(const QString& id, const MailMark& mark)>& visit) const;
    int RememberedCount() const { return static_cast<int>(remembered_.size()); }

    // Header values by unique ID (scoped to its account by the caller). A
    // check marks what it meets as seen; PurgeOld forgets what it did not.
    // Known: a record of its own (read from the state file, a spam verdict,
    // a header too big); none when the record is a message held here, whose
    // values stand for it (see Entry).
    const KnownHeader* Known(const QString& uid) const;
    // What a check needs of the record of `uid`, of either kind.
    struct KnownEntry {
        QString id;
        std::int32_t size = 0;
        QString filteredBy;
        bool unreadable = false;
        const KnownHeader* record = nullptr; // a record of its own; none: a message held here
    };
    std::optional<KnownEntry> Entry(const QString& uid) const;
    // A record of either kind is stored for `uid`.
    bool HasKnown(const QString& uid) const { return held_.contains(uid) || known_.contains(uid); }
    // Stores the values for `uid`, seen in this check.
    void SetKnown(const QString& uid, KnownHeader header);
    void SeeKnown(const QString& uid);
    // Values from an earlier run: taken only for unique IDs not known here.
    void RememberKnown(const QString& uid, const KnownHeader& header);
    // Calls `visit` with every stored record, sorted by unique ID; nothing
    // is copied.
    void ForEachKnown(const std::function<void(const QString& uid, const KnownHeader& header)>& visit) const;
    int KnownCount() const { return static_cast<int>(known_.size() + held_.size()); }
    // `uid` sharing the text of a unique ID stored here, so that a check
    // does not hold the mailbox's IDs twice.
    QString SharedUid(const QString& uid) const;
    // True when no message has exactly this ID (letter case counts).
    bool IsNewMail(const QString& id) const;
    int NewMailCount() const;
    // Offers every unpaged message to the remote-command interpreter, a
    // downloaded one only once.
    void CheckRemoteCmd();
    void SetRemoteCommandHandler(RemoteCommandHandler handler) { remote_ = std::move(handler); }

private:
    // A unique ID whose values are those of a message held here: only a
    // pointer to it (the message's own values are the record).
    struct Held {
        CMail* mail;
        bool seen;
    };
    // Files `uid` under `mail`, whose values it has.
    void hold(const QString& uid, CMail& mail, bool seen);
    // The records of `mail` become records of their own, before it goes.
    void release(CMail& mail);

    KeyedList<CMail> list_;
    QHash<QString, MailMark> remembered_; // by exact ID
    QHash<QString, KnownHeader> known_;   // by unique ID, the values stored
    QHash<QString, Held> held_;           // by unique ID, the values those of a message here
    RemoteCommandHandler remote_;
};

} // namespace tessaly
