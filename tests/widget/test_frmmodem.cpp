// The modem window's profile table and settings, and the pages sent by hand:
// the immediate message window and the options dialog's test connection.

#include "features/paging/cpagermessage.h"
#include "ui/options/frmoptions.h"
#include "ui/paging/frmmessage.h"
#include "ui/paging/frmmodem.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/programrig.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace tessaly;

namespace {

template <typename T> T* child(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}
void click(QWidget* root, const char* name) { QTest::mouseClick(child<QPushButton>(root, name), Qt::LeftButton); }
// Chooses an entry as the user does, so the drop-down reports it.
void choose(QWidget* root, const char* name, int index) {
    auto* box = child<QComboBox>(root, name);
    box->setCurrentIndex(index);
    emit box->activated(index);
}
QStringList names(const LiveSettings& s) {
    QStringList out;
    for (int i = 0; i <= s.highestModemProfile; ++i)
        out << s.modemProfiles[static_cast<std::size_t>(i)].name;
    return out;
}

struct Rig {
    ProgramRig rig;
    FakeSerialControl serial{rig.pump};
    MainProgram& program = rig.startWithoutProfile({.serial = &serial});
    LiveSettings& s = program.Settings();
};

} // namespace

class TestFrmModem : public QObject {
    Q_OBJECT
private slots:
    void addingStopsAtTheLastSlot();
    void deletingMovesLaterProfilesDown();
    void saveSetsTheSerialControl();
    void immediateMessage();
    void testConnection();
};

void TestFrmModem::addingStopsAtTheLastSlot() {
    Rig r;
    FrmModem w(r.program.ModemServices());
    w.show();
    auto* modem = child<QComboBox>(&w, "cmbModem");
    QCOMPARE(modem->currentText(), QStringLiteral("Hayes Compatible"));
    QCOMPARE(child<QLineEdit>(&w, "txtPGRInitString")->text(), QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));

    // A cancelled or empty name adds nothing; blanks are a name.
    r.rig.prompter.queueInput(std::nullopt);
    r.rig.prompter.queueInput(QString());
    click(&w, "cmdAdd");
    click(&w, "cmdAdd");
    QCOMPARE(r.s.highestModemProfile, std::int16_t(2));
    QVERIFY(!r.program.ProfileChanged());
    child<QLineEdit>(&w, "txtPGRInitString")->setText(QStringLiteral("ATQ0"));
    for (int i = 3; i <= 20; ++i) {
        r.rig.prompter.queueInput(i == 3 ? QStringLiteral("   ") : QStringLiteral("Modem %1").arg(i));
        click(&w, "cmdAdd");
    }
    QCOMPARE(r.rig.prompter.inputPrompts().size(), 20);
    QCOMPARE(r.rig.prompter.inputPrompts().first(), QStringLiteral("Enter name for new modem"));
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList());
    QCOMPARE(r.s.highestModemProfile, std::int16_t(20));
    QCOMPARE(r.s.selectedModemProfile, std::int16_t(20));
    QCOMPARE(r.s.modemProfiles[3].name, QStringLiteral("   "));
    QCOMPARE(r.s.modemProfiles[20].initString, QStringLiteral("ATQ0"));
    QCOMPARE(modem->count(), 21);
    QCOMPARE(modem->currentText(), QStringLiteral("Modem 20"));
    QVERIFY(r.program.ProfileChanged());

    r.rig.prompter.queueInput(QStringLiteral("One too many"));
    click(&w, "cmdAdd");
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList{QStringLiteral("20 Modems Max")});
    QCOMPARE(r.rig.prompter.inputPrompts().size(), 20); // no name was asked for
    QCOMPARE(modem->count(), 21);
}

void TestFrmModem::deletingMovesLaterProfilesDown() {
    Rig r;
    auto w = std::make_unique<FrmModem>(r.program.ModemServices());
    w->show();
    choose(w.get(), "cmbModem", 1);
    QCOMPARE(child<QLineEdit>(w.get(), "txtPGRInitString")->text(), QStringLiteral("AT&F"));
    r.rig.prompter.queueAnswer(MsgAnswer::No);
    click(w.get(), "cmdDelete");
    QCOMPARE(r.s.highestModemProfile, std::int16_t(2));
    QVERIFY(!r.program.ProfileChanged());
    QCOMPARE(r.rig.prompter.messages().last().text, QStringLiteral("Delete Factory Settings?"));
    QCOMPARE(r.rig.prompter.messages().last().buttons, MsgButtons::YesNo);
    QCOMPARE(r.rig.prompter.messages().last().icon, MsgIcon::Warning);

    r.rig.prompter.queueAnswer(MsgAnswer::Yes);
    click(w.get(), "cmdDelete");
    QCOMPARE(names(r.s), (QStringList{QStringLiteral("Stored Profile"), QStringLiteral("Hayes Compatible")}));
    QCOMPARE(r.s.modemProfiles[1].initString, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    QCOMPARE(r.s.selectedModemProfile, std::int16_t(0));
    QVERIFY(r.program.ProfileChanged());
    QCOMPARE(child<QLineEdit>(w.get(), "txtPGRInitString")->text(), QString());
    QCOMPARE(child<QComboBox>(w.get(), "cmbModem")->currentIndex(), 0);

    // Down to the last one, which stays.
    for (int i = 0; i < 2; ++i) {
        r.rig.prompter.queueAnswer(MsgAnswer::Yes);
        choose(w.get(), "cmbModem", 0);
        click(w.get(), "cmdDelete");
    }
    QCOMPARE(r.rig.prompter.messageTexts().last(), QStringLiteral("No Entries"));
    QCOMPARE(names(r.s), QStringList{QStringLiteral("Hayes Compatible")});
    // With nothing chosen, Yes only beeps.
    r.rig.prompter.clear();
    r.rig.prompter.queueAnswer(MsgAnswer::Yes);
    click(w.get(), "cmdDelete");
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList{QStringLiteral("Delete ?")});
    w.reset();
    FrmModem again(r.program.ModemServices());
    QCOMPARE(child<QComboBox>(&again, "cmbModem")->count(), 1);
    QCOMPARE(child<QComboBox>(&again, "cmbModem")->currentText(), QStringLiteral("Hayes Compatible"));
}

void TestFrmModem::saveSetsTheSerialControl() {
    Rig r;
    {
        // Cancel stores nothing.
        FrmModem w(r.program.ModemServices());
        w.show();
        choose(&w, "cmbCommPort", 7);
        click(&w, "cmdCancel");
        QCOMPARE(r.s.modemPortIndex, std::int16_t(2));
    }
    FrmModem w(r.program.ModemServices());
    w.show();
    QCOMPARE(child<QComboBox>(&w, "cmbCommPort")->currentText(), QStringLiteral("COM2"));
    choose(&w, "cmbCommPort", 4);
    QCOMPARE(child<QComboBox>(&w, "cmbCommPort")->currentText(), QStringLiteral("COM4"));
    choose(&w, "cmbFlow", 2);
    choose(&w, "cmbDialType", 1);
    choose(&w, "cmbVolume", 2);
    choose(&w, "cmbSpeaker", 3);
    child<QLineEdit>(&w, "txtRetries")->setText(QStringLiteral("5"));
    child<QLineEdit>(&w, "txtSeconds")->setText(QStringLiteral("12"));
    child<QLineEdit>(&w, "txtPGRInitString")->setText(QStringLiteral("ATX3"));
    click(&w, "cmdSave");
    QVERIFY(!w.isVisible());
    QCOMPARE(r.s.modemPortIndex, std::int16_t(4));
    QCOMPARE(r.serial.CommPort(), 4);
    QCOMPARE(r.serial.FlowControl(), 2);
    QCOMPARE(r.s.flowControlIndex, std::int16_t(2));
    QCOMPARE(r.s.dialTypeIndex, std::int16_t(1));
    QCOMPARE(r.s.speakerVolumeIndex, std::int16_t(2));
    QCOMPARE(r.s.speakerModeIndex, std::int16_t(3));
    QCOMPARE(r.s.retries, std::int16_t(5));
    QCOMPARE(r.s.retryWait, std::int16_t(12));
    QCOMPARE(r.s.modemProfiles[2].initString, QStringLiteral("ATX3"));
    QVERIFY(r.program.ProfileChanged());

    // The options dialog's Save hands the port and the command to the service.
    r.program.POPAccounts().Add(QStringLiteral("Home"), QStringLiteral("pop.home"), 110, QStringLiteral("me"),
                                QStringLiteral("pw"), true);
    FrmOptions d(r.program.OptionsServices(), r.program.ManualPageServices(), r.program.ModemServices());
    click(&d, "cmdSave");
    QCOMPARE(r.program.Services().Item(1).CommPort(), std::int16_t(4));
    QCOMPARE(r.program.Services().Item(1).Initstring(), QStringLiteral("ATX3"));
}

void TestFrmModem::immediateMessage() {
    Rig r;
    CPager& pager = r.program.Pagers().Item(1);
    pager.SetUsername(QStringLiteral("ann"));
    pager.SetServiceName(QStringLiteral("Default"));
    pager.SetID(QStringLiteral("1234"));
    pager.SetDigitalNumber(QStringLiteral("5550000"));
    pager.SetEmailAddress(QStringLiteral("1234@pager.test"));
    pager.SetFromAddress(QStringLiteral("me@home.test"));
    r.s.connectionType = ConnDirect;
    ManualPageContext ctx = r.program.ManualPageServices();
    QStringList sent; // service|pager id|message|type|from, as SendQueue found them
    ctx.sendQueue = [&] {
        for (const CPagerMessage& m : r.program.Queue())
            sent << QStringList{m.Service(), m.PagerID(), m.Message(), QString::number(m.PagerType()), m.FromAddress()}
                        .join(QLatin1Char('|'));
        r.program.Queue().ClearQueue();
    };
    FrmMessage w(ctx);
    w.show();
    QApplication::setActiveWindow(&w);
    QCOMPARE(child<QLabel>(&w, "lblUser")->text(), QStringLiteral("ann"));
    auto* text = w.txtMessage();
    QTest::keyClicks(text, QStringLiteral("ab"));
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_C);
    QCOMPARE(text->toPlainText(), QStringLiteral("ab c"));
    QCOMPARE(w.lblChar()->text(), QStringLiteral("Number of Characters: 4"));

    struct Case {
        std::int16_t type;
        const char* typed;
        QString queued;
        bool staysOpen;
    };
    const Case cases[] = {
        {PagerAlphaSMTP, "", QStringLiteral("Default|1234@pager.test|ab c|1|me@home.test"), true},
        {PagerNumeric, "123", QStringLiteral("Default|5550000|123#|2|"), true},
        {PagerAlphaDialUp, "", QStringLiteral("Default|1234|123|0|"), false},
    };
    for (const Case& c : cases) {
        sent.clear();
        pager.SetPagerType(c.type);
        if (*c.typed) {
            click(&w, "cmdClear");
            QCOMPARE(w.lblChar()->text(), QStringLiteral("Number of Characters: 0"));
            QTest::keyClicks(text, QString::fromLatin1(c.typed));
        }
        w.show();
        click(&w, "cmdSendNow");
        QCOMPARE(sent, QStringList{c.queued});
        QCOMPARE(w.isVisible(), c.staysOpen);
    }
    // An empty or blank message dials nothing and says why.
    for (const char* typed : {"", "   "}) {
        sent.clear();
        r.rig.prompter.clear();
        click(&w, "cmdClear");
        QTest::keyClicks(text, QString::fromLatin1(typed));
        w.show();
        click(&w, "cmdSendNow");
        QCOMPARE(sent, QStringList());
        QCOMPARE(r.rig.prompter.messageTexts(), QStringList{manualpage::kEmptyMessage});
        QVERIFY(w.isVisible());
    }
    // A pasted line break is a space too.
    text->setPlainText(QStringLiteral("x\ny"));
    QCOMPARE(text->toPlainText(), QStringLiteral("x y"));
}

void TestFrmModem::testConnection() {
    ProgramRig rig;
    FakeDialupControl dialup(rig.pump);
    dialup.entries.insert(QStringLiteral("ISP"), {QStringLiteral("alice"), QStringLiteral("pw1")});
    MainProgram& program = rig.startWithoutProfile({.dialup = &dialup});
    program.Settings().dialUpEntry = QStringLiteral("Stored");
    program.Settings().connectionType = ConnDirect;
    FrmOptions d(program.OptionsServices(), program.ManualPageServices(), program.ModemServices());
    d.show();
    QTest::mouseClick(child<QWidget>(&d, "optDialUp"), Qt::LeftButton, {}, QPoint(6, 6));
    choose(&d, "cmbDialUp", child<QComboBox>(&d, "cmbDialUp")->findText(QStringLiteral("ISP")));
    click(&d, "cmdTestConnection");
    QCOMPARE(rig.prompter.messageTexts(), QStringList{QStringLiteral("Successful Connection!")});
    QVERIFY(rig.activity().contains(QStringLiteral("Internet: Connection established...")));
    QCOMPARE(dialup.calls.first(), QStringLiteral("dial ISP alice pw1"));
    QCOMPARE(dialup.calls.last(), QStringLiteral("hangup"));
    // The stored settings are untouched until Save.
    QCOMPARE(program.Settings().dialUpEntry, QStringLiteral("Stored"));
    QCOMPARE(program.Settings().connectionType, std::int16_t(ConnDirect));

    rig.prompter.clear();
    dialup.script = {{0.5, DialupControl::StateOpenPort, DialupControl::ErrorNoAnswer}};
    click(&d, "cmdTestConnection");
    QCOMPARE(rig.prompter.messageTexts().last(), QStringLiteral("Failed to Connect..."));
    QVERIFY(rig.activity().contains(QStringLiteral("Internet: Connection was not established...")));
}

QTEST_MAIN(TestFrmModem)
#include "test_frmmodem.moc"
