#pragma once
// The responses of an IMAP4rev1 server (RFC 3501), read incrementally from
// the bytes received. A response is a line, or several lines joined by
// literals ("{n}" at a line's end, then n bytes, then the line goes on).
// The reader takes bytes as they come, keeps what belongs to the response
// being read, and hands out each complete response parsed into its parts.
//
// Everything is bounded: the line text of one response, the size of a
// literal (an oversized one is read to its end and dropped, the value
// flagged tooBig, never kept), the nesting of parenthesised lists and the
// number of values. A response beyond the line or value bounds, or one that
// is not IMAP, comes out as Kind::Unreadable, after which the reader takes
// no more (the connection is to be dropped).

#include <QByteArray>
#include <QList>
#include <optional>

namespace tessaly::imap {

// One value of a response: an atom (also flags like "\Seen" and fetch items
// like "BODY[HEADER]"), a number, a string (quoted or literal), NIL, or a
// parenthesised list.
struct Value {
    enum class Kind { Atom, Number, String, Nil, List };
    Kind kind = Kind::Nil;
    QByteArray text;      // atom or string contents (escapes undone)
    quint64 number = 0;   // Kind::Number
    QList<Value> items;   // Kind::List
    bool literal = false; // a string sent as a literal
    bool tooBig = false;  // a literal over the limit: its bytes were dropped
    qint64 size = 0;      // a literal's announced size

    bool IsAtom(const char* upper) const;
};

struct Response {
    enum class Kind {
        Tagged,       // "A1 OK ...": status is OK, NO or BAD
        Untagged,     // "* ...": see status, number and data below
        Continuation, // "+ text"
        Unreadable    // not IMAP or beyond the bounds; `text` says why
    };
    Kind kind = Kind::Unreadable;
    QByteArray tag; // Tagged only
    // Tagged: OK, NO or BAD. Untagged: the keyword, upper-cased: OK, NO,
    // BAD, PREAUTH, BYE (with a code and a text), or EXISTS, RECENT,
    // EXPUNGE, FETCH (after a number), CAPABILITY, FLAGS, SEARCH, LIST, ...
    QByteArray status;
    qint64 number = -1; // "* n EXISTS" and the like; -1 otherwise
    // The response code in brackets, upper-cased ("UIDVALIDITY"), and its
    // argument text as sent ("3"); both empty when there is none.
    QByteArray code;
    QByteArray codeText;
    // The human text of a status response or a continuation.
    QByteArray text;
    // The values after the keyword: a FETCH's one list, the CAPABILITY
    // words, the SEARCH numbers, the FLAGS list, ...
    QList<Value> data;
    // The response as the terminal may show it: its lines, each literal
    // replaced by its "{n}" and at most a short stretch of line text.
    QByteArray shown;

    bool IsStatus(const char* upper) const { return status == upper; }
    // The code's argument as a number (UIDVALIDITY, UIDNEXT, HIGHESTMODSEQ).
    std::optional<quint64> CodeNumber() const;
    // The code's argument split at spaces, upper-cased (CAPABILITY).
    QList<QByteArray> CodeWords() const;
};

struct Limits {
    // The line text of one response, literals not counted.
    qsizetype maxLine = 1 << 20;
    // The largest literal kept (the caller's limit for the text it fetches).
    qint64 maxLiteral = 1 << 20;
    // Literal bytes kept in one response at most, all literals together.
    qint64 maxKept = 65 << 20;
    int maxDepth = 16;
    int maxValues = 1 << 18;
};

class ResponseReader {
public:
    ResponseReader() = default;
    explicit ResponseReader(Limits limits) : limits_(limits) {}

    // Takes bytes from the front of `buffer` (removing them) until one
    // response is complete, and returns it; none when the buffer ran out
    // first (what was taken is kept for the next call). After an unreadable
    // response every later call returns one again.
    std::optional<Response> Next(QByteArray& buffer);
    // Drops the response being read and any failure: a new connection.
    void Reset();
    // The literal limit for the responses from now on (the caller raises it
    // for a fetch of whole messages).
    void SetLiteralLimit(qint64 limit) { limits_.maxLiteral = limit; }
    const Limits& CurrentLimits() const { return limits_; }
    bool Failed() const { return failed_; }

private:
    struct Literal {
        qsizetype at = 0; // the position in line_ right after its "{n}"
        qint64 size = 0;
        bool tooBig = false;
        QByteArray bytes;
    };
    Response finish();
    Response unreadable(const QByteArray& why);

    Limits limits_;
    QByteArray line_;         // the response's line text so far
    QList<Literal> literals_; // its literals
    qint64 literalLeft_ = 0;  // bytes of the current literal still to come
    bool inLiteral_ = false;
    qint64 kept_ = 0;
    bool failed_ = false;
    QByteArray failure_;
};

// Parses one complete response whose literals were cut out: `line` is the
// text with each literal's "{n}" (the CR LF after it removed) and `literals`
// the literal values in order with the position in `line` right after their
// "{n}". Exposed for the reader and its tests.
Response Parse(const QByteArray& line, const QList<std::pair<qsizetype, Value>>& literals, const Limits& limits);

// The items of a FETCH response's list by name, upper-cased: "UID",
// "RFC822.SIZE", "FLAGS", "BODY[HEADER]", "BODY[]", ... Empty when the
// response is no FETCH or its list is not pairs of name and value.
QList<std::pair<QByteArray, Value>> FetchItems(const Response& response);
// The one named `name` (upper-case); none when absent.
const Value* FetchItem(const QList<std::pair<QByteArray, Value>>& items, const char* name);

// `text` as a quoted string, or none when it cannot be one (CR, LF, NUL or
// bytes beyond ASCII: then it must go as a literal).
std::optional<QByteArray> Quoted(const QByteArray& text);

} // namespace tessaly::imap
