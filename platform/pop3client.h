#pragma once
// The POP3 client control over a LinkSession (RFC 1939).

#include "platform/bytelink.h"
#include "platform/linksession.h"
#include "platform/popcontrol.h"

#include <deque>

namespace tessaly {

class Pop3Client : public PopControl, public SocketEndpoint {
    Q_OBJECT
public:
    // Longest reply line accepted, and the largest multi-line reply.
    static constexpr qsizetype kMaxLine = 1 << 20;
    static constexpr qsizetype kMaxReply = 64 << 20;
    // The most of a header answer (TOP) that is kept; the rest is read to
    // the answer's end and dropped, and LastReplyCut() tells.
    static constexpr qsizetype kMaxHeader = 1 << 20;

    Pop3Client(EventPump& pump, LinkFactory& links, SocketRegistry& registry, QObject* parent = nullptr);
    ~Pop3Client() override;

    void Reset() override;
    int Connect() override;
    int SendUser() override;
    int SendPass() override;
    int SendStat() override;
    int SendOAuth() override;
    int MessageCount() const override { return count_; }
    int Receive() override;
    int Retrieve() override;
    int RequestHeaders(const QList<int>& numbers, QList<HeaderAnswer>& answers) override;
    int RequestMessages(const QList<int>& numbers, QList<MessageAnswer>& answers) override;
    QString MessageText() const override { return messageText_; }
    void Close() override;
    int Socket() const override { return socket_; }
    std::optional<QByteArray> Capabilities() const override { return capabilities_; }
    bool LastReplyCut() const override { return lastCut_; }

    int WriteRaw(const QByteArray& bytes) override;

private:
    struct Reply {
        bool multiLine = false;
        bool statusSeen = false;
        bool ok = false;
        bool complete = false;
        bool bounded = false; // a header answer: cut at kMaxHeader rather than failed
        bool cut = false;     // bytes past the bound were dropped
        bool midLine = false; // the start of the line being read was dropped
        int failure = 0;
        QByteArray text;
    };
    // A command awaiting its reply: its form and when its time is up.
    struct Pending {
        bool multiLine = false;
        bool bounded = false;   // see Reply::bounded
        qint64 deadlineMs = -1; // on the pump's steady clock; negative: no limit
    };
    Pending pending(const QByteArray& line, bool multiLine) const;
    int command(const QByteArray& line, bool multiLine, QByteArray* reply = nullptr);
    int readReply(QByteArray* reply);
    // Writes `verb n` for each of `numbers` at once and reads the answers in
    // order, handing each complete one to `take` (result, reply, cut).
    int batch(const char* verb, const QByteArray& suffix, const QList<int>& numbers,
              const std::function<void(int, QByteArray&, bool)>& take);
    // The message of a RETR answer: the lines after the status line, up to
    // the final ".", with the leading dot of stuffed lines removed.
    static QString unstuffed(const QByteArray& reply);
    void consume();
    int fail(int number);
    // Secures a fresh connection as chosen; false when it was given up.
    bool secureImplicit();
    bool secureAfterGreeting();
    bool refuseSecure(const QString& reason);
    void dropConnection(bool announce);
    static bool isMultiLine(const QByteArray& line);

    EventPump& pump_;
    LinkSession link_;
    SocketRegistry& registry_;
    int socket_ = 0;
    int count_ = 0;
    std::optional<QByteArray> capabilities_; // see Capabilities()
    QString messageText_;
    std::deque<Pending> awaiting_; // one entry per command still awaiting its reply
    Reply current_;
    bool lastCut_ = false;
    bool reading_ = false;
};

} // namespace tessaly
