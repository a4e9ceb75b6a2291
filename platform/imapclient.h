#pragma once
// An IMAP4rev1 client (RFC 3501) for reading a mailbox without changing it,
// over a LinkSession. Every step is blocking in style: it writes its command
// and sleeps in the event pump until the tagged answer arrives, with the idle
// time-out (no byte for Timeout() seconds) and a deadline for the whole
// command. Steps return 0 or one of the negative outcomes below, or else a
// number of the socket error table (the connection is then gone).
//
// Nothing here sets a flag on the server: folders are opened with EXAMINE
// (read-only) and message text is fetched with BODY.PEEK.
//
// IDLE (RFC 2177): StartIdle() sends IDLE and returns once the server is
// idling. From then on nothing waits: the bytes arriving are read as they
// come, and idleNews() tells of new, expunged or changed messages, until
// StopIdle() ends the idling with DONE, or idleEnded() tells that the
// connection or the idling ended on the server's side.

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/imapreplies.h"
#include "platform/sasloauth.h"
#include "platform/linksession.h"
#include "platform/tlschoice.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <cstdint>
#include <optional>

namespace tessaly {

class ImapClient : public QObject {
    Q_OBJECT
public:
    // The plain IMAP port; the TLS port is kImapTlsPort (platform/tlschoice.h).
    static constexpr int kImapPort = 143;
    // The largest header and the largest message kept; a larger one is read
    // to its end, dropped and flagged TooBig.
    static constexpr qint64 kMaxHeader = 1 << 20;
    static constexpr qint64 kMaxMessage = 64 << 20;

    // Outcomes of a step besides 0 (done) and the socket error numbers.
    // The server answered NO or BAD (a refused login, a folder that does not
    // exist, a refused fetch); the connection is still usable.
    static constexpr int kRefused = -1;
    // The connection could not be secured: the handshake failed, or STARTTLS
    // was required and the server does not offer it. The connection is gone.
    static constexpr int kSecureFailed = LinkSession::kSecureFailed;
    // The server sent something that is not IMAP (or beyond the reader's
    // bounds), or said BYE; the connection was dropped.
    static constexpr int kUnreadable = -3;
    // The server does not offer what the step needs (IDLE; a login method
    // it allows); nothing was sent.
    static constexpr int kNotOffered = -4;

    // What EXAMINE reported of the folder.
    struct Mailbox {
        QString name;              // as asked for
        qint64 exists = 0;         // messages in the folder
        qint64 recent = 0;         // of those, \Recent
        quint32 uidValidity = 0;   // 0 when the server gave none
        quint32 uidNext = 0;       // 0 when the server gave none
        quint64 highestModSeq = 0; // CONDSTORE servers only; else 0
        bool readOnly = false;     // the server confirmed [READ-ONLY]
    };
    // One message of the folder, in message-number order.
    struct MessageInfo {
        quint32 uid = 0;  // 0: the server gave none for this number
        qint64 size = -1; // RFC822.SIZE; -1 when not given
    };
    // What one message's FETCH answer brought.
    struct Fetched {
        QByteArray text;     // the header or the whole message, as sent
        bool tooBig = false; // larger than the limit: read and dropped
        qint64 size = 0;     // the literal's size as announced
    };

    ImapClient(EventPump& pump, LinkFactory& links, QObject* parent = nullptr);
    ~ImapClient() override;

    QString Host() const { return host_; }
    void SetHost(const QString& v) { host_ = v; }
    int Port() const { return port_; }
    void SetPort(int v) { port_ = v; }
    Security SecurityChoice() const { return security_; }
    void SetSecurity(Security v) { security_ = v; }
    // An extra file of trusted certificates (PEM) besides the system's.
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& v) { caFile_ = v; }
    // Seconds a step waits without a byte from the server (default 60).
    double Timeout() const { return timeout_; }
    void SetTimeout(double v) { timeout_ = v; }
    // Seconds a command may take from being sent to its tagged answer
    // however steadily its answer trickles; a body fetch gets
    // DownloadDeadline() for each message instead. 0 or less: no limit.
    double CommandDeadline() const { return commandDeadline_; }
    void SetCommandDeadline(double v) { commandDeadline_ = v; }
    double DownloadDeadline() const { return downloadDeadline_; }
    void SetDownloadDeadline(double v) { downloadDeadline_ = v; }
    // The largest header and message kept (default kMaxHeader, kMaxMessage).
    qint64 HeaderLimit() const { return headerLimit_; }
    void SetHeaderLimit(qint64 v) { headerLimit_ = v; }
    qint64 MessageLimit() const { return messageLimit_; }
    void SetMessageLimit(qint64 v) { messageLimit_ = v; }
    // A flag that ends a waiting step early when it becomes true.
    void SetCancelFlag(const bool* flag) { cancel_ = flag; }

    // Connects, secures the connection as chosen (TLS from the first byte on
    // kImapTlsPort or with Security::Tls, else STARTTLS when offered or
    // required), reads the greeting and the capabilities. 0 when ready to
    // log in (or already logged in: the greeting was PREAUTH).
    int Connect();
    // True when the connection goes in clear because the server offered no
    // STARTTLS under the "automatic" choice (clearText() was emitted).
    bool ReadInClear() const { return readInClear_; }
    // True once the connection is encrypted.
    bool Encrypted() const { return link_.Encrypted(); }
    // LOGIN, or AUTHENTICATE PLAIN where the server disables LOGIN. kRefused
    // when the server refused the user name or password.
    int Login(const QString& user, const QString& password);
    // Instead of Login: AUTHENTICATE with an OAuth 2.0 access token from
    // `bearer` (OAUTHBEARER or XOAUTH2, whichever the server lists). A token
    // the server refuses is renewed and tried once more. kRefused when the
    // server refused it or no token could be had, LastFailure() saying why;
    // kNotOffered when the server lists neither mechanism.
    int LoginOAuth(const QString& user, const sasl::BearerSource& bearer);
    // EXAMINE `folder` (INBOX when empty). kRefused when the server refused
    // it (no such folder).
    int Examine(const QString& folder);
    const Mailbox& CurrentMailbox() const { return mailbox_; }
    // The UID and size of every message of the examined folder (FETCH 1:*),
    // index 0 being message 1, up to the highest number answered and at most
    // kMaxMessages. A number the server did not answer for keeps uid 0.
    static constexpr qint64 kMaxMessages = 1 << 20;
    int FetchUidsAndSizes(QList<MessageInfo>& messages);
    // The headers (BODY.PEEK[HEADER]) or the whole messages (BODY.PEEK[]) of
    // `uids`, asked for with one UID FETCH. Each message whose own complete
    // FETCH answer arrived goes into `out` under its UID, also when the
    // connection broke later.
    int FetchHeaders(const QList<quint32>& uids, QHash<quint32, Fetched>& out);
    int FetchMessages(const QList<quint32>& uids, QHash<quint32, Fetched>& out);
    // The flags of `uids` (upper-cased: "\SEEN", "\DELETED", ...), by UID.
    int FetchFlags(const QList<quint32>& uids, QHash<quint32, QList<QByteArray>>& flags);
    // NOOP: lets the server report changes (EXISTS, EXPUNGE).
    int Noop();

    // Starts idling; kNotOffered when the server does not list IDLE.
    int StartIdle();
    // Sends DONE and waits for the end of the IDLE command.
    int StopIdle();
    bool Idling() const { return idling_; }

    // LOGOUT, then the connection is closed (also when LOGOUT failed).
    int Logout();
    // Drops the connection without a word to the server.
    void Abort();
    bool IsOpen() const { return link_.IsOpen(); }

    // The server's capabilities as last reported, upper-cased ("IMAP4REV1",
    // "IDLE", "AUTH=PLAIN", ...).
    QList<QByteArray> Capabilities() const { return capabilities_; }
    // True when `capability` is among them (letter case does not matter).
    bool Offers(const QByteArray& capability) const;
    // Why the last step failed, in words (the server's text for a refusal,
    // the TLS failure, the socket error), for the activity log.
    QString LastFailure() const { return lastFailure_; }

    // "1:5,9": the UIDs, sorted, runs written as ranges.
    static QByteArray UidSet(QList<quint32> uids);
    // `name` as a mailbox argument: modified UTF-7 (RFC 3501 5.1.3) for
    // characters beyond ASCII, "&" as "&-", then quoted.
    static QByteArray MailboxArgument(const QString& name);
    static QByteArray ModifiedUtf7(const QString& name);

signals:
    // A line sent, as the terminal may show it: the password and the
    // AUTHENTICATE answer are "****".
    void lineSent(const QString& text);
    // A response received, its literals abbreviated to their size.
    void lineReceived(const QString& text);
    // The connection goes in clear because the server offers no TLS.
    void clearText();
    void error(int number, const QString& description);
    void socketClosed();
    // While idling: the server told of new, expunged or changed messages
    // (EXISTS, EXPUNGE, RECENT, FETCH). CurrentMailbox().exists is updated.
    // News that came while StartIdle() or StopIdle() waited is told too,
    // once the caller is back in the event loop.
    void idleNews();
    // While idling: the connection closed or failed (a socket error number),
    // the server said BYE (kUnreadable) or ended the IDLE command itself
    // (kRefused). Idling() is false from then on.
    void idleEnded(int error);

private:
    struct Command;
    int run(Command& command);
    // Waits for the next complete response; 0, or LinkSession::WaitFor's failure.
    int nextResponse(std::optional<imap::Response>& got, qint64 deadlineMs);
    int readGreeting();
    int askCapabilities();
    int startTls();
    int authenticatePlain(const QString& user, const QString& password);
    int fetchBodies(const QList<quint32>& uids, const QByteArray& section, qint64 limit, double deadline,
                    QHash<quint32, Fetched>& out);
    void untagged(const imap::Response& response);
    void takeCapabilities(const QList<QByteArray>& words);
    void onIdleBytes();
    void endIdle(int error);
    void newsLater();
    int fail(int number, const QString& reason);
    QByteArray nextTag();
    void showReceived(const imap::Response& response);

    EventPump& pump_;
    LinkSession link_;
    imap::ResponseReader reader_;
    QString host_;
    int port_ = kImapPort;
    Security security_ = Security::Automatic;
    QString caFile_;
    double timeout_ = 60.0;
    double commandDeadline_ = 60.0;
    double downloadDeadline_ = 300.0;
    qint64 headerLimit_ = kMaxHeader;
    qint64 messageLimit_ = kMaxMessage;
    const bool* cancel_ = nullptr;
    QList<QByteArray> capabilities_;
    Mailbox mailbox_;
    QString lastFailure_;
    bool readInClear_ = false;
    bool preauth_ = false;
    bool loggedIn_ = false;
    bool idling_ = false;
    QByteArray idleTag_;
    int tagCounter_ = 0;
};

} // namespace tessaly
