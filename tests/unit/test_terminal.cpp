// The traffic transcript: trimming, backspaces and line ends.

#include "state/terminal.h"

#include <QtTest>

using namespace tessaly;

class TestTerminal : public QObject {
    Q_OBJECT
private slots:
    void lineEndsAndBackspaces() {
        Terminal t;
        t.Append(QStringLiteral("-->ATZ\r"));
        QCOMPARE(t.Text(), QStringLiteral("-->ATZ\r\n"));
        t.Append(QStringLiteral("\r\nOK\r\n"));
        QCOMPARE(t.Text(), QStringLiteral("-->ATZ\r\n\r\nOK\r\n"));
        t.Clear();
        t.Append(QStringLiteral("abc\bd"));
        QCOMPARE(t.Text(), QStringLiteral("abd"));
        // Leading backspaces take back the last character shown, once.
        t.Append(QStringLiteral("\b\bX"));
        QCOMPARE(t.Text(), QStringLiteral("abX"));
        t.Append(QStringLiteral("\b"));
        QCOMPARE(t.Text(), QStringLiteral("ab"));
        // A lone LF vanishes; a CR always gets its LF.
        t.Clear();
        t.Append(QStringLiteral("a\nb\rc"));
        QCOMPARE(t.Text(), QStringLiteral("ab\r\nc"));
        // Backspace at the start of an empty transcript changes nothing.
        t.Clear();
        t.Append(QStringLiteral("\bz"));
        QCOMPARE(t.Text(), QStringLiteral("z"));
    }

    // What --verbose prints: the paging protocol's control characters by
    // name, any line end as one, and the tap sees every piece.
    void printableTraffic() {
        QCOMPARE(Terminal::Printable(QStringLiteral("-->\x1bPG1\r<--\x02ID\x03" "12\r\n\x7f\x06\n\x01")),
                 QStringLiteral("--><ESC>PG1\n<--<STX>ID<ETX>12\n<0x7f><ACK>\n<SOH>"));
        Terminal t;
        QStringList seen;
        t.SetTap([&](const QString& piece) { seen << piece; });
        t.Append(QStringLiteral("a\b"));
        t.Append(QStringLiteral("b"));
        QCOMPARE(seen, (QStringList{QStringLiteral("a\b"), QStringLiteral("b")}));
    }

    void oldestTextGoesFirst() {
        Terminal t;
        QString big;
        for (int i = 0; i < 20000; ++i)
            big += QChar('a' + i % 26);
        t.Append(big);
        QCOMPARE(t.Text().size(), 20000);
        t.Append(QStringLiteral("!"));
        QCOMPARE(t.Text().size(), 15904 + 1);
        QCOMPARE(t.Text(), big.mid(4096) + QStringLiteral("!"));
    }
};

QTEST_GUILESS_MAIN(TestTerminal)
#include "test_terminal.moc"
