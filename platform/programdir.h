#pragma once
// The program directory: where the profiles, filters.dat, activity.txt and
// the help live. TESSALY_HOME wins; otherwise $XDG_DATA_HOME/tessaly
// ($HOME/.local/share/tessaly when XDG_DATA_HOME is unset).

#include <QString>

namespace tessaly {

QString programDirectory();
// Where the shipped files come from: the installed data folder beside the
// program (<prefix>/share/tessaly for <prefix>/bin/tessly) when it holds
// them, otherwise the copies compiled into the program.
QString shippedFilesRoot();

// Creates the directory when it does not exist and copies in every shipped
// file (from shippedFilesRoot(), with its subfolders) that is not there
// yet. The user manual (subfolder "manual") is the program's own and is
// brought up to date; everything else belongs to the user once copied.
// Returns an error text, empty on success.
QString prepareProgramDirectory(const QString& directory);

} // namespace tessaly
