// Pagers, paging services, their keyed lists, and the page splitter.

#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"

#include <QtTest>

using namespace tessaly;

namespace {

QString digits(int n) {
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(QLatin1Char('0' + i % 10));
    return s;
}

CPagerService serviceWidth(int width) {
    CPagerService s;
    s.SetMaxPageChar(width);
    return s;
}

} // namespace

class TestPagers : public QObject {
    Q_OBJECT
private slots:
    void propertiesClampAndCommPortText();
    void listsFindKeysInAnyCase();
    void splitCutsFullBlocksAndTrimsTheLast();
    void splitLimitStopsTheWalk();
    void splitRewritesCarriageReturns();
    void splitZeroMeansTwentyAndNeverPassesTwenty();
    void splitOverwritesEarlierBlocks();
    void formatWithLF();
    void formatWithSpaces();
};

void TestPagers::propertiesClampAndCommPortText() {
    CPager p;
    QCOMPARE(p.PagerType(), std::int16_t(0));
    p.SetProfileType(7);
    QCOMPARE(p.PagerType(), std::int16_t(2));
    p.SetProfileType(-1);
    QCOMPARE(p.PagerType(), std::int16_t(0));
    // A later type leaves the profile's type as it was; a classic one replaces it.
    p.SetPagerType(PagerNumeric);
    p.SetPagerType(99);
    QCOMPARE(p.PagerType(), kLastPagerType);
    QCOMPARE(p.ProfileType(), PagerNumeric);
    p.SetPagerType(PagerAlphaSMTP);
    QCOMPARE(p.ProfileType(), PagerAlphaSMTP);

    CPagerService s;
    QCOMPARE(s.MaxPageChar(), std::int16_t(0)); // class default, before any profile
    s.SetMaxPageChar(0);
    QCOMPARE(s.MaxPageChar(), std::int16_t(1));
    s.SetMaxPageChar(80);
    QCOMPARE(s.MaxPageChar(), std::int16_t(80));
    QCOMPARE(s.CommPort(), std::int16_t(0));
    s.SetCommPort(4);
    QCOMPARE(s.CommPort(), std::int16_t(4));
}

void TestPagers::listsFindKeysInAnyCase() {
    ServiceList services;
    CPagerService def;
    def.SetName(QStringLiteral("Default"));
    def.SetPhone(QStringLiteral("5551234"));
    services.Add(std::move(def), QStringLiteral("Default"));

    PagerList pagers;
    CPager p;
    p.SetUsername(QStringLiteral("user1"));
    p.SetServiceName(QStringLiteral("default"));
    pagers.Add(std::move(p), QStringLiteral("user1"));

    const CPagerService* found = services.Find(pagers.Item(QStringLiteral("USER1")).ServiceName());
    QVERIFY(found);
    QCOMPARE(found->Phone(), QStringLiteral("5551234"));
    QVERIFY_THROWS_EXCEPTION(TessalyError, services.Add(CPagerService{}, QStringLiteral("DEFAULT")));
    QCOMPARE(services.Count(), 1);
}

void TestPagers::splitCutsFullBlocksAndTrimsTheLast() {
    CPagerService s = serviceWidth(40);
    // 100 characters whose tail carries spaces, to see the trimming.
    QString text = digits(80) + QStringLiteral("  tail text         ") ;
    QCOMPARE(text.size(), 100);
    s.SplitMessage(text, 5);
    QCOMPARE(s.BlockCount(), 3);
    QCOMPARE(s.Block(1), text.mid(0, 40));
    QCOMPARE(s.Block(2), text.mid(40, 40));
    QCOMPARE(s.Block(3), QStringLiteral("tail text"));

    // Full blocks keep their blanks.
    const QString padded = QStringLiteral(" ") + digits(38) + QStringLiteral(" ") + QStringLiteral("x");
    s.SplitMessage(padded, 5);
    QCOMPARE(s.BlockCount(), 2);
    QCOMPARE(s.Block(1), padded.left(40));
    QCOMPARE(s.Block(2), QStringLiteral("x"));

    // An exact multiple leaves an empty rest, which is not a block.
    s.SplitMessage(digits(80), 5);
    QCOMPARE(s.BlockCount(), 2);
    QCOMPARE(s.Block(2), digits(80).mid(40));
    // A rest of spaces only is dropped as well.
    s.SplitMessage(digits(80) + QStringLiteral("   "), 5);
    QCOMPARE(s.BlockCount(), 2);

    // Shorter than a block: the whole text, untrimmed, in block 1.
    s.SplitMessage(QStringLiteral(" hi "), 5);
    QCOMPARE(s.BlockCount(), 1);
    QCOMPARE(s.Block(1), QStringLiteral(" hi "));
    s.SplitMessage(QString(), 5);
    QCOMPARE(s.BlockCount(), 1);
    QCOMPARE(s.Block(1), QString());
}

void TestPagers::splitLimitStopsTheWalk() {
    CPagerService s = serviceWidth(40);
    // Carriage returns after the stop stay in the text.
    QString text = digits(300);
    text[150] = QChar(13);
    text[151] = QChar(10);
    text.replace(295, 5, QStringLiteral("     "));
    s.SplitMessage(text, 2);
    QCOMPARE(s.BlockCount(), 2);
    QCOMPARE(s.Block(1), text.left(40));
    QCOMPARE(s.Block(2), text.mid(40, 255));
    QCOMPARE(s.Block(2).size(), 255);
    QVERIFY(s.Block(2).contains(QChar(13)));

    s.SplitMessage(digits(100), 1);
    QCOMPARE(s.BlockCount(), 1);
    QCOMPARE(s.Block(1), digits(100));
}

void TestPagers::splitRewritesCarriageReturns() {
    CPagerService s = serviceWidth(40);
    s.SplitMessage(QStringLiteral("a\r\nb"), 5);
    QCOMPARE(s.BlockCount(), 1);
    QCOMPARE(s.Block(1), QStringLiteral("a \bb"));

    // The character after a CR becomes a backspace whatever it was; a CR
    // at the very end only turns into a space.
    s.SplitMessage(QStringLiteral("x\ryz\r"), 5);
    QCOMPARE(s.Block(1), QStringLiteral("x \bz "));

    // CR LF across a block border: the backspace opens the next block.
    CPagerService w4 = serviceWidth(4);
    w4.SplitMessage(QStringLiteral("abc\r\ndefg"), 5);
    QCOMPARE(w4.BlockCount(), 3);
    QCOMPARE(w4.Block(1), QStringLiteral("abc "));
    QCOMPARE(w4.Block(2), QStringLiteral("\bdef"));
    QCOMPARE(w4.Block(3), QStringLiteral("g"));
}

void TestPagers::splitZeroMeansTwentyAndNeverPassesTwenty() {
    CPagerService s = serviceWidth(10);
    const QString text = digits(300);
    s.SplitMessage(text, 0);
    QCOMPARE(s.BlockCount(), 20);
    QCOMPARE(s.Block(19), text.mid(180, 10));
    QCOMPARE(s.Block(20), text.mid(190)); // the rest, 110 characters

    // A limit above the table's 20 blocks splits exactly as 20.
    CPagerService big = serviceWidth(10);
    big.SplitMessage(text, 25);
    QCOMPARE(big.BlockCount(), 20);
    for (int b = 1; b <= 20; ++b)
        QCOMPARE(big.Block(b), s.Block(b));
    QCOMPARE(big.Block(21), QString());

    // A service that was never given a block length does not fail.
    CPagerService fresh;
    fresh.SplitMessage(QStringLiteral("abc"), 5);
    QCOMPARE(fresh.BlockCount(), 3);
    QCOMPARE(fresh.Block(3), QStringLiteral("c"));
}

void TestPagers::splitOverwritesEarlierBlocks() {
    CPagerService s = serviceWidth(5);
    s.SplitMessage(QStringLiteral("aaaaabbbbbccccc"), 5);
    QCOMPARE(s.BlockCount(), 3);
    s.SplitMessage(QStringLiteral("dd"), 5);
    QCOMPARE(s.BlockCount(), 1);
    QCOMPARE(s.Block(1), QStringLiteral("dd"));
    QCOMPARE(s.Block(2), QString()); // beyond the count: nothing stale is handed out
}

void TestPagers::formatWithLF() {
    QCOMPARE(CPagerService::FormatWithLF(QStringLiteral(" a , b,c ")), QStringLiteral("a\nb\nc"));
    QCOMPARE(CPagerService::FormatWithLF(QStringLiteral("a,,b")), QStringLiteral("a\n\nb"));
    QCOMPARE(CPagerService::FormatWithLF(QStringLiteral("  plain text  ")), QStringLiteral("plain text"));
    QCOMPARE(CPagerService::FormatWithLF(QStringLiteral("a,b,")), QStringLiteral("a\nb"));
    QCOMPARE(CPagerService::FormatWithLF(QStringLiteral(",a")), QStringLiteral("a"));
    QCOMPARE(CPagerService::FormatWithLF(QString()), QString());
}

void TestPagers::formatWithSpaces() {
    // First piece fits after the offset: padded to the end of its line.
    QCOMPARE(CPagerService::FormatWithSpaces(4, 10, QStringLiteral("ab,cde")),
             QStringLiteral("ab        cde       "));
    // First piece longer than the room after the offset starts on the next line.
    QCOMPARE(CPagerService::FormatWithSpaces(4, 10, QStringLiteral("abcdefg")),
             QStringLiteral("      abcdefg   "));
    // Later empty pieces add nothing; a piece of exactly one line gets a full blank line.
    QCOMPARE(CPagerService::FormatWithSpaces(0, 4, QStringLiteral("ab,,abcd")),
             QStringLiteral("ab  abcd    "));
    // No possible layout: the message comes back unchanged.
    QCOMPARE(CPagerService::FormatWithSpaces(0, 0, QStringLiteral("a,b")), QStringLiteral("a,b"));
    QCOMPARE(CPagerService::FormatWithSpaces(12, 10, QStringLiteral("a,b")), QStringLiteral("a,b"));
}

QTEST_GUILESS_MAIN(TestPagers)
#include "test_pagers.moc"
