#include "features/paging/pageledger.h"

#include "ground/atomicfile.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {

namespace {
// No real line comes near this; a longer one is not read.
constexpr qsizetype kMaxLine = 256 * 1024;

const char* eventName(PageLedger::Event e) {
    switch (e) {
    case PageLedger::Event::Sending: return "sending";
    case PageLedger::Event::Delivered: return "delivered";
    case PageLedger::Event::Failed: return "failed";
    case PageLedger::Event::GivenUp: return "given-up";
    case PageLedger::Event::Recorded: return "recorded";
    case PageLedger::Event::Opened: return "opened";
    case PageLedger::Event::Handset: return "handset";
    case PageLedger::Event::ReceiptFailed: return "receipt-failed";
    }
    return "";
}

QString stamp(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }

QDateTime timeOf(const QJsonObject& o, const char* name) {
    const QJsonValue v = o.value(QLatin1String(name));
    return v.isString() ? QDateTime::fromString(v.toString().left(40), Qt::ISODate) : QDateTime();
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The lines of the journal's readable tail.
QList<QByteArray> readLines(QFile& file) {
    const qint64 size = file.size();
    const qint64 from = size > PageLedger::kMaxRead ? size - PageLedger::kMaxRead : 0;
    file.seek(from);
    QList<QByteArray> lines = file.read(size - from).split('\n');
    if (from > 0 && !lines.isEmpty())
        lines.removeFirst(); // begins inside a line
    return lines;
}
} // namespace

PageLedger::PageLedger(QString path, std::function<QDateTime()> now)
    : path_(std::move(path)), now_(std::move(now)), file_(path_) {}

bool PageLedger::Open(QString* error) {
    file_.close();
    settled_.clear();
    awaited_.clear();
    firstSeen_.clear();
    auto fail = [&](const QString& why) {
        file_.close();
        if (error)
            *error = why;
        return false;
    };
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return fail(file_.errorString());
    // The file holds the pagers' addresses and the mail's IDs.
    ::fchmod(file_.handle(), 0600);
    for (const QByteArray& line : readLines(file_)) {
        if (line.trimmed().isEmpty() || line.size() > kMaxLine)
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString event = o.value(QLatin1String("event")).toString();
        if (const QDateTime seen = timeOf(o, "seen"); seen.isValid())
            for (const QJsonValue& id : o.value(QLatin1String("ids")).toArray())
                if (const QString key = id.toString(); !key.isEmpty() && !firstSeen_.contains(key))
                    firstSeen_.insert(key, seen);
        if (const QString receipt = o.value(QLatin1String("receipt")).toString(); !receipt.isEmpty()) {
            const QDateTime at = QDateTime::fromString(o.value(QLatin1String("at")).toString(), Qt::ISODate);
            QStringList ids;
            for (const QJsonValue& id : o.value(QLatin1String("ids")).toArray())
                ids << id.toString();
            noteReceipt(event == QLatin1String("delivered") && at.isValid() && at.daysTo(now_()) < kReceiptDays,
                        {o.value(QLatin1String("service")).toString(), receipt,
                         o.value(QLatin1String("pager")).toString(), ids});
        }
        if (event == QLatin1String("recorded"))
            settled_.clear();
        else if (event == QLatin1String("delivered") || event == QLatin1String("given-up"))
            for (const QJsonValue& id : o.value(QLatin1String("ids")).toArray())
                if (!id.toString().isEmpty())
                    settled_ << id.toString();
    }
    settled_.removeDuplicates();
    // A journal ending in a torn line (a run killed while writing it) gets
    // its line end, so the next event starts a line of its own.
    if (file_.size() > 0) {
        file_.seek(file_.size() - 1);
        char last = '\n';
        if (file_.read(&last, 1) == 1 && last != '\n' && file_.write("\n", 1) != 1)
            return fail(file_.errorString());
    }
    // Proves that events can be written before anything is paged.
    QString why;
    if (!Append(Event::Opened, {}, {}, &why))
        return fail(why);
    return true;
}

bool PageLedger::Append(Event event, const QStringList& ids, const QString& pager, QString* error) {
    return Append(event, ids, pager, {}, {}, error);
}

bool PageLedger::Append(Event event, const QStringList& ids, const QString& pager, const QString& service,
                        const QString& receipt, QString* error, const Journey& journey) {
    if (!file_.isOpen()) {
        if (error)
            *error = QStringLiteral("the page ledger is not open");
        return false;
    }
    QJsonObject o;
    o.insert(QLatin1String("at"), now_().toUTC().toString(Qt::ISODate));
    o.insert(QLatin1String("event"), QLatin1String(eventName(event)));
    if (!pager.isEmpty())
        o.insert(QLatin1String("pager"), pager);
    if (!ids.isEmpty())
        o.insert(QLatin1String("ids"), QJsonArray::fromStringList(ids));
    if (!receipt.isEmpty()) {
        o.insert(QLatin1String("service"), service);
        o.insert(QLatin1String("receipt"), receipt);
    }
    if (journey.mailDate.isValid())
        o.insert(QLatin1String("date"), stamp(journey.mailDate));
    if (journey.firstSeen.isValid())
        o.insert(QLatin1String("seen"), stamp(journey.firstSeen));
    if (journey.queued.isValid())
        o.insert(QLatin1String("queued"), stamp(journey.queued));
    if (journey.attempt > 0)
        o.insert(QLatin1String("attempt"), journey.attempt);
    if (!journey.pagerName.isEmpty())
        o.insert(QLatin1String("user"), journey.pagerName);
    if (journey.test)
        o.insert(QLatin1String("test"), true);
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    if (file_.write(line) != line.size()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path_, file_.errorString());
        return false;
    }
    if (::fdatasync(file_.handle()) != 0) {
        if (error)
            *error = QStringLiteral("Cannot flush %1: %2").arg(path_, systemError());
        return false;
    }
    if (journey.firstSeen.isValid())
        for (const QString& id : ids)
            if (!id.isEmpty() && !firstSeen_.contains(id))
                firstSeen_.insert(id, journey.firstSeen);
    // A receipt is awaited from its delivery on, so the same check can ask for it.
    if (!receipt.isEmpty())
        noteReceipt(event == Event::Delivered, {service, receipt, pager, ids});
    return true;
}

void PageLedger::noteReceipt(bool awaited, Awaited receipt) {
    awaited_.removeIf([&](const Awaited& a) { return a.receipt == receipt.receipt && a.service == receipt.service; });
    if (awaited)
        awaited_.append(std::move(receipt));
}

bool PageLedger::Recorded(QString* error) {
    settled_.clear();
    if (!Append(Event::Recorded, {}, {}, error))
        return false;
    // Nothing above the line just written is needed again: a long journal
    // keeps only its recent history.
    return file_.size() <= kCompactBytes || compact(error);
}

bool PageLedger::compact(QString* error) {
    QList<QByteArray> lines = readLines(file_);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() > kKeptLines)
        lines = lines.mid(lines.size() - kKeptLines);
    // The last line is "recorded": nothing a later run reads back is lost.
    if (!AtomicFile::Write(path_, lines.join('\n') + '\n', AtomicFile::Access::Private, error))
        return false;
    file_.close();
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = file_.errorString();
        return false;
    }
    return true;
}

PageLedger::Tally PageLedger::Summarize(const QString& path, const QDateTime& since) {
    Tally tally;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return tally;
    QHash<QString, bool> onItsWay; // message ID -> its last event was "sending"
    QStringList order;
    for (const QByteArray& line : readLines(file)) {
        if (line.trimmed().isEmpty() || line.size() > kMaxLine)
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString event = o.value(QLatin1String("event")).toString();
        const QDateTime at = QDateTime::fromString(o.value(QLatin1String("at")).toString(), Qt::ISODate);
        const bool counted = at.isValid() && at >= since;
        const bool sending = event == QLatin1String("sending");
        const bool test = o.value(QLatin1String("test")).toBool();
        if (event == QLatin1String("delivered")) {
            QString pager = o.value(QLatin1String("user")).toString();
            if (pager.isEmpty())
                pager = o.value(QLatin1String("pager")).toString();
            tally.recent.append(
                {at, timeOf(o, "seen"), pager.left(200), o.value(QLatin1String("attempt")).toInt(), test});
            if (tally.recent.size() > kRecentPages)
                tally.recent.removeFirst();
        }
        if (test) {
            if (counted && event == QLatin1String("delivered"))
                ++tally.testDelivered;
            else if (counted && (event == QLatin1String("failed") || event == QLatin1String("given-up")))
                ++tally.testFailed;
            continue;
        }
        if (counted && event == QLatin1String("delivered"))
            ++tally.delivered;
        else if (counted && event == QLatin1String("failed"))
            ++tally.failed;
        else if (counted && event == QLatin1String("given-up"))
            ++tally.givenUp;
        else if (counted && event == QLatin1String("handset"))
            ++tally.handset;
        if (!sending && event != QLatin1String("delivered") && event != QLatin1String("failed") &&
            event != QLatin1String("given-up"))
            continue;
        for (const QJsonValue& v : o.value(QLatin1String("ids")).toArray()) {
            const QString id = v.toString();
            if (id.isEmpty())
                continue;
            if (!onItsWay.contains(id))
                order << id;
            onItsWay.insert(id, sending);
        }
    }
    for (const QString& id : order)
        if (onItsWay.value(id))
            tally.pending << id;
    return tally;
}

} // namespace tessaly
