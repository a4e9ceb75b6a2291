// The filter window: its parts, the order of its checks, Cancel and the refused close box.

#include "features/filters/cfilter.h"
#include "ui/filters/frmfilter.h"
#include "tests/fakes/scriptedprompter.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tessaly;

class TestFrmFilter : public QObject {
    Q_OBJECT
private slots:
    void partsAndChecks() {
        ScriptedPrompter prompter;
        FrmFilter w(prompter);
        QCOMPARE(w.windowTitle(), QStringLiteral("Filter Rules"));
        QCOMPARE(w.txtName()->text(), QStringLiteral("Undefined"));
        QCOMPARE(w.cmbField1()->count(), 4);
        QCOMPARE(w.cmbField1()->itemText(3), QStringLiteral("to"));
        QCOMPARE(w.cmbField2()->itemText(1), QStringLiteral("doesn't contain"));
        w.show();

        w.txtName()->clear();
        w.cmdOK()->click();
        QCOMPARE(prompter.messageTexts(), QStringList{QStringLiteral("Please enter a name for your mail filter.")});
        QVERIFY(w.isVisible());
        w.txtName()->setText(QStringLiteral("Junk"));
        w.cmdOK()->click();
        QCOMPARE(prompter.messageTexts().last(), QStringLiteral("Please enter the filter string."));
        // A double quote would not read back from the filter file.
        w.txtString()->setText(QStringLiteral("say \"hi\""));
        w.cmdOK()->click();
        QVERIFY(prompter.messageTexts().last().contains(QStringLiteral("double quote")));
        QVERIFY(w.isVisible());

        w.txtString()->setText(QStringLiteral("win"));
        w.cmbField1()->setCurrentIndex(3);
        w.cmbField2()->setCurrentIndex(2);
        w.cmdOK()->click();
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Cancelled());
        CFilter rule;
        w.ReadInto(rule);
        QCOMPARE(rule.Name(), QStringLiteral("Junk"));
        QCOMPARE(rule.FilterObject(), CFilter::Recipient);
        QCOMPARE(rule.FilterAction(), CFilter::Is);
        QCOMPARE(rule.FilterText(), QStringLiteral("win"));

        // Opening again for an existing rule; the close box is refused; Cancel hides.
        rule.SetFilterAction(CFilter::DoesNotContain);
        w.Show(rule);
        w.show();
        w.close();
        QVERIFY(w.isVisible());
        w.cmdCancel()->click();
        QVERIFY(!w.isVisible());
        QVERIFY(w.Cancelled());
        QCOMPARE(w.cmbField2()->currentIndex(), 1);
    }
};

QTEST_MAIN(TestFrmFilter)
#include "test_frmfilter.moc"
