#pragma once
// The mail check: connect, log in to every enabled account, read headers,
// download small bodies, drop what the filters match, turn new mail into
// pages, send them and hang up.

#include "features/mail/mailboxreader.h"
#include "features/mail/mailcontext.h"
#include "features/paging/pageledger.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include "state/remotesafety.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>

namespace tessaly {

class CMail;
class CPOPAccount;
class CPager;
struct KnownHeader;

// What the last check achieved; `tessly --check` turns it into its exit status.
struct CheckOutcome {
    bool connected = false;
    bool cancelled = false;
    // Accounts whose login failed or whose reading broke off (no answer,
    // a socket error, a header request the server refused).
    int accountsNotRead = 0;
    // Pages the services did not deliver (also those never tried).
    int pagesNotDelivered = 0;
    // Settings the check could not use (a security entry naming no account).
    int settingsFaults = 0;
    bool Clean() const {
        return connected && !cancelled && accountsNotRead == 0 && pagesNotDelivered == 0 && settingsFaults == 0;
    }
};

class CheckSession : public QObject {
    Q_OBJECT
public:
    static constexpr double kLoginWait = 60; // seconds
    // Checks in which a message's page may fail before it is given up.
    static constexpr int kMaxPageAttempts = 3;

    explicit CheckSession(MailContext ctx);
    ~CheckSession() override;

    // One check. `download`: read and download messages (else only count
    // them); `page`: compose and send pages.
    void Check(bool download, bool page);

    // The mailbox total the last counting check saw.
    std::int16_t PreviousTotal() const { return previousTotal_; }
    // True while a check runs.
    bool Running() const { return running_; }
    // The outcome of the last check (of the one running, while it runs).
    const CheckOutcome& LastOutcome() const { return outcome_; }

    // The page text of one message: date, sender, subject and, when asked,
    // the body after its header block with CRs removed.
    static QString PageText(const CMail& mail, bool withBody);
    // The part of a retrieved message after its header block.
    static QString BodyAfterHeaders(const QString& message);

private:
    // Why a header request gave no message key.
    enum class HeaderFault { None, NoAnswer, Refused, NoMessageId, TooBig };
    // Message numbers of one account that met a fault in this check.
    struct AccountFaults {
        QList<int> refused;
        QList<int> noMessageId;
        QList<int> tooBig; // headers too big to read, passed over
        int noAnswer = 0;  // the message whose request went unanswered
    };
    // One account's reading in one check, from its login on; made afresh
    // for every account.
    struct AccountRead {
        AccountRead(CPOPAccount& a, int messages) : account(a), count(messages) {}
        CPOPAccount& account;
        int count; // messages in the mailbox
        // Message number -> unique ID, prefixed with the account's server and
        // user so that two mailboxes never share one; empty when the server
        // does not name its messages.
        QHash<int, QString> uids;
        // What a remembered spam verdict must match to stand (the filters' fingerprint).
        QString rules;
        qint64 sizeLimit = 0; // bytes; larger messages are not downloaded
        // Message number -> size, asked for once, when a header names none.
        std::optional<QHash<int, std::int32_t>> sizes;
        // Whether the server takes header requests in batches, once asked.
        std::optional<bool> batches;
        QHash<int, MailboxReader::HeaderAnswer> batched; // answers not yet taken, by message number
        QHash<int, QString> fetched;                     // messages downloaded ahead and not yet taken, by number
        AccountFaults faults;
    };
    // What reading the accounts adds up to in one check.
    struct ReadTally {
        bool failure = false;       // a download fell short: nothing is purged
        bool countFailure = false;  // a count is missing: no new-mail signal
        int newCount = 0;           // new messages of this check that the filters let through
        long long total = 0;        // messages counted, when only counting
        bool straySecurity = false; // a security entry names no account
    };

    void readAccounts(bool download);
    bool reportStraySecurityEntries();
    bool securityReadable(const CPOPAccount& account, bool strays);
    // False when the reading stops before this account (cancelled).
    bool readAccount(CPOPAccount& account, bool download, ReadTally& tally);
    void readMailbox(CPOPAccount& account, ReadTally& tally);
    void finishReading(bool download, const ReadTally& tally);
    QHash<int, QString> uniqueIds(const CPOPAccount& account, int count);
    void readMessages(AccountRead& read, ReadTally& tally);
    // What is remembered of message `n`; none: its header is asked for.
    std::optional<Inbox::KnownEntry> knownFor(const AccountRead& read, int n) const;
    // Asks for the headers of `m` and the next unknown messages at once,
    // where the server allows it.
    void requestAhead(AccountRead& read, int m);
    // A message known by unique ID, kept without a header request; its key.
    QString keepKnown(const QString& uid, const Inbox::KnownEntry& known);
    QString readHeader(AccountRead& read, int m, HeaderFault& fault);
    // Downloads a new message and drops it when the filters call it spam.
    void takeMessage(AccountRead& read, int m, const QString& key, ReadTally& tally);
    void download(AccountRead& read, int m, const QString& key);
    // Downloads `m` and the next messages that will be downloaded too, in
    // one batch; what arrived waits in read.fetched.
    void downloadAhead(AccountRead& read, int m);
    // Whether message `n`, not read yet, will be downloaded when its turn
    // comes (a guess: a wrong one costs a download, never a page); nullopt
    // while nothing is known of it yet (its header not asked for).
    std::optional<bool> willDownload(AccountRead& read, int n);
    std::int32_t listedSize(AccountRead& read, int m);
    void reportFaults(const CPOPAccount& account, const AccountFaults& faults);
    // Hands message `m`'s verdict to whoever asked for verdicts.
    void tell(const AccountRead& read, int m, const QString& verdict);
    void pageNewMail(bool page);
    // One page per new message (the alphanumeric pagers), or one numeric
    // notice for all of them.
    void pageEachMessage(const CPager& pager);
    // One notice of how many messages wait.
    void pageNotice(const CPager& pager);
    // Queues a page for the pager; its queue position.
    int queuePage(const CPager& pager, const QString& address, const QString& text, bool sent = false);
    void hangUpThenSend(const QHash<int, QStringList>& messages);
    // Sends the queue; each page of `messages` (queue position -> message
    // IDs) that went out marks its messages paged, each that failed counts
    // an attempt against them.
    void sendPages(const QHash<int, QStringList>& messages);
    // A page not delivered on the pagers of the chain tried so far.
    struct Unsent {
        QString text;        // as pager 1 got it
        bool digits = false; // a numeric page's digits
        QStringList ids;
        QStringList tried;
    };
    // One walk of the queue on pager `step` of `chain` (0: pager 1). With
    // `unsent`, a page not delivered goes there, or (on the last pager of
    // the chain) is given up; without, a failed page counts an attempt.
    void sendRound(const QHash<int, QStringList>& messages, const QList<const CPager*>& chain, int step,
                   const QHash<int, Unsent>& carried, QList<Unsent>* unsent, QList<UndeliveredPage>* undelivered);
    // The journey fields of page `position` on pager `step` of the walk.
    PageLedger::Journey journeyOf(const QStringList& ids, const QList<const CPager*>& chain, int step) const;
    void hangUp();
    // Ends a check: the minute timer runs again, the outcome is complete.
    void finish();
    // Logs once per check that the user cancelled it, when so.
    void noteCancel();
    void pause(double seconds);
    bool guarded(const char* what, const std::function<void()>& step);

    MailContext ctx_;
    // The readers of POP3 and IMAP mailboxes (none in a run without their
    // controls), and the one reading the account at hand.
    std::unique_ptr<MailboxReader> pop3_;
    std::unique_ptr<MailboxReader> imap_;
    MailboxReader* reader_ = nullptr;
    // The reader for the account, or none (said in the log) when it cannot be read.
    MailboxReader* readerFor(const CPOPAccount& account);
    bool running_ = false;
    CheckOutcome outcome_;
    bool toldCancel_ = false;
    std::int16_t previousTotal_ = 0;
    QSet<QString> toldClear_;        // accounts already reported as read in clear
    QHash<QString, QDateTime> seen_; // message ID -> when this run first saw it on its server
    QDateTime queued_;               // when the pages of this check were queued
    // How the mailbox being read is secured; the messages it lists take it.
    MailTransport transport_ = MailTransport::Unknown;
    bool readInClear_ = false; // the server of this login offered no TLS
    // Header requests go out in batches of this many (servers that allow it).
    static constexpr int kHeaderBatch = 50;
    // Downloads asked for at once: at most this many, and no more than
    // kDownloadBatchBytes of listed size beyond the first.
    static constexpr int kDownloadBatch = 32;
    static constexpr qint64 kDownloadBatchBytes = 4 << 20;
};

} // namespace tessaly
