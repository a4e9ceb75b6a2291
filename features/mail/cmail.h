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
#include <cstdint>
#include <functional>
#include <memory>

namespace tessaly {

class CMail {
public:
    QString ID() const { return id_; }
    void SetID(const QString& v) { id_ = v; }
    QString Header() const { return header_; }
    void SetHeader(const QString& v) { header_ = v; }
    QString From() const { return from_; }
    void SetFrom(const QString& v) { from_ = v; }
    QString DateSent() const { return dateSent_; }
    void SetDateSent(const QString& v) { dateSent_ = v; }
    QString Subject() const { return subject_; }
    void SetSubject(const QString& v) { subject_ = v; }
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
    QString MailTo() const { return mailTo_; }
    void SetMailTo(const QString& v) { mailTo_ = v; }
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

private:
    QString id_, header_, from_, dateSent_, subject_, mailTo_;
    QByteArray body_;
    bool wideBody_ = false;
    bool newMessage_ = false, paged_ = false, keep_ = false, downloaded_ = false, remoteChecked_ = false;
    std::int32_t size_ = 0;
    std::int16_t priority_ = 0;
    std::int16_t pageAttempts_ = 0;
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
    void Remove(int position) { list_.Remove(position); }
    void Remove(const QString& key) { list_.Remove(key); }
    void Clear() {
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
    // The marks of every message here, then the remembered marks not met
    // again yet (sorted by ID).
    QList<QPair<QString, MailMark>> Marks() const;
    int RememberedCount() const { return static_cast<int>(remembered_.size()); }

    // Header values by unique ID (scoped to its account by the caller). A
    // check marks what it meets as seen; PurgeOld forgets what it did not.
    const KnownHeader* Known(const QString& uid) const;
    // Stores the values for `uid`, seen in this check.
    void SetKnown(const QString& uid, KnownHeader header);
    void SeeKnown(const QString& uid);
    // Values from an earlier run: taken only for unique IDs not known here.
    void RememberKnown(const QString& uid, const KnownHeader& header);
    // Every stored record, sorted by unique ID.
    QList<QPair<QString, KnownHeader>> KnownHeaders() const;
    int KnownCount() const { return static_cast<int>(known_.size()); }
    // True when no message has exactly this ID (letter case counts).
    bool IsNewMail(const QString& id) const;
    int NewMailCount() const;
    // Offers every unpaged message to the remote-command interpreter, a
    // downloaded one only once.
    void CheckRemoteCmd();
    void SetRemoteCommandHandler(RemoteCommandHandler handler) { remote_ = std::move(handler); }

private:
    KeyedList<CMail> list_;
    QHash<QString, MailMark> remembered_; // by exact ID
    QHash<QString, KnownHeader> known_;   // by unique ID
    RemoteCommandHandler remote_;
};

} // namespace tessaly
