#pragma once
// The mail check: connect, log in to every enabled account, read headers,
// download small bodies, drop what the filters match, turn new mail into
// pages, send them and hang up.

#include "features/mail/mailcontext.h"
#include "platform/popcontrol.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>

namespace tessaly {

class CPOPAccount;

// What the last check achieved; `tessly --check` turns it into its exit status.
struct CheckOutcome {
    bool connected = false;
    bool cancelled = false;
    // Accounts whose login failed or whose reading broke off (no answer,
    // a socket error, a header request the server refused).
    int accountsNotRead = 0;
    // Pages the services did not deliver (also those never tried).
    int pagesNotDelivered = 0;
    bool Clean() const { return connected && !cancelled && accountsNotRead == 0 && pagesNotDelivered == 0; }
};

class CheckSession : public QObject {
    Q_OBJECT
public:
    static constexpr double kLoginWait = 60; // seconds
    // Checks in which a message's page may fail before it is given up.
    static constexpr int kMaxPageAttempts = 3;

    explicit CheckSession(MailContext ctx);

    // One check. `download`: read and download messages (else only count
    // them); `page`: compose and send pages.
    void Check(bool download, bool page);

    // Shared with the controls' event handlers.
    bool LoggedInFlag() const { return loggedIn_; }
    QString LastReply() const { return lastReply_; }
    std::int16_t PreviousTotal() const { return previousTotal_; }
    // True while a check runs.
    bool Running() const { return running_; }
    // The outcome of the last check (of the one running, while it runs).
    const CheckOutcome& LastOutcome() const { return outcome_; }

    // The page text of one message: date, sender, subject and, when asked,
    // the body after its header block with CRs removed.
    static QString PageText(const class CMail& mail, bool withBody);
    // The part of a retrieved message after its header block.
    static QString BodyAfterHeaders(const QString& message);

private:
    // Why a header request gave no message key.
    enum class HeaderFault { None, NoAnswer, Refused, NoMessageId };
    // Message numbers of one account that met a fault in this check.
    struct AccountFaults {
        QList<int> refused;
        QList<int> noMessageId;
        int noAnswer = 0; // the message whose request went unanswered
    };

    void readAccounts(bool download);
    // 0, or the result of the login step that failed.
    int login(CPOPAccount& account);
    void readMessages(int count, bool& failure, int& newCount, AccountFaults& faults);
    // The account's unique IDs by message number ("UIDL"), each prefixed
    // with the account's server and user so that two mailboxes never share
    // one; empty when the
    // server does not name its messages.
    QHash<int, QString> readUniqueIds(const CPOPAccount& account, int count);
    // A message known by unique ID, kept without a header request; its key.
    QString keepKnown(const QString& uid, const struct KnownHeader& known);
    void reportFaults(const CPOPAccount& account, const AccountFaults& faults);
    QString readHeader(int m, HeaderFault& fault);
    // Sends `command` (with its line end) and reads its answer and a NOOP's;
    // true when the answer arrived whole and was positive (in lastReply_).
    bool ask(const QString& command);
    // True when the server takes commands in batches ("PIPELINING" in its CAPA answer).
    bool offersBatches();
    // The header requests of `numbers` in one batch; their answers go to answers_.
    void requestBatch(const QList<int>& numbers);
    void download(int m, const QString& key);
    std::int32_t listedSize(int m);
    void pageNewMail(bool page);
    // Sends the queue; each page of `messages` (queue position -> message
    // IDs) that went out marks its messages paged, each that failed counts
    // an attempt against them.
    void sendPages(const QHash<int, QStringList>& messages);
    void hangUp();
    void pause(double seconds);
    bool guarded(const char* what, const std::function<void()>& step);
    void terminal(const QString& line);
    // A control's socket error: log line, terminal line, and the check's error flag.
    void socketError(const QString& logName, const QString& terminalName, int number);

    MailContext ctx_;
    bool running_ = false;
    bool loggedIn_ = false;
    int messageCount_ = 0;
    QString response_;
    bool newResponse_ = false;
    QString lastReply_;
    int repliesCompleted_ = 0; // times a reply was complete and moved to the last reply
    CheckOutcome outcome_;
    QString lastTcpText_;
    std::int16_t previousTotal_ = 0;
    QHash<int, std::int32_t> listSizes_; // message number -> size, per account
    QHash<int, QString> uids_;           // message number -> unique ID, per account
    bool listRead_ = false;
    QString accountName_;            // the account being read, for security lines
    QSet<QString> toldClear_;        // accounts already reported as read in clear
    // Header requests go out in batches of this many (servers that allow it).
    static constexpr int kHeaderBatch = 50;
    bool batches_ = false;                          // per account
    QHash<int, PopControl::HeaderAnswer> answers_;  // message number -> its header's answer
};

} // namespace tessaly
