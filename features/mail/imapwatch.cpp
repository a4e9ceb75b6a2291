#include "features/mail/imapwatch.h"

#include "platform/eventpump.h"
#include "platform/imapclient.h"
#include "state/appstate.h"
#include "state/mailsecurity.h"
#include "state/signinsettings.h"

#include <QScopedValueRollback>
#include <algorithm>

namespace tessaly {

namespace {
const QString kCRLF = QStringLiteral("\r\n");

// What the connection depends on: a change means connecting afresh.
struct Target {
    QString server;
    int port = 0;
    QString user;
    QString password;
    QString folder;
    Security security = Security::Automatic;
    QString caFile;
    bool oauth = false; // signs in with an access token
    bool operator==(const Target&) const = default;
};

Target targetOf(const CPOPAccount& a, const SettingsStore* store) {
    return {a.Server(),
            a.MailPort(),
            a.Username(),
            a.Password(),
            ReadImapFolder(store, a.Name()),
            PopSecurityForCheck(store, a.Name()),
            store ? LoadMailSecurity(*store).caFile : QString(),
            store && LoadOAuthSettings(*store, SignInTarget{a.Name()}).on};
}
} // namespace

// One account's idling connection.
struct ImapWatch::Watcher : QObject {
    Watcher(ImapWatch& owner, const QString& account, Target target)
        : owner_(owner), ctx_(owner.ctx_), account_(account), target_(std::move(target)),
          client_(ctx_.pump, ctx_.links), retry_(ctx_.pump.createTimer()), renew_(ctx_.pump.createTimer()) {
        connect(retry_.get(), &Timer::timeout, this, [this] {
            retry_->stop();
            open();
        });
        renew_->setInterval(kRenewSeconds * 1000);
        connect(renew_.get(), &Timer::timeout, this, [this] { renewIdle(); });
        connect(&client_, &ImapClient::idleNews, this, [this] { owner_.checkSoon(); });
        connect(&client_, &ImapClient::idleEnded, this, [this](int) { lost(client_.LastFailure()); });
        if (ctx_.terminal) {
            connect(&client_, &ImapClient::lineSent, this,
                    [this](const QString& t) { ctx_.terminal(QStringLiteral("IMAP IDLE Sent: ") + t + kCRLF); });
            connect(&client_, &ImapClient::lineReceived, this,
                    [this](const QString& t) { ctx_.terminal(QStringLiteral("IMAP IDLE Recv: ") + t + kCRLF); });
        }
    }
    ~Watcher() override { client_.Abort(); }

    // Connects, logs in, opens the folder and starts idling.
    void open() {
        if (busy_ || unsupported_)
            return;
        busy_ = true;
        client_.Abort();
        client_.SetHost(target_.server);
        client_.SetPort(target_.port > 0 ? target_.port
                                         : (target_.security == Security::Tls ? kImapTlsPort : ImapClient::kImapPort));
        client_.SetSecurity(target_.security);
        client_.SetCaFile(target_.caFile);
        int result = client_.Connect();
        const sasl::BearerSource bearer =
            target_.oauth && ctx_.bearerFor ? ctx_.bearerFor(account_) : sasl::BearerSource();
        if (result == 0)
            result = bearer ? client_.LoginOAuth(target_.user, bearer) : client_.Login(target_.user, target_.password);
        if (result == 0)
            result = client_.Examine(target_.folder);
        if (result == 0)
            result = client_.StartIdle();
        busy_ = false;
        if (result == ImapClient::kNotOffered) {
            // Nothing to retry: the schedule's checks read this account.
            unsupported_ = true;
            client_.Abort();
            ctx_.activity.LogActivity(account_ + QStringLiteral(": the server does not offer IMAP IDLE; new mail "
                                                                "is found by the scheduled checks"));
            return;
        }
        if (result != 0) {
            const QString why = client_.LastFailure();
            client_.Abort();
            lost(why);
            return;
        }
        retrySeconds_ = 1;
        renew_->start();
        if (std::exchange(outage_, false)) {
            ctx_.activity.LogActivity(account_ + QStringLiteral(": push mail connection is back"));
            // Mail that came while it was away is found now, not at the next scheduled check.
            owner_.checkSoon();
        } else if (!told_) {
            told_ = true;
            ctx_.activity.LogActivity(account_ + QStringLiteral(": waiting for new mail in ") + target_.folder +
                                      QStringLiteral(" (IMAP IDLE)"));
        }
    }

    // A connection that ended or could not be made: tried again later.
    void lost(const QString& why) {
        renew_->stop();
        client_.Abort();
        if (!outage_) {
            outage_ = true;
            ctx_.activity.LogActivity(account_ + QStringLiteral(": push mail connection lost") +
                                      (why.isEmpty() ? QString() : QStringLiteral(" (") + why + QLatin1Char(')')) +
                                      QStringLiteral("; trying again"));
        }
        retry_->setInterval(retrySeconds_ * 1000);
        retry_->start();
        retrySeconds_ = std::min(retrySeconds_ * 2, kLongestRetrySeconds);
    }

    // The server may end an IDLE after 30 minutes: it is ended and begun
    // again before that.
    void renewIdle() {
        if (busy_)
            return;
        busy_ = true;
        int result = client_.StopIdle();
        if (result == 0)
            result = client_.StartIdle();
        busy_ = false;
        if (result != 0)
            lost(client_.LastFailure());
    }

    // Logs out of an idling connection and waits for nothing more.
    void close() {
        retry_->stop();
        renew_->stop();
        if (busy_)
            return; // the step under way ends on its own; the watcher goes once it is done
        if (client_.Idling() && client_.StopIdle() == 0)
            client_.Logout();
        client_.Abort();
    }

    ImapWatch& owner_;
    ImapWatchContext& ctx_;
    QString account_;
    Target target_;
    ImapClient client_;
    std::unique_ptr<Timer> retry_;
    std::unique_ptr<Timer> renew_;
    int retrySeconds_ = 1;
    bool outage_ = false;
    bool told_ = false;
    bool busy_ = false;
    bool unsupported_ = false;
};

ImapWatch::ImapWatch(ImapWatchContext ctx) : ctx_(std::move(ctx)), checkTimer_(ctx_.pump.createTimer()) {
    checkTimer_->setInterval(0);
    connect(checkTimer_.get(), &Timer::timeout, this, [this] {
        checkTimer_->stop();
        if (checkPending_ && ctx_.checkNow && ctx_.checkNow())
            checkPending_ = false;
        // Otherwise another check is running; Refresh() after it runs this one.
    });
}

ImapWatch::~ImapWatch() = default;

void ImapWatch::checkSoon() {
    checkPending_ = true;
    // Not from inside the connection's own signal: the check starts once
    // the event loop is free.
    checkTimer_->start();
}

void ImapWatch::Refresh() {
    if (refreshing_)
        return;
    const QScopedValueRollback<bool> guard(refreshing_, true);
    const bool wanted = ctx_.wanted && ctx_.wanted();
    std::vector<std::unique_ptr<Watcher>> kept;
    QList<std::pair<QString, Target>> wantedTargets;
    if (wanted)
        for (const CPOPAccount& a : ctx_.accounts)
            if (a.CheckMail() && ReadMailProtocol(ctx_.store, a.Name()) == MailProtocol::Imap &&
                !(ctx_.signInNeeded && !ctx_.signInNeeded(a.Name()).isEmpty()))
                wantedTargets.append({a.Name(), targetOf(a, ctx_.store)});
    for (auto& w : watchers_) {
        const bool stays = std::any_of(wantedTargets.cbegin(), wantedTargets.cend(),
                                       [&](const auto& t) { return t.first == w->account_ && t.second == w->target_; });
        if (stays || w->busy_) {
            // One in the middle of a step is looked at again at the next refresh.
            kept.push_back(std::move(w));
        } else {
            w->close();
        }
    }
    watchers_ = std::move(kept);
    for (const auto& [name, target] : wantedTargets) {
        const bool known = std::any_of(watchers_.cbegin(), watchers_.cend(),
                                       [&](const auto& w) { return w->account_ == name && w->target_ == target; });
        if (known)
            continue;
        watchers_.push_back(std::make_unique<Watcher>(*this, name, target));
        watchers_.back()->open();
    }
    if (checkPending_)
        checkTimer_->start();
}

void ImapWatch::StopAll() {
    for (auto& w : watchers_)
        w->close();
    watchers_.clear();
}

int ImapWatch::Idling() const {
    return static_cast<int>(
        std::count_if(watchers_.cbegin(), watchers_.cend(), [](const auto& w) { return w->client_.Idling(); }));
}

} // namespace tessaly
