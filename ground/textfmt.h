#pragma once
// The fixed number and date forms used throughout the program.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <cstdint>

namespace tessaly {

// Rounds halves to the even neighbour (2.5 -> 2, 3.5 -> 4) and checks the
// range; a value that does not fit throws the overflow error.
std::int16_t roundToInt16(double value);
std::int32_t roundToInt32(double value);

// The leading number of a text: leading blanks and tabs are skipped, then an
// optional sign, digits, an optional fraction and exponent; reading stops at
// the first character that cannot continue the number ("3 (Normal)" gives 3).
// "&H1F" and "&O17" read as hex and octal. A text without a leading number
// reads as 0.
double leadingNumber(const QString& text);

// "##0": the integer with no padding ("7", "12", "-3").
QString formatWhole(long long value);
// "0000": at least four digits with leading zeros ("0003").
QString formatFourDigits(long long value);
// "mm/dd/yyyy".
QString formatDateMDY(const QDate& date);
// The general date form: short date then long time, "12/6/1999 10:15:02 AM".
QString formatGeneralDate(const QDateTime& dateTime);

// Seconds since midnight, the clock that timed waits are measured on.
int secondsSinceMidnight(const QTime& time);

} // namespace tessaly

namespace tessaly {

// A time of day as people type it: "8:00 am", "5:00 PM", "8am", "8:00:30 a.m.",
// "17:30", "12:00 pm" (noon), "12:00 am" (midnight). Surrounding blanks are
// ignored. Returns an invalid QTime for anything else.
QTime parseTimeOfDay(const QString& text);

} // namespace tessaly
