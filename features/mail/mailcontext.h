#pragma once
// What the mail check works with: the mail controls, the shared state, the
// lists it reads and fills, and the few program services it calls.

#include "features/filters/cfilter.h"
#include "features/mail/cmail.h"
#include "features/mail/cpopaccount.h"
#include "features/paging/cpager.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/escalation.h"
#include "platform/sasloauth.h"

#include <functional>

namespace tessaly {

class PageLedger;

class ActivityLog;
class Connection;
class EventPump;
class LinkFactory;
class PopControl;
class SettingsStore;
class StatusWindow;
class TcpControl;
class Timer;
struct AppState;

struct MailContext {
    EventPump& pump;
    // The POP3 control and the raw TCP control that shares its socket; none
    // in a run without them (then no check can run).
    PopControl* pop;
    TcpControl* tcp;
    AppState& state;
    StatusWindow& status;
    ActivityLog& activity;
    Connection& connection;
    Inbox& inbox;
    Filters& filters;
    POPAccountList& accounts;
    const PagerList& pagers;
    MessageQueue& queue;
    // The one-minute scheduler tick, stopped while a check runs.
    Timer& minuteTimer;
    // Sends and empties the page queue, telling whether each page was delivered.
    std::function<void(const MessageQueue::PageOutcome&, const MessageQueue::PageStart&)> sendQueue;
    // Refreshes the settings labels (an account's message count changed).
    std::function<void()> updateSettings;
    // Shows the number of messages and the new-mail signals after a check.
    std::function<void(int total)> updateEmailDisplay;
    // The version check, run once connected when the update-check setting is on.
    std::function<void()> checkVersion = {};
    // The settings file, which keeps each account's security choice; none:
    // every account is "automatic".
    const SettingsStore* store = nullptr;
    // Where each page is recorded before and after it goes out; none: not recorded.
    PageLedger* ledger = nullptr;
    // Whether the line on a server without TLS is due (none: once per run).
    std::function<bool(const QString& who, const QString& server)> clearTextNoticeDue = {};
    // A check that pages nothing and runs no remote command (the queue it
    // fills goes to `sendQueue` all the same, which shows it instead); each
    // message's verdict goes to `verdict`.
    std::function<bool()> dryRun = {};
    std::function<void(const QString& account, int number, const QString& verdict)> verdict = {};
    // The pagers a page is tried on, in order, pager 1 first; none (or one):
    // pager 1 alone, and a page that fails is tried again at later checks.
    std::function<QList<const CPager*>()> pagerChain = {};
    // Told once after the walk of the pages no pager of the chain delivered.
    std::function<void(const QList<UndeliveredPage>&)> undeliverable = {};
    // How the IMAP reader connects (real sockets, or a test's scripted
    // servers); none: IMAP accounts cannot be read.
    LinkFactory* links = nullptr;
    // Access tokens for an account that signs in with OAuth 2.0; an empty
    // source for one that signs in with its password (also when none).
    std::function<sasl::BearerSource(const QString& account)> bearerFor = {};
    // Why an account must sign in again before it is read (said once when
    // it happened); empty when it need not.
    std::function<QString(const QString& account)> signInNeeded = {};
};

} // namespace tessaly
