#pragma once
// `tessly --status`: what the files of the program directory say about the
// mail checks, for a person or a monitoring script, without starting a
// check or needing the resident program.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace tessaly {

class SettingsStore;

// Writes the report to `out`. The exit status: 0 when the last check ran
// clean, 1 when it ran with errors or did not run, 2 when its record cannot
// be read, 3 when no check has been recorded yet.
// With the settings file, an alarm not acknowledged is reported too (and
// makes the status 1).
int StatusReport(const QString& programDir, const QDateTime& now, QString& out, const SettingsStore* store = nullptr);

// The last pages delivered, newest last, each with its pager and its delay
// from the mail first seen to the page delivered (the status window shows them too).
QStringList RecentPageLines(const QString& ledgerPath);

} // namespace tessaly
