#pragma once
// WCTP 1.3 (the Wireless Communications Transfer Protocol): the XML
// operations a paging carrier takes over HTTP(S), and their answers.
//
// A page goes out as one wctp-SubmitRequest; the carrier answers with a
// wctp-Confirmation holding wctp-Success or wctp-Failure. When the page asks
// for delivery notification, the carrier later queues a wctp-StatusInfo for
// the sender, which a wctp-PollForMessages collects.
//
// Everything read here comes from the network: the readers take at most
// kMaxAnswer bytes, refuse a document type with declarations of its own
// (no entity is ever expanded) and never fail by more than "unreadable".

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;

class QTimer;

namespace tessaly {
class EventPump;
}

namespace tessaly::wctp {

// Longest answer the readers take.
constexpr qsizetype kMaxAnswer = 64 * 1024;

// The protocol version every operation names, and its document type.
inline constexpr char kVersion[] = "wctp-dtd-v1r3";
inline constexpr char kDtdUrl[] = "http://dtd.wctp.org/wctp-dtd-v1r3.dtd";

// Date and time as operations carry them: UTC, "yyyy-MM-ddTHH:mm:ss".
QString Timestamp(const QDateTime& when);

struct SubmitValues {
    QString senderId;     // the carrier's account name for this gateway
    QString securityCode; // its password; left out when empty
    QString recipientId;  // the pager's ID (PIN) at the carrier
    QString text;         // the alphanumeric page
    // Identifies the page in later status notifications; left out when
    // empty.
    QString messageId;
    bool notifyWhenDelivered = false;
    QDateTime submitted; // the submit time stamp (any time zone)
};

// The complete request body (UTF-8). Characters XML cannot carry become
// spaces; an invalid submit time is taken as now.
QByteArray SubmitRequest(const SubmitValues& values);

enum class Outcome {
    Success,   // the carrier took the page
    Permanent, // refused; sending the same page again cannot succeed
    Temporary, // refused for now; worth another try later
    Unreadable // not a confirmation at all
};

struct Confirmation {
    Outcome outcome = Outcome::Unreadable;
    int code = 0;       // successCode or errorCode; 0 when missing
    QString text;       // successText or errorText, else the element's text
    QString trackingId; // the carrier's number for the page, when given
};

// Whether a wctp-Failure errorCode means "never retry".
bool IsPermanent(int errorCode);

Confirmation ReadConfirmation(const QByteArray& xml);

// Delivery notifications are collected by polling.
struct PollValues {
    QString pollerId;
    QString securityCode; // left out when empty
    int maxMessages = 20;
};
QByteArray PollForMessages(const PollValues& values);

enum class Delivery {
    Unknown,   // no notification (yet), or one this reader does not know
    ToNetwork, // the carrier queued the page for the pager
    ToHandset, // the pager received (or its user read) the page
    Failed     // the carrier gave up on the page
};

struct StatusNotice {
    QString messageId;
    Delivery delivery = Delivery::Unknown;
    QString type; // the notification type as the carrier wrote it
};

// The status notifications in a wctp-PollResponse; empty for anything else.
QList<StatusNotice> ReadPollResponse(const QByteArray& xml);

// The furthest state the notices report for one page.
Delivery StatusOf(const QList<StatusNotice>& notices, const QString& messageId);

} // namespace tessaly::wctp

// ---------------------------------------------------------------------------
// Sending one operation to a carrier's endpoint.

namespace tessaly::wctp {

struct SendResult {
    enum Kind { Delivered, PermanentFailure, TemporaryFailure };
    Kind kind = TemporaryFailure;
    int code = 0;       // the carrier's success or error code, 0 when none
    QString text;       // the carrier's text, or why the exchange failed
    QString trackingId; // the carrier's number for the page, when given
    int httpStatus = 0; // 0 when no HTTP answer came
    // The answer as received (at most kMaxAnswer bytes), for operations
    // whose answer is no confirmation (a poll's wctp-PollResponse).
    QByteArray answer;
};

// How operations reach the carrier, one exchange at a time. The paging code
// holds a Poster; its tests hand it a scripted one that answers on the
// virtual clock.
class Poster {
public:
    virtual ~Poster() = default;
    using Done = std::function<void(const SendResult&)>;
    // Starts the exchange; `done` is called once, from the event loop (also
    // when the exchange cannot even start). An exchange still running is
    // aborted first, without calling its `done`.
    virtual void Send(const QByteArray& body, Done done) = 0;
    virtual bool Busy() const = 0;
    // Drops a running exchange without calling its `done`.
    virtual void Abort() = 0;
    // Seconds an exchange may take at most.
    virtual int Timeout() const = 0;
    // Sends and waits in `pump` for the outcome; a cancel ends the wait
    // with a temporary failure.
    SendResult SendAndWait(EventPump& pump, const QByteArray& body, const bool* cancel = nullptr);
};

// Posts operations (Content-Type text/xml) over HTTP or HTTPS. HTTPS checks the
// carrier's certificate against the system's store plus the PEM
// certificates of the CA file; redirects are not followed. Every outcome
// that is not the carrier's own permanent refusal is a temporary failure:
// no connection, a certificate problem, an HTTP error, no answer within the
// time-out, an answer over kMaxAnswer bytes or one that is no confirmation.
class WctpSender : public QObject, public Poster {
    Q_OBJECT
public:
    explicit WctpSender(QObject* parent = nullptr);
    ~WctpSender() override;

    QUrl Endpoint() const { return endpoint_; }
    void SetEndpoint(const QUrl& url) { endpoint_ = url; }
    // Seconds for the whole exchange, connecting included.
    int Timeout() const override { return timeout_; }
    void SetTimeout(int seconds) { timeout_ = seconds; }
    QString CaFile() const { return caFile_; }
    void SetCaFile(const QString& path) { caFile_ = path; }
    void SetProxy(const QNetworkProxy& proxy);

    void Send(const QByteArray& body, Done done) override;
    bool Busy() const override { return reply_ != nullptr; }
    void Abort() override;

private:
    void finish(const SendResult& result);
    void onFinished();
    void fail(const QString& reason);

    QNetworkAccessManager* net_;
    QTimer* deadline_;
    QPointer<QNetworkReply> reply_;
    Done done_;
    QByteArray answer_;
    QStringList sslTexts_;
    bool tooLong_ = false;
    bool timedOut_ = false;
    QUrl endpoint_;
    int timeout_ = 60;
    QString caFile_;
};

} // namespace tessaly::wctp
