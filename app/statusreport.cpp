#include "app/statusreport.h"

#include "state/signinsettings.h"
#include <QUrl>

#include "app/checkrecord.h"
#include "features/paging/escalation.h"
#include "features/paging/pageledger.h"
#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "state/signinsettings.h"

namespace tessaly {

namespace {
QString local(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString plural(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString pageCounts(const PageLedger::Tally& t) {
    QString text = QStringLiteral("%1 delivered, %2 failed, %3 given up").arg(t.delivered).arg(t.failed).arg(t.givenUp);
    // Only carriers that send receipts tell when a page reached the pager.
    if (t.handset > 0)
        text += QStringLiteral(" (%1 reached the pager, by the carrier's receipt)").arg(t.handset);
    return text;
}

QString outcomeText(const CheckRecord& r) {
    if (r.status == 0)
        return QStringLiteral("ran clean");
    QString text = r.status == 1 ? QStringLiteral("ran with errors") : QStringLiteral("did not run");
    text += QStringLiteral(" (status %1)").arg(r.status);
    QStringList parts;
    if (r.cancelled)
        parts << QStringLiteral("cancelled");
    if (r.accountsNotRead > 0)
        parts << plural(r.accountsNotRead, "account not read", "accounts not read");
    if (r.pagesNotDelivered > 0)
        parts << plural(r.pagesNotDelivered, "page not delivered", "pages not delivered");
    if (!r.detail.isEmpty())
        parts << r.detail;
    if (!parts.isEmpty())
        text += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    return text;
}

// "12 s", "3 min 05 s", "2 h 10 min".
QString delayText(qint64 seconds) {
    if (seconds < 0)
        return QStringLiteral("?");
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QStringList RecentPageLines(const QString& ledgerPath) {
    QStringList lines;
    for (const PageLedger::Tally::Delivery& d : PageLedger::Summarize(ledgerPath, QDateTime()).recent) {
        QString line = QStringLiteral("%1 %2").arg(local(d.at), d.pager);
        if (d.test)
            line += QStringLiteral(" (daily test)");
        else if (d.attempt > 1)
            line += QStringLiteral(" (fallback %1)").arg(d.attempt - 1);
        if (!d.test && d.firstSeen.isValid())
            line += QStringLiteral(", %1 after first seen").arg(delayText(d.firstSeen.secsTo(d.at)));
        lines << line;
    }
    return lines;
}

int StatusReport(const QString& programDir, const QDateTime& now, QString& out, const SettingsStore* store) {
    QString error;
    const std::optional<CheckRecord> record = ReadCheckRecord(programDir + QLatin1Char('/') + kLastCheckFile, &error);
    const QString ledger = programDir + QLatin1Char('/') + kPageLedgerFile;
    int rc = 0;
    if (record) {
        out += QStringLiteral("Last check: %1 (%2), %3\n")
                   .arg(local(record->started),
                        record->resident ? QStringLiteral("resident program") : QStringLiteral("tessly --check"),
                        outcomeText(*record));
        out += QStringLiteral("Pages of the last check and since: %1\n")
                   .arg(pageCounts(PageLedger::Summarize(ledger, record->started)));
        rc = record->status == 0 ? 0 : 1;
    } else if (!error.isEmpty()) {
        out += QStringLiteral("Last check: its record %1 cannot be read (%2)\n").arg(kLastCheckFile, error);
        rc = 2;
    } else {
        out += QStringLiteral("Last check: none recorded yet\n");
        rc = 3;
    }
    const PageLedger::Tally day = PageLedger::Summarize(ledger, now.addDays(-1));
    out += QStringLiteral("Pages in the last 24 hours: %1\n").arg(pageCounts(day));
    if (day.pending.isEmpty())
        out += QStringLiteral("Pending pages: none\n");
    else
        out += QStringLiteral("Pending pages: %1 on its way when a run ended (%2); sent again at the next check\n")
                   .arg(plural(static_cast<int>(day.pending.size()), "page", "pages"),
                        day.pending.join(QStringLiteral(", ")).left(400));
    if (day.testDelivered + day.testFailed > 0)
        out += QStringLiteral("Daily test pages in the last 24 hours: %1 delivered, %2 failed\n")
                   .arg(day.testDelivered)
                   .arg(day.testFailed);
    const QStringList recent = RecentPageLines(ledger);
    if (!recent.isEmpty()) {
        out += QStringLiteral("Last pages delivered:\n");
        for (const QString& l : recent)
            out += QStringLiteral("  ") + l + QLatin1Char('\n');
    }
    if (store) {
        const UndeliverableAlarm alarm = LoadAlarm(*store);
        if (alarm.Set()) {
            out += QStringLiteral("ALARM: %1 (not acknowledged; tessly --acknowledge clears it)\n").arg(alarm.text);
            if (rc == 0)
                rc = 1;
        } else {
            out += QStringLiteral("Alarm: none\n");
        }
        // Sign-ins refused for good: that mail is not read until they are renewed.
        QStringList needed;
        for (const QString& name : store->names(kAppTitle, kSignInNeededSection))
            needed << QStringLiteral("account %1 (%2)")
                          .arg(QUrl::fromPercentEncoding(name.toLatin1()),
                               store->read(kAppTitle, kSignInNeededSection, name, QString()));
        if (const QString smtp = SignInNeeded(*store, SignInTarget{}); !smtp.isEmpty())
            needed << QStringLiteral("the outgoing server (%1)").arg(smtp);
        for (const QString& n : needed)
            out += QStringLiteral("SIGN IN AGAIN: %1; tessly --sign-in signs it in\n").arg(n);
        if (!needed.isEmpty() && rc == 0)
            rc = 1;
    }
    if (record && record->nextCheck)
        out += QStringLiteral("Next scheduled check: %1\n").arg(local(*record->nextCheck));
    else if (record && record->resident)
        out += QStringLiteral("Next scheduled check: none (the schedule is off or has no time left this week)\n");
    else
        out += QStringLiteral("Next scheduled check: whatever runs tessly --check decides (cron, a systemd timer)\n");
    return rc;
}

} // namespace tessaly
