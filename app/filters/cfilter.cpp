#include "app/filters/cfilter.h"

namespace tessaly {

bool CFilter::Matches(const QString& subject, const QString& recipient, const QString& sender,
                      const QString& body) const {
    QString part;
    switch (object_) {
    case Subject: part = subject; break;
    case Sender: part = sender; break;
    case Body: part = body; break;
    case Recipient: part = recipient; break;
    default: break; // an unknown part is tested as empty text
    }
    switch (action_) {
    case Contains: return part.contains(text_, Qt::CaseInsensitive);
    case DoesNotContain: return !part.contains(text_, Qt::CaseInsensitive);
    case Is: return part.compare(text_, Qt::CaseInsensitive) == 0;
    case IsNot: return part.compare(text_, Qt::CaseInsensitive) != 0;
    default: return false;
    }
}

CFilter* Filters::Add(const QString& name, std::int16_t object, std::int16_t action,
                      const QString& text, bool enabled, const QString& key) {
    if (list_.Contains(key))
        return nullptr;
    auto rule = std::make_unique<CFilter>();
    rule->SetName(name);
    rule->SetFilterObject(object);
    rule->SetFilterAction(action);
    rule->SetFilterText(text);
    rule->SetEnabled(enabled);
    return &list_.Add(std::move(rule), key);
}

CFilter* Filters::Item(int position) const {
    if (position < 1 || position > list_.Count())
        return nullptr;
    return &list_.Item(position);
}

void Filters::CopyObjects(Filters& target) const {
    if (&target == this)
        return;
    target.Clear();
    for (const CFilter& f : list_)
        target.list_.Add(std::make_unique<CFilter>(f));
}

bool Filters::CheckForSpam(const QString& subject, const QString& recipient, const QString& sender,
                           const QString& body) const {
    for (const CFilter& f : list_)
        if (f.Enabled() && f.Matches(subject, recipient, sender, body))
            return true;
    return false;
}

} // namespace tessaly
