#include "features/mail/cmail.h"

#include "features/mail/headerfields.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <cstdint>
#include <vector>

namespace tessaly {

void CMail::SetBody(const QString& v) {
    wideBody_ = false;
    for (const QChar c : v)
        if (c.unicode() > 0xFF) {
            wideBody_ = true;
            break;
        }
    body_ = wideBody_ ? v.toUtf8() : v.toLatin1();
}

QString CMail::field(Field f) const {
    const std::int32_t from = f == Id ? 0 : fieldEnds_[f - 1];
    return QString::fromUtf8(fields_.constData() + from, fieldEnds_[f] - from);
}

void CMail::setField(Field f, const QString& v) {
    const std::int32_t from = f == Id ? 0 : fieldEnds_[f - 1];
    const QByteArray utf8 = v.toUtf8();
    // A header is at most a few MiB: the offsets never come near 2^31.
    const auto grown = static_cast<std::int32_t>(utf8.size() - (fieldEnds_[f] - from));
    QByteArray packed;
    packed.reserve(fields_.size() + grown);
    packed.append(fields_.constData(), from);
    packed.append(utf8);
    packed.append(fields_.constData() + fieldEnds_[f], fields_.size() - fieldEnds_[f]);
    fields_ = std::move(packed);
    for (int i = f; i < kFields; ++i)
        fieldEnds_[i] += grown;
}

bool CMail::HasValues(const KnownHeader& h) const {
    return size_ == h.size && priority_ == h.priority && ID() == h.id && From() == h.from && DateSent() == h.dateSent &&
           Subject() == h.subject && MailTo() == h.mailTo;
}

void CMail::FillFromHeader(const QString& header) {
    header_ = header;
    headers::Fields f = headers::All(header);
    const QByteArray parts[kFields] = {f.messageId.toUtf8(), f.from.toUtf8(), f.dateSent.toUtf8(), f.subject.toUtf8(),
                                       f.to.toUtf8()};
    QByteArray packed;
    packed.reserve(std::accumulate(std::begin(parts), std::end(parts), qsizetype(0),
                                   [](qsizetype n, const QByteArray& p) { return n + p.size(); }));
    for (int i = 0; i < kFields; ++i) {
        packed.append(parts[i]);
        fieldEnds_[i] = static_cast<std::int32_t>(packed.size());
    }
    fields_ = std::move(packed);
    priority_ = f.priority;
    size_ = f.size;
}

std::unique_ptr<CMail> KnownHeader::ToMail() const {
    auto mail = std::make_unique<CMail>();
    mail->SetID(id);
    mail->SetFrom(from);
    mail->SetDateSent(dateSent);
    mail->SetSubject(subject);
    mail->SetMailTo(mailTo);
    mail->SetPriority(priority);
    mail->SetSize(size);
    return mail;
}

KnownHeader KnownHeader::Of(const CMail& mail) {
    KnownHeader h;
    h.id = mail.ID();
    h.from = mail.From();
    h.dateSent = mail.DateSent();
    h.subject = mail.Subject();
    h.mailTo = mail.MailTo();
    h.priority = mail.Priority();
    h.size = mail.Size();
    return h;
}

const KnownHeader* Inbox::Known(const QString& uid) const {
    const auto it = known_.constFind(uid);
    return it == known_.cend() ? nullptr : &*it;
}

std::optional<Inbox::KnownEntry> Inbox::Entry(const QString& uid) const {
    if (const auto held = held_.constFind(uid); held != held_.cend())
        return KnownEntry{held->mail->ID(), held->mail->Size(), {}, false, nullptr};
    if (const KnownHeader* h = Known(uid))
        return KnownEntry{h->id, h->size, h->filteredBy, h->unreadable, h};
    return std::nullopt;
}

// Most records are the values of a message the inbox holds anyway: those
// are kept as a pointer to it rather than as a second record.
void Inbox::SetKnown(const QString& uid, KnownHeader header) {
    if (const auto held = held_.find(uid); held != held_.end()) {
        --held->mail->heldBy_;
        held_.erase(held);
    }
    if (header.filteredBy.isEmpty() && !header.unreadable) {
        CMail* mail = list_.Find(header.id);
        if (mail && mail->heldBy_ < INT16_MAX && mail->HasValues(header)) {
            known_.remove(uid);
            hold(uid, *mail, true);
            return;
        }
    }
    header.seen = true;
    known_.insert(uid, std::move(header));
}

void Inbox::hold(const QString& uid, CMail& mail, bool seen) {
    held_.insert(uid, Held{&mail, seen});
    ++mail.heldBy_;
}

void Inbox::release(CMail& mail) {
    if (mail.heldBy_ == 0)
        return;
    held_.removeIf([&](const QHash<QString, Held>::iterator it) {
        if (it->mail != &mail)
            return false;
        KnownHeader h = KnownHeader::Of(mail);
        h.seen = it->seen;
        known_.insert(it.key(), std::move(h));
        return true;
    });
    mail.heldBy_ = 0;
}

void Inbox::SeeKnown(const QString& uid) {
    if (const auto held = held_.find(uid); held != held_.end()) {
        held->seen = true;
        return;
    }
    const auto it = known_.find(uid);
    if (it != known_.end())
        it->seen = true;
}

void Inbox::RememberKnown(const QString& uid, const KnownHeader& header) {
    if (uid.isEmpty() || (header.id.isEmpty() && !header.unreadable) || known_.contains(uid) || held_.contains(uid))
        return;
    known_.insert(uid, header);
}

QString Inbox::SharedUid(const QString& uid) const {
    if (const auto held = held_.constFind(uid); held != held_.cend())
        return held.key();
    if (const auto it = known_.constFind(uid); it != known_.cend())
        return it.key();
    return uid;
}

void Inbox::ForEachKnown(const std::function<void(const QString& uid, const KnownHeader& header)>& visit) const {
    // Sorted through pointers to the stored records: no copy of them.
    struct Record {
        const QString* uid;
        const KnownHeader* header; // none: the values of `mail`
        const CMail* mail;
    };
    std::vector<Record> order;
    order.reserve(static_cast<std::size_t>(known_.size() + held_.size()));
    for (auto it = known_.cbegin(); it != known_.cend(); ++it)
        order.push_back({&it.key(), &it.value(), nullptr});
    for (auto it = held_.cbegin(); it != held_.cend(); ++it)
        order.push_back({&it.key(), nullptr, it->mail});
    std::sort(order.begin(), order.end(), [](const Record& a, const Record& b) { return *a.uid < *b.uid; });
    for (const Record& r : order) {
        if (r.header)
            visit(*r.uid, *r.header);
        else
            visit(*r.uid, KnownHeader::Of(*r.mail)); // made for the visit alone
    }
}

CMail& Inbox::Add(std::unique_ptr<CMail> message, const QString& key) {
    message->SetPaged(false);
    message->SetKeepMessage(true);
    const auto known = remembered_.constFind(message->ID());
    const bool wasKnown = known != remembered_.cend();
    if (wasKnown) {
        message->SetNewMessage(message->NewMessage() && known->newMessage);
        message->SetPaged(known->paged);
        message->SetPageAttempts(known->pageAttempts);
        message->SetRemoteChecked(known->remoteChecked);
    }
    CMail& stored = list_.Add(std::move(message), key);
    if (wasKnown)
        remembered_.remove(stored.ID());
    return stored;
}

void Inbox::Remember(const QString& id, const MailMark& mark) {
    if (id.isEmpty())
        return;
    CMail* here = list_.Find(id);
    if (here && here->ID() == id) {
        MailMark now{here->NewMessage(), here->Paged(), here->PageAttempts(), here->RemoteChecked()};
        now.Fold(mark);
        here->SetNewMessage(now.newMessage);
        here->SetPaged(now.paged);
        here->SetPageAttempts(now.pageAttempts);
        here->SetRemoteChecked(now.remoteChecked);
        return;
    }
    const auto known = remembered_.find(id);
    if (known == remembered_.end())
        remembered_.insert(id, mark);
    else
        known->Fold(mark);
}

void Inbox::ForEachMark(const std::function<void(const QString& id, const MailMark& mark)>& visit) const {
    for (const CMail& m : list_)
        visit(m.ID(), MailMark{m.NewMessage(), m.Paged(), m.PageAttempts(), m.RemoteChecked()});
    std::vector<QHash<QString, MailMark>::const_iterator> order;
    order.reserve(static_cast<std::size_t>(remembered_.size()));
    for (auto it = remembered_.cbegin(); it != remembered_.cend(); ++it)
        order.push_back(it);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
    for (const auto& it : order)
        visit(it.key(), it.value());
}

void Inbox::KeepMessage(const QString& id) {
    if (CMail* m = list_.Find(id))
        m->SetKeepMessage(true);
}

void Inbox::ResetKeep() {
    for (CMail& m : list_)
        m.SetKeepMessage(false);
    for (KnownHeader& h : known_)
        h.seen = false;
    for (Held& h : held_)
        h.seen = false;
}

void Inbox::PurgeOld() {
    // A record seen in this check outlives its message; one not seen goes.
    held_.removeIf([&](const QHash<QString, Held>::iterator it) {
        CMail& mail = *it->mail;
        if (it->seen && mail.KeepMessage())
            return false;
        if (it->seen) {
            KnownHeader h = KnownHeader::Of(mail);
            h.seen = true;
            known_.insert(it.key(), std::move(h));
        }
        --mail.heldBy_;
        return true;
    });
    list_.RemoveIf([](const CMail& m) { return !m.KeepMessage(); });
    remembered_.clear();
    known_.removeIf([](const QHash<QString, KnownHeader>::iterator it) { return !it->seen; });
    // Records read from the state file whose message is here now: the
    // message's values stand for them from here on.
    known_.removeIf([&](const QHash<QString, KnownHeader>::iterator it) {
        CMail* mail = it->filteredBy.isEmpty() && !it->unreadable ? list_.Find(it->id) : nullptr;
        if (!mail || mail->heldBy_ == INT16_MAX || !mail->HasValues(*it))
            return false;
        hold(it.key(), *mail, true);
        return true;
    });
}

// Messages are stored under their IDs, so the key lookup answers at once;
// only a stored ID differing in letter case needs the exact comparison walk.
bool Inbox::IsNewMail(const QString& id) const {
    const CMail* byKey = list_.Find(id);
    if (!byKey)
        return true;
    if (byKey->ID() == id)
        return false;
    for (const CMail& m : list_)
        if (m.ID() == id)
            return false;
    return true;
}

int Inbox::NewMailCount() const {
    int n = 0;
    for (const CMail& m : list_)
        if (m.NewMessage())
            ++n;
    return n;
}

void Inbox::CheckRemoteCmd() {
    if (!remote_)
        return;
    // The interpreter may change the inbox; positions are re-read each time.
    for (int i = 1; i <= list_.Count(); ++i) {
        CMail& m = list_.Item(i);
        if (m.Paged() || m.RemoteChecked())
            continue;
        // Marked before it runs: a command that fails or ends the program
        // is not carried out again at the next check. A message whose body
        // is still to come is offered again.
        if (m.Downloaded())
            m.SetRemoteChecked(true);
        QString body = m.Body();
        const CMail mail = m; // the interpreter may change the inbox
        const QString id = m.ID();
        auto keepBody = [&] {
            CMail* same = list_.Find(id);
            if (same && body != same->Body())
                same->SetBody(body);
        };
        try {
            remote_(mail, body);
        } catch (...) {
            keepBody();
            throw;
        }
        keepBody();
    }
}

} // namespace tessaly
