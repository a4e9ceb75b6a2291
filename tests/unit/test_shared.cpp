// The shared pieces: keyed object lists and the fixed number and date texts.

#include "ground/keyedlist.h"
#include "ground/textfmt.h"

#include <QtTest>
#include <cmath>

using namespace tessaly;

namespace {
struct Member {
    QString name;
    int value = 0;
};
} // namespace

class TestShared : public QObject {
    Q_OBJECT
private slots:
    void keyedListOrderAndCaseInsensitiveKeys() {
        KeyedList<Member> list;
        list.Add(Member{QStringLiteral("a"), 1}, QStringLiteral("Default"));
        list.Add(Member{QStringLiteral("b"), 2}); // no key
        list.Add(Member{QStringLiteral("c"), 3}, QStringLiteral("user1"));
        QCOMPARE(list.Count(), 3);
        QCOMPARE(list.Item(1).name, QStringLiteral("a"));
        QCOMPARE(list.Item(3).name, QStringLiteral("c"));
        QCOMPARE(list.Item(QStringLiteral("default")).value, 1);
        QCOMPARE(list.Item(QStringLiteral("USER1")).value, 3);
        QVERIFY(list.Find(QStringLiteral("")) == nullptr);
        QVERIFY(list.Find(QStringLiteral("missing")) == nullptr);

        // A duplicate key in another case is refused and changes nothing.
        QVERIFY_THROWS_EXCEPTION(TessalyError, list.Add(Member{QStringLiteral("d"), 4}, QStringLiteral("DEFAULT")));
        QCOMPARE(list.Count(), 3);
        // Members without a key never collide.
        list.Add(Member{QStringLiteral("e"), 5});
        QCOMPARE(list.Count(), 4);

        QStringList order;
        for (const Member& m : list)
            order << m.name;
        QCOMPARE(order, (QStringList{"a", "b", "c", "e"}));

        list.Remove(QStringLiteral("DeFault"));
        QCOMPARE(list.Item(1).name, QStringLiteral("b"));
        QVERIFY(!list.Contains(QStringLiteral("default")));
        // A removed key can be used again.
        list.Add(Member{QStringLiteral("f"), 6}, QStringLiteral("default"));
        list.Remove(1);
        QCOMPARE(list.Item(1).name, QStringLiteral("c"));
        QCOMPARE(list.Item(QStringLiteral("user1")).name, QStringLiteral("c"));
        QCOMPARE(list.KeyAt(1), QStringLiteral("user1"));

        for (int bad : {0, -1, 4})
            QVERIFY_THROWS_EXCEPTION(TessalyError, list.Item(bad));
        QVERIFY_THROWS_EXCEPTION(TessalyError, list.Item(QStringLiteral("nope")));
        QVERIFY_THROWS_EXCEPTION(TessalyError, list.Remove(QStringLiteral("nope")));
        list.Clear();
        QCOMPARE(list.Count(), 0);
        QVERIFY(!list.Contains(QStringLiteral("user1")));
    }

    void removeIfKeepsOrderAndKeys() {
        KeyedList<Member> list;
        for (int i = 1; i <= 6; ++i)
            list.Add(Member{QString::number(i), i}, i % 2 ? QStringLiteral("k%1").arg(i) : QString());
        QCOMPARE(list.RemoveIf([](const Member& m) { return m.value % 3 != 0; }), 4);
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.Item(1).value, 3);
        QCOMPARE(list.Item(2).value, 6);
        QVERIFY(list.Contains(QStringLiteral("K3")));
        QVERIFY(!list.Contains(QStringLiteral("k1")));
        list.Add(Member{QStringLiteral("again"), 7}, QStringLiteral("k1")); // a freed key is free
        QCOMPARE(list.Count(), 3);
    }

    void copyObjectsMakesIndependentCopies() {
        KeyedList<Member> source, target;
        source.Add(Member{QStringLiteral("a"), 1}, QStringLiteral("A"));
        source.Add(Member{QStringLiteral("b"), 2});
        target.Add(Member{QStringLiteral("old"), 9}, QStringLiteral("A"));
        source.CopyObjects(target);
        QCOMPARE(target.Count(), 2);
        QCOMPARE(target.Item(QStringLiteral("a")).name, QStringLiteral("a"));
        target.Item(1).value = 100;
        QCOMPARE(source.Item(1).value, 1);
        source.CopyObjects(source); // copying onto itself keeps the list
        QCOMPARE(source.Count(), 2);
    }

    void roundingHalvesToEven() {
        QCOMPARE(roundToInt16(2.5), std::int16_t(2));
        QCOMPARE(roundToInt16(3.5), std::int16_t(4));
        QCOMPARE(roundToInt16(-2.5), std::int16_t(-2));
        QCOMPARE(roundToInt16(2.51), std::int16_t(3));
        QCOMPARE(roundToInt16(32767.4), std::int16_t(32767));
        QCOMPARE(roundToInt16(-32768.5), std::int16_t(-32768));
        QVERIFY_THROWS_EXCEPTION(TessalyError, roundToInt16(32767.5));
        QVERIFY_THROWS_EXCEPTION(TessalyError, roundToInt16(-32769));
        QVERIFY_THROWS_EXCEPTION(TessalyError, roundToInt16(std::nan("")));
        QCOMPARE(roundToInt32(20.5), 20);
        QCOMPARE(roundToInt32(21.5), 22);
        QVERIFY_THROWS_EXCEPTION(TessalyError, roundToInt32(1e12));
        try {
            roundToInt16(1e6);
        } catch (const TessalyError& e) {
            QCOMPARE(e.number(), 6);
            QCOMPARE(e.description(), QStringLiteral("Overflow"));
        }
    }

    void leadingNumberReadsLikeUserInput() {
        QCOMPARE(leadingNumber(QStringLiteral("20")), 20.0);
        QCOMPARE(leadingNumber(QStringLiteral("  42abc")), 42.0);
        QCOMPARE(leadingNumber(QStringLiteral("\t 3 (Normal)")), 3.0);
        QCOMPARE(leadingNumber(QStringLiteral("1 2 3")), 1.0);
        QCOMPARE(leadingNumber(QStringLiteral("-3.25x")), -3.25);
        QCOMPARE(leadingNumber(QStringLiteral("abc")), 0.0);
        QCOMPARE(leadingNumber(QStringLiteral("")), 0.0);
        QCOMPARE(leadingNumber(QStringLiteral("-")), 0.0);
        QCOMPARE(leadingNumber(QStringLiteral(".5")), 0.5);
        QCOMPARE(leadingNumber(QStringLiteral("1e3")), 1000.0);
        QCOMPARE(leadingNumber(QStringLiteral("1e")), 1.0);
        QCOMPARE(leadingNumber(QStringLiteral("&H1F")), 31.0);
        QCOMPARE(leadingNumber(QStringLiteral("&o17")), 15.0);
        QCOMPARE(leadingNumber(QStringLiteral("&o19")), 1.0);
        QCOMPARE(leadingNumber(QStringLiteral("12:30")), 12.0);
    }

    void fixedForms() {
        QCOMPARE(formatWhole(1), QStringLiteral("1"));
        QCOMPARE(formatWhole(120), QStringLiteral("120"));
        QCOMPARE(formatFourDigits(3), QStringLiteral("0003"));
        QCOMPARE(formatFourDigits(12345), QStringLiteral("12345"));
        QCOMPARE(formatDateMDY(QDate(1999, 2, 3)), QStringLiteral("02/03/1999"));
        QCOMPARE(formatGeneralDate(QDateTime(QDate(1999, 12, 6), QTime(10, 15, 2))),
                 QStringLiteral("12/6/1999 10:15:02 AM"));
        QCOMPARE(formatGeneralDate(QDateTime(QDate(2000, 1, 1), QTime(0, 0, 9))),
                 QStringLiteral("1/1/2000 12:00:09 AM"));
        QCOMPARE(formatGeneralDate(QDateTime(QDate(2000, 1, 1), QTime(23, 59, 59))),
                 QStringLiteral("1/1/2000 11:59:59 PM"));
        QCOMPARE(secondsSinceMidnight(QTime(1, 2, 3)), 3723);
    }
};

QTEST_GUILESS_MAIN(TestShared)
#include "test_shared.moc"
