// Filter rules: evaluation order, the four tests, disabled rules, the list.

#include "app/filters/cfilter.h"

#include <QtTest>

using namespace tessaly;

class TestFilters : public QObject {
    Q_OBJECT
private slots:
    void evaluation() {
        Filters f;
        QVERIFY(!f.CheckForSpam(QStringLiteral("anything"), {}, {}, {}));
        f.Add(QStringLiteral("free"), CFilter::Subject, CFilter::Contains, QStringLiteral("FREE"), true);
        QVERIFY(f.CheckForSpam(QStringLiteral("free stuff inside"), {}, {}, {}));
        QVERIFY(!f.CheckForSpam(QStringLiteral("fr ee"), {}, {}, {}));

        Filters s;
        s.Add(QStringLiteral("boss"), CFilter::Sender, CFilter::Is, QStringLiteral("boss@x.org"), true);
        QVERIFY(!s.CheckForSpam({}, {}, QStringLiteral("the boss <boss@x.org>"), {}));
        QVERIFY(s.CheckForSpam({}, {}, QStringLiteral("BOSS@x.org"), {}));
        s.Item(1)->SetFilterAction(CFilter::Contains);
        QVERIFY(s.CheckForSpam({}, {}, QStringLiteral("the boss <boss@x.org>"), {}));

        // A message skipped for its size has no body.
        Filters b;
        b.Add(QStringLiteral("b"), CFilter::Body, CFilter::Contains, QStringLiteral("unsubscribe"), true);
        QVERIFY(!b.CheckForSpam(QStringLiteral("s"), {}, {}, QString()));
        b.Item(1)->SetFilterAction(CFilter::DoesNotContain);
        QVERIFY(b.CheckForSpam(QStringLiteral("s"), {}, {}, QString()));

        Filters r;
        r.Add(QStringLiteral("not me"), CFilter::Recipient, CFilter::IsNot, QStringLiteral("me@x"), true);
        QVERIFY(!r.CheckForSpam({}, QStringLiteral("ME@X"), {}, {}));
        QVERIFY(r.CheckForSpam({}, QStringLiteral("other@x"), {}, {}));
        // Unknown tests never match.
        r.Item(1)->SetFilterAction(7);
        QVERIFY(!r.CheckForSpam({}, QStringLiteral("other@x"), {}, {}));
    }

    void disabledRulesAndOrder() {
        Filters f;
        f.Add(QStringLiteral("off"), CFilter::Subject, CFilter::Contains, QString(), false);
        QVERIFY(!f.CheckForSpam(QStringLiteral("x"), {}, {}, {}));
        // An enabled "contains" with empty text matches everything.
        f.Add(QStringLiteral("all"), CFilter::Subject, CFilter::Contains, QString(), true);
        QVERIFY(f.CheckForSpam(QStringLiteral("x"), {}, {}, {}));
    }

    void listOperations() {
        Filters f;
        QVERIFY(f.Add(QStringLiteral("a"), 0, 0, QStringLiteral("x"), true, QStringLiteral("k")));
        QVERIFY(!f.Add(QStringLiteral("b"), 0, 0, QStringLiteral("y"), true, QStringLiteral("K")));
        QVERIFY(f.Add(QStringLiteral("c"), 1, 2, QStringLiteral("z"), false));
        QCOMPARE(f.Count(), 2);
        QVERIFY(f.Item(0) == nullptr);
        QVERIFY(f.Item(3) == nullptr);
        QVERIFY(f.Item(QStringLiteral("nope")) == nullptr);
        QCOMPARE(f.Item(QStringLiteral("k"))->Name(), QStringLiteral("a"));

        Filters copy;
        copy.Add(QStringLiteral("old"), 0, 0, QStringLiteral("o"), true);
        f.CopyObjects(copy);
        QCOMPARE(copy.Count(), 2);
        QCOMPARE(copy.Item(2)->FilterAction(), 2);
        QVERIFY(!copy.Item(2)->Enabled());
        QVERIFY(copy.Item(QStringLiteral("k")) == nullptr); // copies carry no key
        copy.Item(1)->SetName(QStringLiteral("changed"));
        QCOMPARE(f.Item(1)->Name(), QStringLiteral("a"));
    }
};

QTEST_GUILESS_MAIN(TestFilters)
#include "test_filters.moc"
