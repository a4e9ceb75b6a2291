#pragma once
// Page text for lines and terminals that take only printable 7-bit ASCII.

#include <QString>

namespace tessaly {

// Maps `text` to printable ASCII (0x20 to 0x7E), one character at a time:
// - printable ASCII stays as it is;
// - a letter with accents or other marks becomes its base letter (é -> e,
//   Ç -> C), and a letter written as two in ASCII becomes those two
//   (ß -> ss, æ -> ae, Œ -> OE, þ -> th); ligatures, full-width forms and
//   the like become their plain form (ﬁ -> fi, ™ -> TM, … -> ...);
// - typographic quotes, dashes and the fraction slash become ' " - /;
// - white space and line breaks of any kind (TAB, CR, LF, no-break space,
//   line separator) become one space each;
// - everything else (control characters such as ETX or ESC, DEL, letters
//   of other scripts, symbols, emoji) becomes "?", one per character.
// The result holds only 0x20..0x7E, so its Latin-1 bytes are exactly the
// ASCII bytes, and mapping it again changes nothing.
QString toPrintableAscii(const QString& text);

} // namespace tessaly
