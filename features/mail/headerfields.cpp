#include "features/mail/headerfields.h"

#include "ground/mimetext.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"

namespace tessaly::headers {

namespace {

// The value starts `offset` characters after the match at `match` (0-based)
// and runs to the next CR; without a CR there is no value.
QString valueAt(const QString& lower, qsizetype match, qsizetype offset) {
    if (match < 0)
        return {};
    const qsizetype begin = match + offset;
    if (begin > lower.size())
        return {};
    const qsizetype cr = lower.indexOf(QLatin1Char('\r'), begin);
    if (cr < 0)
        return {};
    return lower.mid(begin, cr - begin);
}

QString fieldOfLower(const QString& lower, QLatin1String pattern, qsizetype offset) {
    return valueAt(lower, lower.indexOf(pattern), offset);
}

QString field(const QString& header, QLatin1String pattern, qsizetype offset) {
    return fieldOfLower(header.toLower(), pattern, offset);
}

QString toOfLower(const QString& lower) {
    const QLatin1String pattern("to:");
    qsizetype match = lower.indexOf(pattern);
    // "reply-to:" and the like: take the next "to:" once, whatever precedes it.
    if (match > 0 && lower[match - 1] == QLatin1Char('-'))
        match = lower.indexOf(pattern, match + 1);
    return valueAt(lower, match, 4);
}

std::int16_t priorityOf(const QString& value) {
    // A priority that does not fit is no priority.
    try {
        return roundToInt16(leadingNumber(value));
    } catch (const TessalyError&) {
        return 0;
    }
}

} // namespace

QString MessageId(const QString& header) { return field(header, QLatin1String("message-id:"), 12); }
QString From(const QString& header) { return field(header, QLatin1String("from:"), 6); }
QString Subject(const QString& header) { return field(header, QLatin1String("subject: "), 9); }
QString DateSent(const QString& header) { return field(header, QLatin1String("date: "), 6); }

QString To(const QString& header) { return toOfLower(header.toLower()); }

std::int16_t Priority(const QString& header) { return priorityOf(field(header, QLatin1String("x-priority:"), 12)); }

Fields All(const QString& header) {
    const QString lower = header.toLower();
    Fields f;
    f.messageId = fieldOfLower(lower, QLatin1String("message-id:"), 12);
    f.from = fieldOfLower(lower, QLatin1String("from:"), 6);
    f.to = toOfLower(lower);
    f.subject = fieldOfLower(lower, QLatin1String("subject: "), 9);
    f.dateSent = fieldOfLower(lower, QLatin1String("date: "), 6);
    f.priority = priorityOf(fieldOfLower(lower, QLatin1String("x-priority:"), 12));
    f.size = Size(header);
    return f;
}

namespace {

// The value at the same place as the extractors take it, with the lines of
// a folded field that continue it, decoded.
QString pageField(const QString& header, QLatin1String pattern, qsizetype offset) {
    const qsizetype match = header.indexOf(pattern, 0, Qt::CaseInsensitive);
    if (match < 0 || match + offset > header.size())
        return {};
    const qsizetype begin = match + offset;
    qsizetype cr = header.indexOf(QLatin1Char('\r'), begin);
    if (cr < 0)
        return {};
    // A continuation line starts with a blank; one without its own CR is cut off.
    qsizetype end = cr;
    while (end - begin < mimetext::kMaxHeaderBytes && end + 2 < header.size() &&
           header.at(end + 1) == QLatin1Char('\n') &&
           (header.at(end + 2) == QLatin1Char(' ') || header.at(end + 2) == QLatin1Char('\t'))) {
        const qsizetype next = header.indexOf(QLatin1Char('\r'), end + 2);
        if (next < 0)
            break;
        end = next;
    }
    return mimetext::DecodeHeaderValue(mimetext::RawBytes(header.mid(begin, end - begin))).toLower();
}

} // namespace

PageFields ForPage(const QString& header) {
    return {pageField(header, QLatin1String("from:"), 6), pageField(header, QLatin1String("subject: "), 9),
            pageField(header, QLatin1String("date: "), 6)};
}

std::int32_t Size(const QString& header) {
    const qsizetype ok = header.indexOf(QLatin1String("+OK"));
    if (ok < 0)
        return 0;
    const qsizetype begin = ok + 3;
    const qsizetype octets = header.indexOf(QLatin1String("octets"), begin);
    if (octets < 0)
        return 0;
    try {
        return roundToInt32(leadingNumber(header.mid(begin, octets - begin)));
    } catch (const TessalyError&) {
        return 0;
    }
}

} // namespace tessaly::headers
