#pragma once
// Appending to a traffic transcript (the terminal window, the "HTTP Data"
// window): the oldest text goes first once the box is full, backspaces
// erase, and line ends become CR LF.

#include <QString>

namespace tessaly {

constexpr qsizetype kTrafficLimit = 16384;
constexpr qsizetype kTrafficTrim = 4096;

// Appends `text` to `box`. While the box holds `limit` characters or more,
// its first `trim` characters are dropped (so one large arrival cannot make
// it grow without end). A backspace inside the new text removes itself and
// the character before it; leading backspaces take back the last character
// already in the box, once. Then every LF is dropped and every CR gets an LF.
void AppendTraffic(QString& box, const QString& text, qsizetype limit = kTrafficLimit, qsizetype trim = kTrafficTrim);

} // namespace tessaly
