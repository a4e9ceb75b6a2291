// Filter rules: evaluation order, the four tests, disabled rules, the list.

#include "features/filters/cfilter.h"
#include "tests/fakes/scriptedprompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

    void fileRoundTrip() {
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        Filters f;
        f.SetDirectory(dir.path());
        QVERIFY(f.Save(prompter)); // an empty list gives an empty file
        QCOMPARE(f.Filename(), QStringLiteral("filters.dat"));
        QFile file(dir.path() + QStringLiteral("/filters.dat"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray());
        file.close();

        f.Add(QStringLiteral("Junk"), 0, 0, QStringLiteral("win"), true);
        f.Add(QStringLiteral("Ads, offers"), CFilter::Sender, CFilter::IsNot, QStringLiteral("caf\u00e9, bar"), false);
        QVERIFY(f.Save(prompter));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\"Junk\",0,0,\"win\",#TRUE#\r\n"
                                            "\"Ads, offers\",1,3,\"caf\xe9, bar\",#FALSE#\r\n"));
        file.close();

        Filters back;
        back.SetDirectory(dir.path());
        back.Read(prompter);
        back.Read(prompter); // reading again appends again
        QCOMPARE(back.Count(), 4);
        QCOMPARE(back.Item(2)->Name(), QStringLiteral("Ads, offers"));
        QCOMPARE(back.Item(2)->FilterText(), QStringLiteral("caf\u00e9, bar"));
        QCOMPARE(back.Item(2)->FilterAction(), 3);
        QVERIFY(!back.Item(2)->Enabled());
        QCOMPARE(back.Item(3)->Name(), QStringLiteral("Junk"));
        QVERIFY(prompter.messages().isEmpty());
    }

    void fileProblems() {
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        Filters f;
        f.SetDirectory(dir.path());
        f.Read(prompter); // no file yet: nothing, silently
        QCOMPARE(f.Count(), 0);
        QVERIFY(prompter.messages().isEmpty());

        f.SetDirectory(dir.path() + QStringLiteral("/missing"));
        f.Add(QStringLiteral("a"), 0, 0, QStringLiteral("x"), true);
        QVERIFY(!f.Save(prompter));
        QCOMPARE(prompter.messageTexts(), QStringList{QStringLiteral("ERROR 76: That path doesn't exist.")});

        // A double quote would end the field early: such a rule is refused and
        // the file on disk stays as it was.
        prompter.clear();
        f.SetDirectory(dir.path());
        QVERIFY(f.Save(prompter));
        f.Add(QStringLiteral("quote"), 0, 0, QStringLiteral("say \"hi\""), true);
        QVERIFY(!f.Save(prompter));
        QCOMPARE(prompter.messages().size(), 1);
        QVERIFY(prompter.messageTexts().first().contains(QStringLiteral("\"quote\"")));
        Filters back;
        back.SetDirectory(dir.path());
        back.Read(prompter);
        QCOMPARE(back.Count(), 1);

        // A cut record keeps what came before it and names the error.
        QFile file(dir.path() + QStringLiteral("/filters.dat"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\"one\",0,0,\"x\",#TRUE#\r\n\"two\",1,\r\n");
        file.close();
        prompter.clear();
        Filters cut;
        cut.SetDirectory(dir.path());
        cut.Read(prompter);
        QCOMPARE(cut.Count(), 1);
        QCOMPARE(prompter.messageTexts(), QStringList{QStringLiteral("ERROR 62 occurred.")});
        QCOMPARE(Filters::ErrorText(53), QStringLiteral("ERROR 53: That file doesn't exist."));
        QCOMPARE(Filters::ErrorText(68, QStringLiteral("/mnt")), QStringLiteral("ERROR 68: Drive /mnt: not available."));
    }
};

QTEST_GUILESS_MAIN(TestFilters)
#include "test_filters.moc"
