#include "features/mail/cmail.h"

#include "features/mail/headerfields.h"

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

void CMail::FillFromHeader(const QString& header) {
    header_ = header;
    headers::Fields f = headers::All(header);
    id_ = std::move(f.messageId);
    from_ = std::move(f.from);
    dateSent_ = std::move(f.dateSent);
    subject_ = std::move(f.subject);
    mailTo_ = std::move(f.to);
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

void Inbox::SetKnown(const QString& uid, KnownHeader header) {
    header.seen = true;
    known_.insert(uid, std::move(header));
}

void Inbox::SeeKnown(const QString& uid) {
    const auto it = known_.find(uid);
    if (it != known_.end())
        it->seen = true;
}

void Inbox::RememberKnown(const QString& uid, const KnownHeader& header) {
    if (uid.isEmpty() || (header.id.isEmpty() && !header.unreadable) || known_.contains(uid))
        return;
    known_.insert(uid, header);
}

QList<QPair<QString, KnownHeader>> Inbox::KnownHeaders() const {
    QStringList uids = known_.keys();
    uids.sort();
    QList<QPair<QString, KnownHeader>> out;
    out.reserve(uids.size());
    for (const QString& uid : uids)
        out.append({uid, known_.value(uid)});
    return out;
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

QList<QPair<QString, MailMark>> Inbox::Marks() const {
    QList<QPair<QString, MailMark>> out;
    out.reserve(list_.Count() + remembered_.size());
    for (const CMail& m : list_)
        out.append({m.ID(), MailMark{m.NewMessage(), m.Paged(), m.PageAttempts(), m.RemoteChecked()}});
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
    for (KnownHeader& h : known_)
        h.seen = false;
}

void Inbox::PurgeOld() {
    list_.RemoveIf([](const CMail& m) { return !m.KeepMessage(); });
    remembered_.clear();
    known_.removeIf([](const QHash<QString, KnownHeader>::iterator it) { return !it->seen; });
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
