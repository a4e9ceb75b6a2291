#pragma once
// Push mail for IMAP accounts: while it is wanted (paging on, the schedule's
// window open, a direct connection), each IMAP account that is checked keeps
// one connection idling in its folder (IDLE), and news of a message there
// starts a mail check at once. The IDLE command is renewed before the
// server's 30 minutes run out; a dropped connection is tried again after 1,
// 2, 4 ... up to 300 seconds, with one activity line when it is lost and one
// when it is back. The schedule's checks go on beside it as a safety net.
//
// Nothing here waits while idling: the connection's bytes arrive as events.
// Connecting and logging in wait in the event pump like any mail step.

#include "platform/sasloauth.h"
#include "features/mail/cpopaccount.h"

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace tessaly {

class ActivityLog;
class EventPump;
class LinkFactory;
class SettingsStore;
class Timer;

struct ImapWatchContext {
    EventPump& pump;
    LinkFactory& links;
    ActivityLog& activity;
    const POPAccountList& accounts;
    // The settings file: each account's protocol, folder and security, and
    // the CA file; none: no account is IMAP.
    const SettingsStore* store;
    // True while push mail is wanted at all.
    std::function<bool()> wanted;
    // Runs a mail check now; false when one could not start (another runs).
    std::function<bool()> checkNow;
    // The connections' traffic for the terminal window; none: not shown.
    std::function<void(const QString& line)> terminal = {};
    // As the mail check's: access tokens for an account that signs in with
    // OAuth 2.0 (by the account's name), and why one must sign in again
    // (such an account is not watched).
    std::function<sasl::BearerSource(const QString& account)> bearerFor = {};
    std::function<QString(const QString& account)> signInNeeded = {};
};

class ImapWatch : public QObject {
public:
    static constexpr int kRenewSeconds = 28 * 60;
    static constexpr int kLongestRetrySeconds = 300;

    explicit ImapWatch(ImapWatchContext ctx);
    ~ImapWatch() override;

    // Starts, keeps or ends the accounts' connections as wanted() and the
    // accounts say now (an account whose server, login, folder or security
    // changed is connected afresh), and runs a check that news asked for
    // while another one was running. Called after each check, each minute
    // and after the settings changed.
    void Refresh();
    // Ends every connection (logging out where one is idling).
    void StopAll();
    // The accounts idling now.
    int Idling() const;

    struct Watcher;

private:
    void checkSoon();

    ImapWatchContext ctx_;
    std::vector<std::unique_ptr<Watcher>> watchers_;
    std::unique_ptr<Timer> checkTimer_;
    bool checkPending_ = false;
    bool refreshing_ = false; // a refresh from a wait inside another one does nothing
};

} // namespace tessaly
