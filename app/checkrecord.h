#pragma once
// The record of the last mail check, `last-check.json` in the program
// directory: when it ran, how it ended (as the exit status of `--check`
// would say it), and for the resident program when the schedule runs the
// next one. `tessly --status` reads it back without the program running.

#include <QDateTime>
#include <QString>
#include <optional>

namespace tessaly {

inline const QString kLastCheckFile = QStringLiteral("last-check.json");

struct CheckRecord {
    QDateTime started;
    QDateTime ended;
    // 0 clean; otherwise the exit status `--check` gives for it (1 errors,
    // 4 state or ledger not writable, 5 lock busy).
    int status = 0;
    QString detail; // what went wrong, in a few words; empty when clean
    int accountsNotRead = 0;
    int pagesNotDelivered = 0;
    bool cancelled = false;
    bool resident = false;              // run by the resident program's schedule or a command
    std::optional<QDateTime> nextCheck; // the schedule's next check (resident program only)
};

// Written whole or not at all; false with the reason on failure.
bool WriteCheckRecord(const QString& path, const CheckRecord& record, QString* error);
// None when there is no record; `error` tells an unreadable one apart.
std::optional<CheckRecord> ReadCheckRecord(const QString& path, QString* error);

} // namespace tessaly
