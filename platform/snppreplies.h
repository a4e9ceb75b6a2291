#pragma once
// The replies of an SNPP server (RFC 1861), read from the bytes received.
// A reply line is a three-digit code, a space and a text. Help replies come
// as several "214 text" lines (or "ddd-text" continuation lines) and end
// with a line of another code, which gives the reply its code. Everything
// here is pure and bounded: a line or a reply beyond the limits below is
// unreadable, never kept growing.

#include <QByteArray>
#include <QList>
#include <optional>

namespace tessaly::snpp {

// What a reply means for the page. The class is the code's first digit, as
// RFC 1861 defines the classes:
//   2xx  success, go on                                  -> Success
//   3xx  begin DATA input (354)                          -> Continue
//   4xx  failed, the server ends the connection (421
//        service unavailable, too many errors, too much
//        time): nothing about this page is wrong, so it
//        may go through later                            -> Temporary
//   5xx  failed, the session goes on (550 invalid pager
//        ID, 552 too many entries, 554 failed): the same
//        page would be refused again                     -> Permanent
// Codes of other classes (the level 3 two-way replies 7xx, 8xx and 9xx,
// which a level 2 client never asks for) and lines without a code are
// Unreadable.
enum class ReplyClass { Success, Continue, Temporary, Permanent, Unreadable };

ReplyClass Classify(int code);

struct Reply {
    int code = 0; // 0 when unreadable
    // The text after the code, without the line end; control characters
    // become spaces. For an unreadable reply, what was wrong with it.
    QByteArray text;
    // The lines before the final one ("214" help lines), their texts only.
    QList<QByteArray> help;
    ReplyClass kind = ReplyClass::Unreadable;
};

// A line longer than this (with its line end) makes the reply unreadable.
constexpr qsizetype kMaxLine = 4096;
// A reply of more lines than this is unreadable.
constexpr int kMaxLines = 200;

// One line without its line end ("250 Pager ID Accepted").
Reply ParseLine(const QByteArray& line);

// Takes one complete reply from the front of `buffer` and removes its bytes.
// std::nullopt: the reply is not complete yet (the bytes stay). A line over
// kMaxLine, or a reply over kMaxLines, gives an unreadable reply at once;
// its bytes are removed from the buffer, so a caller that goes on does not
// meet them again.
std::optional<Reply> TakeReply(QByteArray& buffer);

} // namespace tessaly::snpp
