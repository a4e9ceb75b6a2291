#pragma once
// The profile data file: the user's whole configuration apart from the
// registry values and the filter file. An 8-bit text file with CR LF line
// ends and comma-separated fields: texts in double quotes (no escaping),
// truth values as #TRUE#/#FALSE#, numbers in decimal.

#include <QByteArray>
#include <QString>

#include "ground/fieldfile.h"
#include "ground/scramble.h"
#include <cstdint>

namespace tessaly {

class MainProgram;

// Writes the live settings, pagers, services, modem profiles and accounts
// to `path` in the current format and clears the profile-changed flag.
// Errors reach the caller as TessalyError; a text the file cannot hold is
// refused before anything is written, so the old file stays as it was.
void SaveProfile(MainProgram& program, const QString& path);
// A profile that switches remote control on without a password or an
// allowed sender still loads; no command message is obeyed then, and this
// writes the reason to the activity log.
void NoteRemoteControlOff(MainProgram& program);
// Reads a profile of either format into the live settings and the lists.
// Reports every problem itself and never fails towards the caller.
void LoadProfile(MainProgram& program, const QString& path);
// True when `path` names the program directory's "default.dat" (any case):
// saving changes to it asks for a new name at exit.
bool IsShippedProfile(const MainProgram& program, const QString& path);
// The reader of the older format (no version line, one mail account).
void LoadOldProfile(MainProgram& program, const QString& path);

} // namespace tessaly
