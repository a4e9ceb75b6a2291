#pragma once
// A mailbox read over POP3: the POP3 control logs in, asks for header
// batches and retrieves messages; the raw TCP control on the same socket
// sends the list, unique-ID, capability and single header requests, whose
// answers the reply tracker collects. Writes the controls' traffic to the
// terminal and their socket errors to the activity log.

#include "features/mail/mailboxreader.h"
#include "features/mail/mailcontext.h"
#include "platform/popreplytracker.h"

#include <QObject>
#include <functional>

namespace tessaly {

class Pop3Reader : public QObject, public MailboxReader {
public:
    // Told when a mailbox is read without encryption because its server
    // offers none.
    using ClearTextNotice = std::function<void(const QString& account, const QString& server)>;

    // `ctx` must hold both controls and outlive the reader.
    Pop3Reader(MailContext& ctx, ClearTextNotice readInClear);

    void Prepare() override;
    Login LogIn(const CPOPAccount& account, double countWait) override;
    QString LoginProblem() const override { return loginProblem_; }
    int MessageCount() const override { return count_; }
    QHash<int, std::int32_t> Sizes() override;
    QHash<int, QString> UniqueIds(int count) override;
    bool OffersBatches() override;
    void RequestHeaders(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) override;
    HeaderAnswer Header(int m) override;
    std::optional<QString> Message(int m) override;
    void RequestMessages(const QList<int>& numbers, QHash<int, QString>& texts) override;
    void Close() override;

private:
    void follow();
    // USER and PASS (or AUTH with an access token) and STAT after
    // connecting; 0, or the result of the step that failed.
    int logIn(const CPOPAccount& account);
    // Sends `command` (with its line end) through the raw TCP control and
    // reads its answer and the one after it, which leaves the answer in the
    // tracker's last reply. The answer's result (0 or NegativeReply); none
    // when it did not arrive whole. `cut`, when given, tells whether the
    // answer was too big to keep whole.
    std::optional<int> exchange(const QString& command, bool* cut = nullptr);
    // True when `command`'s answer arrived whole and was positive.
    bool ask(const QString& command);
    void terminal(const QString& line);
    void socketError(const QString& logName, const QString& terminalName, int number);

    QString loginProblem_;
    MailContext& ctx_;
    PopControl& pop_;
    TcpControl& tcp_;
    ClearTextNotice readInClear_;
    PopReplyTracker replies_;
    QString lastTcpText_; // what the raw TCP control sent last, for its terminal line
    QString accountName_; // the account of the connection, for its security lines
    bool loggedIn_ = false;
    int count_ = 0;
};

} // namespace tessaly
