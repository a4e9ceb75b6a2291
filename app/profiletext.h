#pragma once
// The configuration as readable text, for configuring without a display:
// one "section.key = value" line per setting (pagers, services, modem
// profiles and accounts numbered), passwords masked, the profile's settings
// and those the settings file keeps (mail security, the outgoing login,
// remote senders, the proxy, the serial port map); and assignments
// "key=value" that change them. The profile is read and written only
// through LoadProfile and SaveProfile; settings-file values are written
// only where an assignment changed them.

#include <QString>
#include <QStringList>

namespace tessaly {

class MainProgram;

// What a masked password shows; an empty password shows as empty.
inline const QString kMaskedPassword = QStringLiteral("********");

// Every setting the profile file holds, in the file's order. Changes
// nothing (the program is not const only because the lists it walks are
// the ones assignments change).
QStringList ProfileTextLines(MainProgram& program);

// Applies "key=value" assignments in order to the program's settings and
// lists, then checks what only the whole can tell (start before stop, key
// names unique). Numbering one past the end of a list adds a member. Throws
// TessalyError naming the key of the first refused assignment; the program
// may be half changed then, so the caller must not save it.
void ApplyProfileAssignments(MainProgram& program, const QStringList& assignments);

// The command-line forms. Each loads `path` into `program` (factory values
// first, as start-up does) and writes its messages to `err`.
// Prints the lines to `out`; 0, or 2 when the profile could not be loaded.
int ShowProfileCommand(MainProgram& program, const QString& path, QString& out, QString& err);
// Applies the assignments and saves the profile; 0, 2 when it could not be
// loaded, 64 for a refused assignment, 73 when it could not be written. On
// any error the file is left as it was.
int SetProfileCommand(MainProgram& program, const QString& path, const QStringList& assignments, QString& err);

} // namespace tessaly
