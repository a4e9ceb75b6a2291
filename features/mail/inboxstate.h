#pragma once
// The inbox kept between runs of one-shot checks (`tessly --check`): every
// message with its header fields, body and flags, so that a later run never
// pages what an earlier one paged. A small JSON file, written atomically.

#include <QString>

namespace tessaly {

class Inbox;

inline const QString kInboxStateFile = QStringLiteral("inbox-state.json");

// Writes the inbox; on failure returns false with a reason in `error`.
bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error);
// Fills an empty inbox from the file. A missing file is an empty inbox
// (true); an unreadable or malformed one returns false with a reason and
// leaves the inbox empty.
bool LoadInboxState(Inbox& inbox, const QString& path, QString* error);

} // namespace tessaly
