// The POP3 account list and the account window.

#include "features/mail/cpopaccount.h"
#include "ui/mail/frmpop3.h"
#include "tests/fakes/scriptedprompter.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tessaly;

class TestFrmPOP3 : public QObject {
    Q_OBJECT
private slots:
    void accountListAddAndCopy();
    void windowFields();
    void okChecksFieldsInOrder();
    void okRefusesPasswordsTheProfileCannotStore();
    void cancelAndCloseBox();
};

void TestFrmPOP3::accountListAddAndCopy() {
    POPAccountList source;
    CPOPAccount& a = source.Add(QStringLiteral("Home"), QStringLiteral("pop.home"), 995, QStringLiteral("me"),
                                QStringLiteral("pw"), true, QStringLiteral("home"));
    a.SetMessages(12);
    source.Add(QStringLiteral("Work"), QStringLiteral("pop.work"), 110, QStringLiteral("me2"), QString(), false);
    QCOMPARE(source.Count(), 2);
    QCOMPARE(&source.Item(QStringLiteral("HOME")), &a);
    QCOMPARE(source.KeyAt(2), QString());
    QCOMPARE(CPOPAccount().MailPort(), std::int16_t(110));

    POPAccountList target;
    target.Add(QStringLiteral("Old"), QString(), 110, QString(), QString(), true, QStringLiteral("old"));
    target.Add(QStringLiteral("Older"), QString(), 110, QString(), QString(), true);
    target.Add(QStringLiteral("Oldest"), QString(), 110, QString(), QString(), true);
    source.CopyObjects(target);
    QCOMPARE(target.Count(), 2);
    QVERIFY(!target.Contains(QStringLiteral("old")));
    QCOMPARE(target.KeyAt(1), QString()); // copies carry no keys
    const CPOPAccount& c = target.Item(1);
    QVERIFY(&c != &a);
    QCOMPARE(c.Name(), QStringLiteral("Home"));
    QCOMPARE(c.Server(), QStringLiteral("pop.home"));
    QCOMPARE(c.MailPort(), std::int16_t(995));
    QCOMPARE(c.Username(), QStringLiteral("me"));
    QCOMPARE(c.Password(), QStringLiteral("pw"));
    QVERIFY(c.CheckMail());
    QCOMPARE(c.Messages(), std::int16_t(0));
    QVERIFY(!target.Item(2).CheckMail());

    // The list itself takes a fourth account; the limit is the options dialog's.
    for (int i = 0; i < 2; ++i)
        target.Add(QStringLiteral("More"), QString(), 110, QString(), QString(), true);
    QCOMPARE(target.Count(), 4);
}

void TestFrmPOP3::windowFields() {
    ScriptedPrompter prompter;
    FrmPOP3 w(prompter);
    struct Field {
        QLineEdit* edit;
        const char* label;
        const char* tip;
        const char* text;
    };
    const Field fields[] = {
        {w.txtAccount(), "Account Name:", "", ""},
        {w.txtPOPServer(), "POP3 Server:", "Domain name of POP server", ""},
        {w.txtPOPUserName(), "UserName:", "Login username", ""},
        {w.txtPOPPassword(), "Password:", "Login Password", ""},
        {w.txtPOPPort(), "Mail Port:", "", "110"},
    };
    for (const Field& f : fields) {
        QCOMPARE(f.edit->toolTip(), QString::fromLatin1(f.tip));
        QCOMPARE(f.edit->text(), QString::fromLatin1(f.text));
        auto* form = qobject_cast<QFormLayout*>(f.edit->parentWidget()->layout());
        QVERIFY(form);
        auto* label = qobject_cast<QLabel*>(form->labelForField(f.edit));
        QVERIFY(label);
        QCOMPARE(label->text(), QString::fromLatin1(f.label));
    }
    QCOMPARE(w.txtPOPPassword()->echoMode(), QLineEdit::Password);
    QVERIFY(w.txtPOPPassword()->styleSheet().contains(QStringLiteral("lineedit-password-character: 42")));
    QCOMPARE(w.txtAccount()->parentWidget()->property("title").toString(), QStringLiteral("Incoming Mail Settings"));
    QCOMPARE(w.cmdOK()->text(), QStringLiteral("OK"));
    QCOMPARE(w.cmdCancel()->text(), QStringLiteral("Cancel"));
}

void TestFrmPOP3::okChecksFieldsInOrder() {
    ScriptedPrompter prompter;
    FrmPOP3 w(prompter);
    w.setWindowTitle(QStringLiteral("Add New POP3 Account"));
    w.show();
    w.txtPOPPort()->clear();

    auto pressOK = [&] {
        prompter.clear();
        QTest::mouseClick(w.cmdOK(), Qt::LeftButton);
        return prompter.messageTexts();
    };
    QCOMPARE(pressOK(), QStringList{QStringLiteral("Please enter a name for your POP3 account.")});
    QVERIFY(w.isVisible());
    w.txtAccount()->setText(QStringLiteral("Home"));
    QCOMPARE(pressOK(), QStringList{QStringLiteral("Please enter a password for your POP3 account.")});
    w.txtPOPPassword()->setText(QStringLiteral("secret"));
    QCOMPARE(pressOK(), QStringList{QStringLiteral("Please enter a port for your POP3 account. (default is 110)")});
    w.txtPOPPort()->setText(QStringLiteral("not a number")); // the caller converts it
    QCOMPARE(pressOK(), QStringList{QStringLiteral("Please enter a server name for your POP3 account.")});
    w.txtPOPServer()->setText(QStringLiteral("pop.example.com"));
    QCOMPARE(pressOK(), QStringList{QStringLiteral("Please enter a username for your POP3 account.")});
    QCOMPARE(prompter.messages().first().buttons, MsgButtons::OK);
    QVERIFY(w.isVisible());
    w.txtPOPUserName()->setText(QStringLiteral("me"));
    // The profile keeps ports as 16-bit numbers.
    for (const char* bad : {"not a number", "0", "32768", "-110"}) {
        w.txtPOPPort()->setText(QString::fromLatin1(bad));
        QCOMPARE(pressOK(), QStringList{kPortRangeText});
    }
    w.txtPOPPort()->setText(QStringLiteral("32767"));
    QCOMPARE(pressOK(), QStringList());
    QVERIFY(!w.isVisible());
    QVERIFY(!w.Cancelled());
    QCOMPARE(w.result(), int(QDialog::Accepted));
}

void TestFrmPOP3::okRefusesPasswordsTheProfileCannotStore() {
    ScriptedPrompter prompter;
    FrmPOP3 w(prompter);
    w.show();
    w.txtAccount()->setText(QStringLiteral("Home"));
    w.txtPOPServer()->setText(QStringLiteral("pop.example.com"));
    w.txtPOPUserName()->setText(QStringLiteral("me"));
    for (const QString& bad : {QStringLiteral("a,b"), QString(255, QLatin1Char('x')), QStringLiteral("\u20ac")}) {
        prompter.clear();
        w.txtPOPPassword()->setText(bad);
        QTest::mouseClick(w.cmdOK(), Qt::LeftButton);
        QCOMPARE(prompter.messageTexts(), QStringList{kPasswordNotStorableText});
        QVERIFY(w.isVisible());
    }
    prompter.clear();
    w.txtPOPPassword()->setText(QStringLiteral(",ab"));
    QTest::mouseClick(w.cmdOK(), Qt::LeftButton);
    QCOMPARE(prompter.messageTexts(), QStringList());
    QVERIFY(!w.isVisible());
}

void TestFrmPOP3::cancelAndCloseBox() {
    ScriptedPrompter prompter;
    FrmPOP3 w(prompter);
    w.show();
    QVERIFY(!w.close()); // the close box is refused
    QVERIFY(w.isVisible());
    QVERIFY(!w.Cancelled());
    QTest::mouseClick(w.cmdCancel(), Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QVERIFY(w.Cancelled());
    QCOMPARE(prompter.messageTexts(), QStringList());

    // Opening again clears the flag; Escape acts as Cancel. Run modally,
    // as the options dialog does.
    QTimer::singleShot(0, &w, [&] {
        QVERIFY(!w.Cancelled());
        QTest::keyClick(&w, Qt::Key_Escape);
    });
    QCOMPARE(w.exec(), int(QDialog::Rejected));
    QVERIFY(w.Cancelled());
}

QTEST_MAIN(TestFrmPOP3)
#include "test_frmpop3.moc"
