#pragma once
// Keeping the remote command password out of what the program shows and
// stores: the terminal transcript, the inbox state, pages and the log.

#include <QString>

namespace tessaly {

// `text` with the argument of every "password:" line (any letter case,
// lines ending in CR or LF) and every occurrence of `password` (any letter
// case; nothing when it is empty) replaced by asterisks.
QString HideRemotePassword(const QString& text, const QString& password);

} // namespace tessaly
