#pragma once
// The profile data file: the user's whole configuration apart from the
// registry values and the filter file. An 8-bit text file with CR LF line
// ends and comma-separated fields: texts in double quotes (no escaping),
// truth values as #TRUE#/#FALSE#, numbers in decimal.

#include <QByteArray>
#include <QString>

#include "common/util/fieldfile.h"
#include <cstdint>

namespace tessaly {

class MainProgram;

// The three passwords of a profile are stored scrambled: the code of each
// character gets +10 at odd positions (counted from 1) and -10 at even
// ones. A text of 255 characters or more is an overflow error; a character
// whose code would leave 0..255 is an invalid-call error.
QString ScrambleText(const QString& text);
QString UnscrambleText(const QString& text);

// True when `password` can be scrambled and its scrambled form stored in a
// quoted field and read back unchanged.
bool PasswordStorable(const QString& password);

// Writes the live settings, pagers, services, modem profiles and accounts
// to `path` in the current format and clears the profile-changed flag.
// Errors reach the caller as TessalyError; a text the file cannot hold is
// refused before anything is written, so the old file stays as it was.
void SaveProfile(MainProgram& program, const QString& path);
// Reads a profile of either format into the live settings and the lists.
// Reports every problem itself and never fails towards the caller.
void LoadProfile(MainProgram& program, const QString& path);
// The reader of the older format (no version line, one mail account).
void LoadOldProfile(MainProgram& program, const QString& path);

} // namespace tessaly
