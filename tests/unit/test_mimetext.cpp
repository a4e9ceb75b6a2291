// Readable page text from real-shaped mail: encoded header words, MIME
// bodies in the forms common mail programs send, character sets, HTML, and
// the malformed cases; and the page text the mail check composes from them.

#include "features/mail/checksession.h"
#include "features/mail/cmail.h"
#include "ground/mimetext.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::mimetext;

namespace {

QByteArray utf8(const char16_t* s) { return QString::fromUtf16(s).toUtf8(); }
QByteArray latin1(const char16_t* s) { return QString::fromUtf16(s).toLatin1(); }

// Header lines and body joined with CR LF, as a server hands a message over.
QByteArray mail(const QList<QByteArray>& head, const QByteArray& body) {
    QByteArray m;
    for (const QByteArray& h : head)
        m += h + "\r\n";
    return m + "\r\n" + body;
}

const QByteArray kHtmlBase64 =
    "PGh0bWw+PGhlYWQ+PHN0eWxlPnB7Y29sb3I6cmVkfTwvc3R5bGU+PHRpdGxlPng8L3RpdGxlPjwvaGVhZD48Ym9keT48cD5H\r\n"
    "ciZ1dW1sOyZzemxpZztlIGF1cyA8Yj5LJm91bWw7bG48L2I+ITwvcD48cD5CaXMmbmJzcDtiYWxkICZhbXA7IHRzY2gmIzI1\r\n"
    "MjtzczwvcD48L2JvZHk+PC9odG1sPg==\r\n";

// multipart/alternative: quoted-printable text, base64 HTML.
QByteArray alternative(const QByteArray& boundary) {
    return "--" + boundary + "\r\n"
           "Content-Type: text/plain; charset=\"utf-8\"\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
           "Gr=C3=BC=C3=9Fe aus K=C3=B6ln! Ein sehr langer Satz, der umbrochen werden m=\r\n"
           "uss. 1+1=3D2\r\n"
           "--" + boundary + "\r\n"
           "Content-Type: text/html; charset=utf-8\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + kHtmlBase64 +
           "--" + boundary + "--\r\n";
}

} // namespace

class TestMimeText : public QObject {
    Q_OBJECT

private slots:
    void bodyText_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("text");
        const QString german = QStringLiteral(u"Grüße aus Köln! Ein sehr langer Satz, der umbrochen werden muss. 1+1=2");

        QTest::newRow("alternative: QP text wins over base64 HTML")
            << mail({"MIME-Version: 1.0", "Content-Type: multipart/alternative; boundary=\"b1\""},
                    "This is a multi-part message in MIME format.\r\n" + alternative("b1"))
            << german;
        QTest::newRow("HTML only: tags, style, title and entities go")
            << mail({"Content-Type: text/html; charset=UTF-8", "Content-Transfer-Encoding: base64"}, kHtmlBase64)
            << QStringLiteral(u"Grüße aus Köln!\nBis bald & tschüss");
        QTest::newRow("Latin-1 body, 8bit")
            << mail({"Content-Type: text/plain; charset=ISO-8859-1", "Content-Transfer-Encoding: 8bit"},
                    latin1(u"Grüße\r\nzweite Zeile\r\n"))
            << QStringLiteral(u"Grüße\nzweite Zeile\n");
        QTest::newRow("Latin-1 label, Windows-1252 quotes")
            << mail({"Content-Type: text/plain; charset=iso-8859-1"}, "\x93quoted\x94 \x80 5\r\n")
            << QStringLiteral(u"“quoted” € 5\n");
        QTest::newRow("UTF-8 body, QP")
            << mail({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: Quoted-Printable"},
                    "Gr=C3=BC=C3=9Fe =\r\nvon Ann  \r\n")
            << QStringLiteral(u"Grüße von Ann\n");
        QTest::newRow("plain message without MIME, UTF-8 bytes")
            << mail({"Subject: hi"}, utf8(u"Grüße\r\n")) << QStringLiteral(u"Grüße\n");
        QTest::newRow("plain message without MIME, Latin-1 bytes")
            << mail({"Subject: hi"}, latin1(u"Grüße\r\n")) << QStringLiteral(u"Grüße\n");
        QTest::newRow("nested mixed: alternative then a PDF attachment")
            << mail({"Content-Type: multipart/mixed;", "\tboundary=\"outer\""},
                    "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n" + alternative("inner") +
                        "\r\n--outer\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\n"
                        "Content-Disposition: attachment; filename=\"a.pdf\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQgYmluYXJ5IGp1bmsgAP8=\r\n--outer--\r\n")
            << german;
        QTest::newRow("a text attachment before an HTML body is skipped")
            << mail({"Content-Type: multipart/mixed; boundary=x"},
                    "--x\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=log.txt\r\n\r\n"
                    "secret log\r\n--x\r\nContent-Type: text/html\r\n\r\n<p>Hello&hellip;</p>\r\n--x--\r\n")
            << QStringLiteral(u"Hello…");
        QTest::newRow("an inline text file with a name is an attachment")
            << mail({"Content-Type: multipart/mixed; boundary=x"},
                    "--x\r\nContent-Type: text/plain; name=\"notes.txt\"\r\n\r\nnotes\r\n"
                    "--x\r\nContent-Type: text/plain\r\nContent-Disposition: inline\r\n\r\nbody\r\n--x--\r\n")
            << QStringLiteral("body");
        QTest::newRow("only an attachment: no text")
            << mail({"Content-Type: multipart/mixed; boundary=x"},
                    "--x\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--x--\r\n")
            << QString();

        // Malformed input still gives the best text there is.
        QTest::newRow("boundary never closes")
            << mail({"Content-Type: multipart/alternative; boundary=open"},
                    "--open\r\nContent-Type: text/plain\r\n\r\nstill readable\r\n")
            << QStringLiteral("still readable\n");
        QTest::newRow("boundary never appears: the body is the text")
            << mail({"Content-Type: multipart/mixed; boundary=gone"}, "just text\r\n") << QStringLiteral("just text\n");
        QTest::newRow("multipart without a boundary parameter")
            << mail({"Content-Type: multipart/alternative"},
                    "--guess\r\nContent-Type: text/plain\r\n\r\nfound\r\n--guess--\r\n")
            << QStringLiteral("found");
        QTest::newRow("bad base64: junk skipped")
            << mail({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: base64"},
                    "SGVs!!bG8g\r\n***d29y\x01" "bGQ=\r\n")
            << QStringLiteral("Hello world");
        QTest::newRow("unknown charset: UTF-8 guessed")
            << mail({"Content-Type: text/plain; charset=x-no-such-set"}, utf8(u"Café")) << QStringLiteral(u"Café");
        QTest::newRow("UTF-8 label on Latin-1 bytes")
            << mail({"Content-Type: text/plain; charset=utf-8"}, latin1(u"Café")) << QStringLiteral(u"Café");
        QTest::newRow("QP with broken escapes kept as written")
            << mail({"Content-Transfer-Encoding: quoted-printable"}, "a=ZZb =4") << QStringLiteral("a=ZZb =4");
        QTest::newRow("control characters dropped, TAB kept")
            << mail({"Subject: x"}, QByteArray("a\x00\x1b[0m\tb\x7f", 9)) << QStringLiteral("a[0m\tb");
        QTest::newRow("no blank line: a non-header line starts the body")
            << QByteArray("Subject: x\r\nnot a header line\r\nmore") << QStringLiteral("not a header line\nmore");
        QTest::newRow("nothing but headers") << QByteArray("Subject: x\r\nFrom: y\r\n") << QString();
    }
    void bodyText() {
        QFETCH(QByteArray, message);
        QFETCH(QString, text);
        QCOMPARE(BodyText(message), text);
    }

    void headerValue_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("B, UTF-8") << QByteArray("=?UTF-8?B?Q2Fmw6k=?=") << QStringLiteral(u"Café");
        QTest::newRow("Q, Latin-1") << QByteArray("=?ISO-8859-1?Q?Caf=E9?=") << QStringLiteral(u"Café");
        QTest::newRow("Q, lower-case name and hex") << QByteArray("=?iso-8859-15?q?=a4_5?=") << QStringLiteral(u"€ 5");
        QTest::newRow("sender with encoded name")
            << QByteArray("=?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <jm@example.de>")
            << QStringLiteral(u"Jörg Müller <jm@example.de>");
        QTest::newRow("words with text around them")
            << QByteArray("Re: =?utf-8?q?Gr=C3=BC=C3=9Fe?= from home") << QStringLiteral(u"Re: Grüße from home");
        QTest::newRow("blank between words dropped, character split across words")
            << QByteArray("=?UTF-8?B?R3LD?=\r\n =?UTF-8?B?vMOfZQ==?=") << QStringLiteral(u"Grüße");
        QTest::newRow("two charsets side by side")
            << QByteArray("=?ISO-8859-1?Q?K=F6ln?= =?KOI8-R?B?7cnS?=") << QStringLiteral(u"KölnМир");
        QTest::newRow("folded plain header")
            << QByteArray("A rather long subject\r\n\tthat goes on") << QStringLiteral("A rather long subject\tthat goes on").replace(QLatin1Char('\t'), QLatin1Char(' '));
        QTest::newRow("raw UTF-8 in the header") << utf8(u"Grüße") << QStringLiteral(u"Grüße");
        QTest::newRow("raw Latin-1 in the header") << latin1(u"Grüße") << QStringLiteral(u"Grüße");
        // Malformed words.
        QTest::newRow("word cut off at the end") << QByteArray("Hi =?UTF-8?B?Q2Fmw6k") << QStringLiteral(u"Hi Café");
        QTest::newRow("unknown charset") << QByteArray("=?x-unknown?Q?Caf=C3=A9?=") << QStringLiteral(u"Café");
        QTest::newRow("unknown encoding letter stays") << QByteArray("=?UTF-8?X?abc?=") << QStringLiteral("=?UTF-8?X?abc?=");
        QTest::newRow("blank inside a word: no word") << QByteArray("=?UTF-8?Q?a b?=") << QStringLiteral("=?UTF-8?Q?a b?=");
        QTest::newRow("language suffix") << QByteArray("=?UTF-8*de?Q?Stra=C3=9Fe?=") << QStringLiteral(u"Straße");
        QTest::newRow("control characters become blanks") << QByteArray("a\x01" "b=?UTF-8?Q?=07?=c") << QStringLiteral("a b c");
    }
    void headerValue() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        QCOMPARE(DecodeHeaderValue(raw), text);
    }

    void htmlToText_data() {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("entities") << QStringLiteral("a &lt;b&gt; &#x41;&#66; &euro;&#150; &bogus; AT&T")
                                  << QStringLiteral(u"a <b> AB €– &bogus; AT&T");
        QTest::newRow("script, comment, attributes with >")
            << QStringLiteral("<script>if (a<b) x();</script><!-- <p>hidden</p> --><a title=\"1>0\">link</a> 1 < 2")
            << QStringLiteral("link 1 < 2");
        QTest::newRow("white space and breaks collapse")
            << QStringLiteral("  one\n\n   two<br><br/>\n<p>three</p><table><tr><td>a</td><td>b</td></tr></table>")
            << QStringLiteral("one two\nthree\na b");
        QTest::newRow("unclosed tag and style") << QStringLiteral("text<style>x<title>y") << QStringLiteral("text");
    }
    void htmlToText() {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(HtmlToText(html), text);
    }

    // What goes out decodes to what went in, in lines any server takes.
    void encodersRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("plain text");
        QTest::newRow("german") << QStringLiteral(u"Grüße aus Köln – bis bald");
        QTest::newRow("long, blanks at line ends, = and emoji")
            << QString(QStringLiteral(u"x = y 😀 ").repeated(30) + QStringLiteral(" \nnext line\t\n"));
    }
    void encodersRoundTrip() {
        QFETCH(QString, text);
        const QByteArray qp = EncodeQuotedPrintable(text.toUtf8());
        for (const QByteArray& line : qp.split('\n')) {
            QVERIFY(line.size() <= 77); // 76 and the CR
            for (const char c : line)
                QVERIFY(c >= 0x20 ? c < 0x7F : c == '\r');
        }
        QCOMPARE(QString::fromUtf8(DecodeQuotedPrintable(qp)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), text);

        const QString subject = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
        const QByteArray header = EncodeHeaderValue(subject);
        for (const QByteArray& line : header.split('\n'))
            QVERIFY(line.size() <= 76);
        QCOMPARE(DecodeHeaderValue(header), subject);
    }

    // The page text: decoded header values, lower case as before; the stored
    // values stay as they were extracted.
    void pageTextDecodesOnlyThePage() {
        CMail m;
        const QString header = QStringLiteral(
            "+OK message follows\r\n"
            "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <JM@example.de>\r\n"
            "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4s?=\r\n"
            " =?ISO-8859-1?Q?_sch=F6n?=\r\n"
            "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\n");
        m.FillFromHeader(header);
        QByteArray body = mail({"Subject: ignored here", "Content-Type: multipart/alternative; boundary=\"b1\""},
                               alternative("b1"));
        m.SetBody(QString::fromLatin1(body));
        const QString head = QStringLiteral(u"mon, 7 dec 2026 10:00:00 +0000|From:jörg müller <jm@example.de>"
                                            u"|Subject:grüße aus köln, schön");
        QCOMPARE(CheckSession::PageText(m, false), head);
        QCOMPARE(CheckSession::PageText(m, true),
                 head + QStringLiteral(u"|Grüße aus Köln! Ein sehr langer Satz, der umbrochen werden muss. 1+1=2"));
        QCOMPARE(m.Subject(), QStringLiteral("=?utf-8?b?r3ldvmofzsbhdxmgs8o2bg4s?="));

        // Known from an earlier run: only the downloaded message has the header.
        CMail known;
        known.SetSubject(m.Subject());
        known.SetBody(m.Body());
        QVERIFY(CheckSession::PageText(known, false).endsWith(QStringLiteral("|Subject:ignored here")));
    }
};

QTEST_GUILESS_MAIN(TestMimeText)
#include "test_mimetext.moc"
