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
    return list_.Add(std::move(message), key);
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
        const QString subject = m.Subject();
        const QString id = m.ID();
        auto keepBody = [&] {
            CMail* same = list_.Find(id);
            if (same && body != same->Body())
                same->SetBody(body);
        };
        try {
            remote_(subject, body);
        } catch (...) {
            keepBody();
            throw;
        }
        keepBody();
    }
}

} // namespace tessaly
