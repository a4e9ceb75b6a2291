#pragma once
// The header fields of a message, taken from the server's answer to a header
// request (status line, then header lines ended by CR LF). These are plain
// text searches: the first occurrence of a pattern anywhere wins, values are
// lower case and run to the next CR, nothing is trimmed.

#include <QString>
#include <cstdint>

namespace tessaly::headers {

QString MessageId(const QString& header);     // "message-id:"
std::int16_t Priority(const QString& header); // "x-priority:", 0 when absent or unreadable
QString From(const QString& header);          // "from:"
QString To(const QString& header);            // "to:", skipping one "-to:" (reply-to:)
QString Subject(const QString& header);       // "subject: "
QString DateSent(const QString& header);      // "date: "
// The size announced between "+OK" and "octets"; 0 when not announced.
std::int32_t Size(const QString& header);

// Every field above from one header, lower-casing it only once.
struct Fields {
    QString messageId, from, to, subject, dateSent;
    std::int16_t priority = 0;
    std::int32_t size = 0;
};
Fields All(const QString& header);

// The sender, subject and date as a page shows them: found as above, with
// the continuation lines of a folded field, encoded words and character
// sets decoded, then lower case like the stored values.
struct PageFields {
    QString from, subject, dateSent;
};
PageFields ForPage(const QString& header);

} // namespace tessaly::headers
