#pragma once
// The page ledger: a journal, one line per event, synced to disk before the
// program goes on, of every page the mail check sends:
//   {"at":"2026-12-08T09:00:00Z","event":"sending","pager":"...","ids":["<id>",...]}
//   {"at":...,"event":"delivered","ids":[...]}     (also "failed", "given-up")
//   {"at":...,"event":"recorded"}                 (also "opened", at a check's start)
// A page a carrier will send a receipt for names it on its "delivered"
// line ("service" and "receipt", the carrier's message IDs); the receipt's
// outcome follows as "handset" (it reached the pager) or "receipt-failed".
// A page's intent is on disk before it goes out and its delivery before the
// next one starts, so a run killed at any moment sends again at most the one
// page that was on its way. "recorded" says the inbox state file now holds
// every delivery above it; a run reads the deliveries after the last one
// back into the inbox. Lines it cannot read are passed over.
// A page's journey rides on its lines ("sending", "delivered", "failed",
// "given-up"), each field only when known: "date" (the mail's Date),
// "seen" (first seen on the server), "queued", "attempt" (1 on the first
// pager, 2 on the first fallback pager, ...) and "user" (the pager's name);
// "test":true marks the daily test page, which stands for no mail.

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace tessaly {

inline const QString kPageLedgerFile = QStringLiteral("page-ledger.jsonl");

// Where a page has been on its way.
struct PageJourney {
    QDateTime mailDate = {}, firstSeen = {}, queued = {};
    int attempt = 0;        // 0: not told
    QString pagerName = {}; // the pager's user name
    bool test = false;      // the daily test page
};

class PageLedger {
public:
    enum class Event { Opened, Sending, Delivered, Failed, GivenUp, Recorded, Handset, ReceiptFailed };

    // `now` gives the time stamps (UTC is written).
    PageLedger(QString path, std::function<QDateTime()> now);

    // Reads the journal and makes sure it can be written: false (with the
    // reason) when it cannot, and then nothing may be paged.
    bool Open(QString* error);
    bool IsOpen() const { return file_.isOpen(); }
    // Messages whose page was delivered (or given up) after the last
    // "recorded" line, as Open read them.
    const QStringList& Settled() const { return settled_; }

    using Journey = PageJourney;

    // Appends one event and syncs it; false (with the reason) on failure.
    bool Append(Event event, const QStringList& ids = {}, const QString& pager = {}, QString* error = nullptr);
    // The same with the service and the carrier's message IDs of a receipt.
    bool Append(Event event, const QStringList& ids, const QString& pager, const QString& service,
                const QString& receipt, QString* error, const Journey& journey = {});
    // When a message was first seen on its server, by an earlier line of
    // the journal (as Open read it, and as appended since); invalid when none says.
    QDateTime FirstSeen(const QString& id) const { return firstSeen_.value(id); }

    // A page delivered to the network whose receipt has not come, as Open
    // read them and Append added them; receipts older than kReceiptDays are
    // no longer awaited.
    struct Awaited {
        QString service;
        QString receipt;
        QString pager;
        QStringList ids;
    };
    const QList<Awaited>& AwaitedReceipts() const { return awaited_; }
    static constexpr int kReceiptDays = 7;
    // The inbox state holds everything so far: appends "recorded", and
    // shortens a long journal to its recent lines.
    bool Recorded(QString* error);
    void Close() { file_.close(); }

    QString Path() const { return path_; }

    // What the journal at `path` says, read without changing it: pages
    // delivered, failed and given up at `since` or later, and the messages
    // whose page was on its way (its last event "sending") when a run ended.
    struct Tally {
        int delivered = 0;
        int failed = 0;
        int givenUp = 0;
        int handset = 0;                       // receipts saying the page reached the pager
        int testDelivered = 0, testFailed = 0; // daily test pages (not counted above)
        QStringList pending;
        // The last pages delivered (newest last), at most kRecentPages.
        struct Delivery {
            QDateTime at, firstSeen; // firstSeen invalid when the line does not say
            QString pager;           // the pager's user name, else service and ID
            int attempt = 0;
            bool test = false;
        };
        QList<Delivery> recent;
    };
    static constexpr int kRecentPages = 10;
    static Tally Summarize(const QString& path, const QDateTime& since);

    // Once the inbox state holds it all, a journal larger than this is
    // shortened to its last kKeptLines lines; a larger one is read only from
    // its last kMaxRead bytes.
    static constexpr qint64 kCompactBytes = 1 << 20;
    static constexpr int kKeptLines = 2000;
    static constexpr qint64 kMaxRead = 16 << 20;

private:
    bool compact(QString* error);
    // A later line of a receipt replaces what an earlier one said of it.
    void noteReceipt(bool awaited, Awaited receipt);

    QString path_;
    std::function<QDateTime()> now_;
    QFile file_;
    QStringList settled_;
    QList<Awaited> awaited_;
    QHash<QString, QDateTime> firstSeen_;
};

} // namespace tessaly
