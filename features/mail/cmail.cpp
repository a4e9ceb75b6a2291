#include "features/mail/cmail.h"

#include "features/mail/headerfields.h"

namespace tessaly {

void CMail::FillFromHeader(const QString& header) {
    header_ = header;
    id_ = headers::MessageId(header);
    from_ = headers::From(header);
    dateSent_ = headers::DateSent(header);
    subject_ = headers::Subject(header);
    mailTo_ = headers::To(header);
    priority_ = headers::Priority(header);
    size_ = headers::Size(header);
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
        MailMark now{here->NewMessage(), here->Paged(), here->PageAttempts()};
        now.Fold(mark);
        here->SetNewMessage(now.newMessage);
        here->SetPaged(now.paged);
        here->SetPageAttempts(now.pageAttempts);
        return;
    }
    const auto known = remembered_.find(id);
    if (known == remembered_.end())
        remembered_.insert(id, mark);
    else
        known->Fold(mark);
}

QList<QPair<QString, MailMark>> Inbox::Marks() const {
    QList<QPair<QString, MailMark>> out;
    out.reserve(list_.Count() + remembered_.size());
    for (const CMail& m : list_)
        out.append({m.ID(), MailMark{m.NewMessage(), m.Paged(), m.PageAttempts()}});
    QStringList ids = remembered_.keys();
    ids.sort();
    for (const QString& id : ids)
        out.append({id, remembered_.value(id)});
    return out;
}

void Inbox::KeepMessage(const QString& id) {
    if (CMail* m = list_.Find(id))
        m->SetKeepMessage(true);
}

void Inbox::ResetKeep() {
    for (CMail& m : list_)
        m.SetKeepMessage(false);
}

void Inbox::PurgeOld() {
    list_.RemoveIf([](const CMail& m) { return !m.KeepMessage(); });
    remembered_.clear();
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

void Inbox::CheckRemoteCmd() const {
    if (!remote_)
        return;
    // The interpreter may change the inbox; positions are re-read each time.
    for (int i = 1; i <= list_.Count(); ++i) {
        const CMail& m = list_.Item(i);
        if (!m.Paged())
            remote_(m.Subject(), m.Body());
    }
}

} // namespace tessaly
