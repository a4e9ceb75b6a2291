#pragma once
// The inbox state kept between runs of the program (the resident program and
// one-shot checks alike): for each message only its ID and its mark (new,
// paged, failed page attempts), so that no run pages what an earlier one
// paged. No header or body text is stored. A small JSON file, written
// atomically:
//   {"format":2,"messages":[{"id":"<...>","new":true,"paged":false,"pageAttempts":1},...]}
// ("pageAttempts" is left out while it is 0).
// Readers ignore keys they do not know and give absent ones their defaults,
// so a field can be added to a message record without a new format number.

#include <QString>

namespace tessaly {

class Inbox;

inline const QString kInboxStateFile = QStringLiteral("inbox-state.json");

// Writes the marks of the inbox (Inbox::Marks); on failure returns false
// with a reason in `error` and leaves the old file as it was.
bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error);
// Folds the marks of the file into the inbox (Inbox::Remember). A missing
// file adds nothing (true); an unreadable or malformed one returns false with
// a reason and leaves the inbox unchanged.
bool MergeInboxState(Inbox& inbox, const QString& path, QString* error);

} // namespace tessaly
