#pragma once
// Readers of POP3 server answers (RFC 1939, RFC 2449). Each takes an answer
// as it arrived, status line and final "." included, with CR LF or bare LF
// line ends, and keeps no state.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace tessaly::pop3 {

// True when the answer's status is positive ("+OK").
bool IsPositive(QStringView answer);

// Message sizes by number from a "LIST" answer: every line after the status
// line of exactly two words, both numbers; sizes beyond 32 bits are pulled to
// the nearest end. A number listed twice keeps its last size.
QHash<int, std::int32_t> ParseList(const QString& answer);

// Unique IDs by message number from a "UIDL" answer, for a mailbox of
// `count` messages: lines "number id" with a number in 1..count and an ID of
// 1 to 70 printable characters. The first line for a number counts; an ID
// the server gives to two numbers names neither.
QHash<int, QString> ParseUidl(QStringView answer, int count);

// True when a "CAPA" answer offers command batches ("PIPELINING").
bool OffersBatches(const QByteArray& capabilities);

} // namespace tessaly::pop3
