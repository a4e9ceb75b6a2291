// The IMAP response reader by table: every row is fed whole, a byte at a
// time and in pieces of 7 bytes, and must give the same responses. Also the
// client's pure helpers: UID sets, mailbox names, quoting.

#include "platform/imapclient.h"
#include "platform/imapreplies.h"

#include <QtTest>

using namespace tessaly;
using imap::Response;
using imap::Value;

namespace {

QByteArray show(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Atom: return v.text;
    case Value::Kind::Number: return '#' + QByteArray::number(v.number);
    case Value::Kind::Nil: return "NIL";
    case Value::Kind::String:
        if (v.tooBig)
            return "{big:" + QByteArray::number(v.size) + (v.text.isEmpty() ? "}" : " KEPT}");
        return (v.literal ? "{" : "\"") + v.text + (v.literal ? "}" : "\"");
    case Value::Kind::List: {
        QByteArray out = "(";
        for (const Value& i : v.items)
            out += (out.size() > 1 ? " " : "") + show(i);
        return out + ')';
    }
    }
    return "?";
}

// One line per response: its kind and parts.
QByteArray show(const Response& r) {
    QByteArray out;
    switch (r.kind) {
    case Response::Kind::Tagged: out = "tag " + r.tag + ' ' + r.status; break;
    case Response::Kind::Untagged:
        out = "* " + (r.number >= 0 ? QByteArray::number(r.number) + ' ' : QByteArray()) + r.status;
        break;
    case Response::Kind::Continuation: out = "+"; break;
    case Response::Kind::Unreadable: return "UNREADABLE";
    }
    if (!r.code.isEmpty())
        out += " [" + r.code + (r.codeText.isEmpty() ? "" : ":" + r.codeText) + ']';
    if (!r.text.isEmpty())
        out += " text=" + r.text;
    for (const Value& v : r.data)
        out += ' ' + show(v);
    return out;
}

imap::Limits testLimits() {
    imap::Limits l;
    l.maxLine = 200;
    l.maxLiteral = 16;
    l.maxDepth = 6;
    l.maxValues = 40;
    return l;
}

// Feeds `bytes` in pieces of `piece` (0: whole) and lists the responses,
// stopping at the first unreadable one.
QList<QByteArray> readAll(const QByteArray& bytes, qsizetype piece, QByteArray* left = nullptr) {
    imap::ResponseReader reader(testLimits());
    QList<QByteArray> out;
    QByteArray buffer;
    const qsizetype step = piece > 0 ? piece : bytes.size();
    for (qsizetype at = 0; at < bytes.size() && (out.isEmpty() || out.last() != "UNREADABLE"); at += step) {
        buffer += bytes.mid(at, step);
        while (std::optional<Response> r = reader.Next(buffer)) {
            out << show(*r);
            if (r->kind == Response::Kind::Unreadable) {
                // It stays unreadable: the connection is to be dropped.
                QByteArray more = "* 1 EXISTS\r\n";
                if (reader.Next(more)->kind != Response::Kind::Unreadable)
                    out << "READ ON AFTER A FAILURE";
                break;
            }
        }
    }
    if (left)
        *left = buffer;
    return out;
}

} // namespace

class TestImapReplies : public QObject {
    Q_OBJECT
private slots:
    void reads_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("expected");
        auto row = [](const char* name, const QByteArray& bytes, const QByteArrayList& expected) {
            QTest::newRow(name) << bytes << expected;
        };
        row("tagged with code", "A1 OK [READ-ONLY] EXAMINE completed\r\n",
            {"tag A1 OK [READ-ONLY] text=EXAMINE completed"});
        row("tagged no, code with text", "a2 no [AUTHENTICATIONFAILED] Authentication failed.\r\n",
            {"tag a2 NO [AUTHENTICATIONFAILED] text=Authentication failed."});
        row("tagged without text", "A3 OK\r\n", {"tag A3 OK"});
        row("greeting with capabilities", "* OK [CAPABILITY IMAP4rev1 STARTTLS IDLE] Ready\r\n",
            {"* OK [CAPABILITY:IMAP4rev1 STARTTLS IDLE] text=Ready"});
        row("untagged in any order, bare LF",
            "* 3 EXPUNGE\n* 5 EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 3] x\r\n* 1 EXPUNGE\r\n",
            {"* 3 EXPUNGE", "* 5 EXISTS", "* 0 RECENT", "* OK [UIDVALIDITY:3] text=x", "* 1 EXPUNGE"});
        row("capability words", "* CAPABILITY IMAP4rev1 AUTH=PLAIN LITERAL+\r\n",
            {"* CAPABILITY IMAP4rev1 AUTH=PLAIN LITERAL+"});
        row("fetch size and uid", "* 12 FETCH (UID 4012 RFC822.SIZE 2310)\r\n",
            {"* 12 FETCH (UID #4012 RFC822.SIZE #2310)"});
        row("header literal across lines",
            "* 1 FETCH (UID 42 BODY[HEADER] {12}\r\nSubject: x\r\n)\r\nT5 OK done\r\n",
            {"* 1 FETCH (UID #42 BODY[HEADER] {Subject: x\r\n})", "tag T5 OK text=done"});
        row("two literals, empty one, LITERAL+ form",
            "* 2 FETCH (BODY[] {0}\r\n BODY[1] {3+}\r\nabc UID 7)\r\n",
            {"* 2 FETCH (BODY[] {} BODY[1] {abc} UID #7)"});
        row("section with spaces and origin",
            "* 3 FETCH (BODY[HEADER.FIELDS (FROM TO)]<0> \"x\" FLAGS (\\Seen \\*))\r\n",
            {"* 3 FETCH (BODY[HEADER.FIELDS (FROM TO)]<0> \"x\" FLAGS (\\Seen \\*))"});
        row("nested lists and NIL", "* 4 FETCH (X (a (b (c NIL)) ()) Y nil)\r\n",
            {"* 4 FETCH (X (a (b (c NIL)) ()) Y NIL)"});
        row("quoted with escapes", "* LIST (\\Noselect) \"/\" \"a \\\"b\\\" \\\\c\"\r\n",
            {"* LIST (\\Noselect) \"/\" \"a \"b\" \\c\""});
        row("search numbers", "* SEARCH 2 84 882\r\n", {"* SEARCH #2 #84 #882"});
        row("continuations", "+ idling\r\n+\r\n", {"+ text=idling", "+"});
        row("bye", "* BYE Server shutting down\r\n", {"* BYE text=Server shutting down"});
        row("unknown response passed over", "* XSTRANGE ((( ]\r\n* 1 EXISTS\r\n",
            {"* XSTRANGE text=((( ]", "* 1 EXISTS"});
        row("oversized literal dropped, reading goes on",
            "* 1 FETCH (UID 9 BODY[] {40}\r\n0123456789012345678901234567890123456789)\r\n* 2 EXISTS\r\n",
            {"* 1 FETCH (UID #9 BODY[] {big:40})", "* 2 EXISTS"});
        row("incomplete stays", "* 1 FETCH (UID 9 BODY[] {10}\r\n01234", {});
        row("fetch list unclosed", "* 1 FETCH (UID 3\r\n", {"UNREADABLE"});
        row("fetch without list", "* 1 FETCH UID 3\r\n", {"UNREADABLE"});
        row("unknown tagged status", "A1 MAYBE later\r\n", {"UNREADABLE"});
        row("quote unclosed", "* 1 FETCH (X \"abc)\r\n", {"UNREADABLE"});
        row("code unclosed", "A1 OK [UIDNEXT 4 done\r\n", {"UNREADABLE"});
        row("stray parenthesis", "* FLAGS (\\Seen))\r\n", {"UNREADABLE"});
        row("not IMAP", "HTTP/1.1 400 Bad Request\r\n", {"UNREADABLE"});
        row("nesting too deep", "* 1 FETCH (X (((((((a)))))))\r\n", {"UNREADABLE"});
        row("too many values", "* SEARCH " + QByteArray("1 ").repeated(41) + "\r\n", {"UNREADABLE"});
        row("line too long", "* OK " + QByteArray(300, 'x') + "\r\n", {"UNREADABLE"});
        row("line too long without an end", QByteArray(300, 'x'), {"UNREADABLE"});
        row("number too big for a message", "* 99999999999999999999 EXISTS\r\n", {"UNREADABLE"});
        row("literal size beyond reason", "* 1 FETCH (X {9999999999999999999}\r\n", {"UNREADABLE"});
    }
    void reads() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, expected);
        for (const qsizetype piece : {qsizetype(0), qsizetype(1), qsizetype(7)})
            QCOMPARE(readAll(bytes, piece), expected);
    }

    // An oversized literal is read to its end without being kept, however
    // it arrives; one within the limit is kept whole.
    void literalBounds() {
        imap::ResponseReader reader(testLimits());
        QByteArray buffer = "* 1 FETCH (BODY[] {100000}\r\n";
        QVERIFY(!reader.Next(buffer));
        QVERIFY(buffer.isEmpty());
        for (int i = 0; i < 100; ++i) {
            QByteArray chunk(1000, 'z');
            QVERIFY(!reader.Next(chunk));
            QVERIFY(chunk.isEmpty()); // taken, not kept waiting
        }
        buffer = ")\r\n";
        const std::optional<Response> r = reader.Next(buffer);
        QVERIFY(r);
        const auto items = imap::FetchItems(*r);
        const Value* body = imap::FetchItem(items, "BODY[]");
        QVERIFY(body);
        QVERIFY(body->tooBig);
        QCOMPARE(body->size, 100000);
        QVERIFY(body->text.isEmpty());
        reader.SetLiteralLimit(200000);
        buffer = "* 2 FETCH (BODY[] {100000}\r\n" + QByteArray(100000, 'y') + ")\r\n";
        const std::optional<Response> kept = reader.Next(buffer);
        QVERIFY(kept);
        QCOMPARE(imap::FetchItem(imap::FetchItems(*kept), "BODY[]")->text, QByteArray(100000, 'y'));
    }

    void helpers_data() {
        QTest::addColumn<QByteArray>("got");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("uid runs") << ImapClient::UidSet({9, 3, 1, 2, 4, 5}) << QByteArray("1:5,9");
        QTest::newRow("uid duplicates") << ImapClient::UidSet({7, 3, 3, 8}) << QByteArray("3,7:8");
        QTest::newRow("plain folder") << ImapClient::MailboxArgument(QStringLiteral("INBOX")) << QByteArray("\"INBOX\"");
        QTest::newRow("ampersand") << ImapClient::MailboxArgument(QStringLiteral("R&D")) << QByteArray("\"R&-D\"");
        QTest::newRow("quote and backslash") << ImapClient::MailboxArgument(QStringLiteral("a\"b\\c"))
                                             << QByteArray("\"a\\\"b\\\\c\"");
        // The examples of RFC 3501 5.1.3 and a common German folder name.
        QTest::newRow("umlaut") << ImapClient::ModifiedUtf7(QStringLiteral("Entwürfe")) << QByteArray("Entw&APw-rfe");
        QTest::newRow("cjk") << ImapClient::ModifiedUtf7(QString::fromUtf8("~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/"
                                                                         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"))
                             << QByteArray("~peter/mail/&U,BTFw-/&ZeVnLIqe-");
        QTest::newRow("quoted") << imap::Quoted("a\"b").value_or("none") << QByteArray("\"a\\\"b\"");
        QTest::newRow("line end needs a literal") << imap::Quoted("a\r\nb").value_or("none") << QByteArray("none");
        QTest::newRow("8-bit needs a literal") << imap::Quoted("p\xc3\xa4ss").value_or("none") << QByteArray("none");
    }
    void helpers() {
        QFETCH(QByteArray, got);
        QFETCH(QByteArray, expected);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestImapReplies)
#include "test_imapreplies.moc"
