#pragma once
// The texts Novaprobe reads: version numbers, the server page's tag pairs
// and the "mm/dd/yyyy" day texts of its settings.

#include <QDate>
#include <QString>
#include <compare>

namespace novaprobe {

// "major.minor.revision", each a 16-bit number.
struct VersionNumber {
    qint16 major = 0;
    qint16 minor = 0;
    qint16 revision = 0;
    auto operator<=>(const VersionNumber&) const = default;
};

// The text is cut at its first "." and the next one after it; the revision
// is everything after the second ".". Fewer than two "." give 0.0.0. The
// parts are read in order; one that is not a 16-bit number stops the
// reading, and it and the parts after it stay 0.
VersionNumber parseVersion(const QString& text);

// True when `web` is a later version than `mine`: major first, then minor,
// then revision.
bool isNewerVersion(const QString& web, const QString& mine);

// One value of the server page: the text strictly between "<!name>" and the
// next "<!/name>" after it (exact case, untrimmed). When a tag is missing the
// value is empty and `missing` names the tag that was not found.
struct TagValue {
    QString value;
    QString missing;
};
TagValue findTag(const QString& page, const QString& name);

// "mm/dd/yyyy" (one-digit month and day accepted); an invalid date otherwise.
QDate parseDayText(const QString& text);

} // namespace novaprobe
