#pragma once
// How the profile stores passwords.

#include <QString>

namespace tessaly {

// The three passwords of a profile are stored scrambled: the code of each
// character gets +10 at odd positions (counted from 1) and -10 at even
// ones. A text of 255 characters or more is an overflow error; a character
// whose code would leave 0..255 is an invalid-call error.
QString ScrambleText(const QString& text);
QString UnscrambleText(const QString& text);

// True when `password` can be scrambled and its scrambled form stored in a
// quoted field and read back unchanged.
bool PasswordStorable(const QString& password);

} // namespace tessaly
