#pragma once
// A mailbox read over IMAP without changing it: the folder is opened with
// EXAMINE, so no message is marked seen. Messages are numbered 1..n in the
// order of the folder's message numbers at the login; each one's unique ID
// names the folder, its UIDVALIDITY and its UID, so a folder whose
// UIDVALIDITY changed gives new IDs (the inbox then knows its mail by the
// Message-ID). Headers and messages are fetched by UID in sets, each one
// counting as soon as its own answer arrived.
//
// The header answer looks like a POP3 one, "+OK <size> octets" and then the
// header lines, so the mail check reads it the same way; the size is the
// server's RFC822.SIZE.

#include "features/mail/mailboxreader.h"
#include "features/mail/mailcontext.h"
#include "platform/imapclient.h"

#include <QObject>
#include <functional>

namespace tessaly {

class ImapReader : public QObject, public MailboxReader {
public:
    // Told when a mailbox is read without encryption because its server
    // offers none.
    using ClearTextNotice = std::function<void(const QString& account, const QString& server)>;
    // The folder an account reads; empty: INBOX.
    using FolderFor = std::function<QString(const CPOPAccount&)>;

    // `ctx` and `links` must outlive the reader. The time-outs are the POP3
    // control's when `ctx` holds one.
    ImapReader(MailContext& ctx, LinkFactory& links, FolderFor folderFor, ClearTextNotice readInClear);

    void Prepare() override;
    Login LogIn(const CPOPAccount& account, double countWait) override;
    QString LoginProblem() const override { return loginProblem_; }
    int MessageCount() const override { return count_; }
    QHash<int, std::int32_t> Sizes() override;
    QHash<int, QString> UniqueIds(int count) override;
    bool OffersBatches() override { return true; }
    void RequestHeaders(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) override;
    HeaderAnswer Header(int m) override;
    std::optional<QString> Message(int m) override;
    void RequestMessages(const QList<int>& numbers, QHash<int, QString>& texts) override;
    void Close() override;

    // The client beneath, for a test's look at its state.
    const ImapClient& Client() const { return client_; }

    // The unique ID of message `uid` in `folder` of UIDVALIDITY `validity`.
    static QString UniqueId(const QString& folder, quint32 validity, quint32 uid);

private:
    // Fetches the headers of `numbers`; the answers of those whose answer
    // arrived, and Refused for those the server gave none for while the
    // connection lasted.
    void headers(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers);
    quint32 uidOf(int m) const;
    // A failed step's line in the activity log: socket errors as the POP3
    // side writes them, anything else with the account's name.
    void report(int result);
    void terminal(const QString& line);

    QString loginProblem_;
    MailContext& ctx_;
    ImapClient client_;
    FolderFor folderFor_;
    ClearTextNotice readInClear_;
    QString accountName_;
    QString folder_;
    quint32 uidValidity_ = 0;
    QList<ImapClient::MessageInfo> messages_;
    int count_ = 0;
};

} // namespace tessaly
