#pragma once
// `tessly --status`: what the files of the program directory say about the
// mail checks, for a person or a monitoring script, without starting a
// check or needing the resident program.

#include <QDateTime>
#include <QString>

namespace tessaly {

// Writes the report to `out`. The exit status: 0 when the last check ran
// clean, 1 when it ran with errors or did not run, 2 when its record cannot
// be read, 3 when no check has been recorded yet.
int StatusReport(const QString& programDir, const QDateTime& now, QString& out);

} // namespace tessaly
