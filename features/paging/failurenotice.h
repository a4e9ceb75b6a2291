#pragma once
// The failure notice: an e-mail through the outgoing server saying which
// pages no pager of the chain delivered.

#include "features/paging/escalation.h"
#include "state/mailsecurity.h"

#include <QString>
#include <functional>

namespace tessaly {

class EventPump;
class SmtpControl;
struct LiveSettings;

struct NoticeContext {
    EventPump& pump;
    const LiveSettings& settings;
    SmtpControl& smtp;
    std::function<void(const QString&)> logActivity;
    // Makes sure the computer is on the internet; true when it is.
    std::function<bool()> connectInternet = {};
    std::function<MailSecurity()> mailSecurity = {};
};

// Sends the notice to `to` from `from` (the notice's own address when
// empty); true when the server took it. The outcome is on the activity log.
bool SendFailureNotice(NoticeContext& ctx, const QString& to, const QString& from, const QList<UndeliveredPage>& pages);

} // namespace tessaly
