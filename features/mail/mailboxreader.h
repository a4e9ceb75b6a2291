#pragma once
// What the mail check asks of one mailbox, whatever the protocol that reads
// it: log in, how many messages there are, their sizes and unique IDs, the
// header or the whole of message n, and close. Messages are numbered from 1
// in the order the server gives them for as long as the login lasts.

#include <QHash>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace tessaly {

class CPOPAccount;

class MailboxReader {
public:
    // How a login ended.
    enum class Login {
        Done,    // logged in; MessageCount() holds the mailbox's count
        Refused, // the server refused the user name or password
        Failed,  // no connection, or it broke off during the login
        NoCount  // logged in, but the message count never came
    };
    // The answer to one header request.
    struct HeaderAnswer {
        // TooBig: the answer was larger than a header may be; it was read
        // to its end and dropped, and the mailbox can be read on.
        enum class Status { Answered, Refused, NoAnswer, TooBig };
        Status status = Status::NoAnswer;
        QString header; // as the server sent it, status line first (when answered)
    };

    virtual ~MailboxReader() = default;

    // Ready for a new check: any connection left from before is dropped.
    virtual void Prepare() = 0;
    // Connects to the account's mailbox and logs in, waiting up to
    // `countWait` seconds for the message count once the login went through.
    virtual Login LogIn(const CPOPAccount& account, double countWait) = 0;
    // Why the last login was refused, when the reader knows more than "the
    // user name or password" (an OAuth 2.0 sign-in); empty otherwise.
    virtual QString LoginProblem() const { return {}; }
    // The count the last successful login reported (kept until the next one).
    virtual int MessageCount() const = 0;
    // Every message's size by number; empty when the server did not list them.
    virtual QHash<int, std::int32_t> Sizes() = 0;
    // The messages' unique IDs by number, as the server names them; empty
    // when it does not.
    virtual QHash<int, QString> UniqueIds(int count) = 0;
    // True when the server answers several header requests sent at once.
    virtual bool OffersBatches() = 0;
    // The headers of `numbers` asked for at once; each answer that arrived
    // goes into `answers` under its message number.
    virtual void RequestHeaders(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) = 0;
    // The header of message `m`, asked for on its own.
    virtual HeaderAnswer Header(int m) = 0;
    // The whole of message `m`; none when it could not be read.
    virtual std::optional<QString> Message(int m) = 0;
    // The whole of each of `numbers`, asked for at once (only where
    // OffersBatches() holds); each message whose own complete answer arrived
    // goes into `texts` under its number.
    virtual void RequestMessages(const QList<int>& numbers, QHash<int, QString>& texts) = 0;
    // Logs out and closes the connection.
    virtual void Close() = 0;
};

} // namespace tessaly
