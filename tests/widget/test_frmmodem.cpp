// The modem window's profile table and settings, and the pages sent by hand:
// the immediate message window and the options dialog's test connection.

#include "features/paging/cpagermessage.h"
#include "features/paging/manualpage.h"
#include "tests/fakes/pagingsetup.h"
#include "ui/options/frmoptions.h"
#include "ui/paging/frmmessage.h"
#include "ui/paging/frmmodem.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/programrig.h"

#include <QAbstractButton>
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
    void cancelDiscardsAndEmptyInitAsks();
    void saveSetsTheSerialControl();
    void immediateMessage();
    void testPageTellsTheOutcome();
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
    QCOMPARE(modem->count(), 3);
    child<QLineEdit>(&w, "txtPGRInitString")->setText(QStringLiteral("ATQ0"));
    for (int i = 3; i <= 20; ++i) {
        r.rig.prompter.queueInput(i == 3 ? QStringLiteral("   ") : QStringLiteral("Modem %1").arg(i));
        click(&w, "cmdAdd");
    }
    QCOMPARE(r.rig.prompter.inputPrompts().size(), 20);
    QCOMPARE(r.rig.prompter.inputPrompts().first(), QStringLiteral("Enter name for new modem"));
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList());
    QCOMPARE(modem->count(), 21);
    QCOMPARE(modem->currentText(), QStringLiteral("Modem 20"));

    r.rig.prompter.queueInput(QStringLiteral("One too many"));
    click(&w, "cmdAdd");
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList{QStringLiteral("20 Modems Max")});
    QCOMPARE(r.rig.prompter.inputPrompts().size(), 20); // no name was asked for
    QCOMPARE(modem->count(), 21);

    // Nothing is stored before Save.
    QCOMPARE(r.s.highestModemProfile, std::int16_t(2));
    QVERIFY(!r.program.ProfileChanged());
    click(&w, "cmdSave");
    QCOMPARE(r.s.highestModemProfile, std::int16_t(20));
    QCOMPARE(r.s.selectedModemProfile, std::int16_t(20));
    QCOMPARE(r.s.modemProfiles[3].name, QStringLiteral("   "));
    QCOMPARE(r.s.modemProfiles[20].initString, QStringLiteral("ATQ0"));
    QVERIFY(r.program.ProfileChanged());
}

void TestFrmModem::deletingMovesLaterProfilesDown() {
    Rig r;
    auto w = std::make_unique<FrmModem>(r.program.ModemServices());
    w->show();
    choose(w.get(), "cmbModem", 1);
    QCOMPARE(child<QLineEdit>(w.get(), "txtPGRInitString")->text(), QStringLiteral("AT&F"));
    r.rig.prompter.queueAnswer(MsgAnswer::No);
    click(w.get(), "cmdDelete");
    QCOMPARE(child<QComboBox>(w.get(), "cmbModem")->count(), 3);
    QCOMPARE(r.rig.prompter.messages().last().text, QStringLiteral("Delete Factory Settings?"));
    QCOMPARE(r.rig.prompter.messages().last().buttons, MsgButtons::YesNo);
    QCOMPARE(r.rig.prompter.messages().last().icon, MsgIcon::Warning);

    r.rig.prompter.queueAnswer(MsgAnswer::Yes);
    click(w.get(), "cmdDelete");
    // The first profile is chosen, and the field shows its command.
    QCOMPARE(child<QComboBox>(w.get(), "cmbModem")->currentIndex(), 0);
    QCOMPARE(child<QLineEdit>(w.get(), "txtPGRInitString")->text(), QStringLiteral("ATZ"));
    click(w.get(), "cmdSave");
    QCOMPARE(names(r.s), (QStringList{QStringLiteral("Stored Profile"), QStringLiteral("Hayes Compatible")}));
    QCOMPARE(r.s.modemProfiles[0].initString, QStringLiteral("ATZ"));
    QCOMPARE(r.s.modemProfiles[1].initString, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    QCOMPARE(r.s.selectedModemProfile, std::int16_t(0));
    QVERIFY(r.program.ProfileChanged());

    // Down to the last one, which stays, in the table and in the drop-down.
    w = std::make_unique<FrmModem>(r.program.ModemServices());
    w->show();
    for (int i = 0; i < 2; ++i) {
        r.rig.prompter.queueAnswer(MsgAnswer::Yes);
        choose(w.get(), "cmbModem", 0);
        click(w.get(), "cmdDelete");
    }
    QCOMPARE(r.rig.prompter.messageTexts().last(), QStringLiteral("No Entries"));
    QCOMPARE(child<QComboBox>(w.get(), "cmbModem")->currentText(), QStringLiteral("Hayes Compatible"));
    QCOMPARE(child<QLineEdit>(w.get(), "txtPGRInitString")->text(), QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    // With nothing chosen, Yes only beeps.
    r.rig.prompter.clear();
    r.rig.prompter.queueAnswer(MsgAnswer::Yes);
    child<QComboBox>(w.get(), "cmbModem")->setCurrentIndex(-1);
    click(w.get(), "cmdDelete");
    QCOMPARE(r.rig.prompter.messageTexts(), QStringList{QStringLiteral("Delete ?")});
    click(w.get(), "cmdSave");
    w.reset();
    FrmModem again(r.program.ModemServices());
    QCOMPARE(child<QComboBox>(&again, "cmbModem")->count(), 1);
    QCOMPARE(child<QComboBox>(&again, "cmbModem")->currentText(), QStringLiteral("Hayes Compatible"));
    QCOMPARE(r.s.modemProfiles[0].initString, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
}

// Cancel throws away what Add and Del did; Save never stores an empty init
// string over a profile's command unless the user says so.
void TestFrmModem::cancelDiscardsAndEmptyInitAsks() {
    struct Case {
        const char* name;
        bool add;      // add "Mine" with the shown command
        int del;       // delete this entry first (-1: none)
        bool empty;    // empty the init string field
        std::optional<MsgAnswer> answer; // to the empty-init question (none: not asked)
        const char* button;
        QStringList names;  // stored afterwards
        QString init;       // command of the selected profile afterwards
        bool closed;
    };
    const QStringList defaults{QStringLiteral("Stored Profile"), QStringLiteral("Factory Settings"),
                               QStringLiteral("Hayes Compatible")};
    const QString hayes = QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0");
    const Case cases[] = {
        {"cancel after add", true, -1, false, std::nullopt, "cmdCancel", defaults, hayes, true},
        {"cancel after del", false, 1, false, std::nullopt, "cmdCancel", defaults, hayes, true},
        {"del then save keeps the first command", false, 2, false, std::nullopt, "cmdSave",
         {QStringLiteral("Stored Profile"), QStringLiteral("Factory Settings")}, QStringLiteral("ATZ"), true},
        {"emptied, answered No", false, -1, true, MsgAnswer::No, "cmdSave", defaults, hayes, false},
        {"emptied, answered Yes", false, -1, true, MsgAnswer::Yes, "cmdSave", defaults, QString(), true},
    };
    for (const Case& c : cases) {
        Rig r;
        FrmModem w(r.program.ModemServices());
        w.show();
        if (c.add) {
            r.rig.prompter.queueInput(QStringLiteral("Mine"));
            click(&w, "cmdAdd");
        }
        if (c.del >= 0) {
            choose(&w, "cmbModem", c.del);
            r.rig.prompter.queueAnswer(MsgAnswer::Yes);
            click(&w, "cmdDelete");
        }
        if (c.empty)
            child<QLineEdit>(&w, "txtPGRInitString")->clear();
        r.rig.prompter.clear();
        if (c.answer)
            r.rig.prompter.queueAnswer(*c.answer);
        click(&w, c.button);
        const QStringList asked = c.answer ? QStringList{modem::kEmptyInitQuestion.arg(QStringLiteral("Hayes Compatible"))}
                                           : QStringList();
        QVERIFY2(r.rig.prompter.messageTexts() == asked, c.name);
        QVERIFY2(names(r.s) == c.names, c.name);
        QVERIFY2(r.s.modemProfiles[static_cast<std::size_t>(r.s.selectedModemProfile)].initString == c.init, c.name);
        QVERIFY2(w.isVisible() != c.closed, c.name);
        QVERIFY2(r.program.ProfileChanged() == (c.closed && QLatin1String(c.button) == QLatin1String("cmdSave")),
                 c.name);
    }
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
    ctx.sendQueue = [&](const MessageQueue::PageOutcome&, const ManualPageContext::LineSink&) {
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

// "Test Page" with the pager the dialog shows and the service as saved,
// through the program's own queue to a scripted modem: the message box says
// what became of the page.
void TestFrmModem::testPageTellsTheOutcome() {
    using namespace manualpage;
    const QString notDelivered = kTestNotDelivered + QStringLiteral("\n\n");
    struct Case {
        const char* name;
        int type;
        const char* field; // the pager field typed, and what
        const char* value;
        const char* storedPhone; // the saved service's phone
        double cancelAt;         // seconds after the press; 0: no Cancel
        QString message;         // the whole box, or (ending in two line ends) how it starts
        bool dials;
    };
    const Case cases[] = {
        {"direct, delivered", 0, "txtPagerID", "1234", "5551234", 0, kTestConfirmation, true},
        {"direct, busy", 0, "txtPagerID", "1234", "5552222", 0, notDelivered, true},
        {"direct, cancelled while dialling", 0, "txtPagerID", "1234", "5553333", 3, kTestCancelled, true},
        {"direct, no pager ID", 0, "txtPagerID", " ", "5551234", 0, kTestNeedsPagerId, false},
        {"direct, service phone only typed, not saved", 0, "txtPagerID", "1234", "", 0, kTestNeedsServicePhone,
         false},
        {"e-mail, no address", 1, "txtPagerEmail", "", "5551234", 0, kTestNeedsEmail, false},
        {"e-mail, no mail control", 1, "txtPagerEmail", "1234@pager.test", "", 0, kTestNotDelivered, false},
        {"numeric, delivered", 2, "txtNumericPhone", "5550000", "", 0, kNumericTestConfirmation, true},
        {"numeric, busy", 2, "txtNumericPhone", "5554444", "", 0, notDelivered, true},
        {"numeric, no number", 2, "txtNumericPhone", "", "", 0, kTestNeedsNumber, false},
    };
    for (const Case& c : cases) {
        Rig r;
        r.s.retries = 0;
        r.s.connectionType = ConnDirect;
        const QByteArray ok = "\r\nOK\r\n";
        r.serial.answer(QStringLiteral("^ATDT555(2222|4444)"), "\r\nBUSY\r\n", 2);
        r.serial.answer(QStringLiteral("^ATDT5553333$"), "\r\nCONNECT 1200\r\n", 30);
        r.serial.answer(QStringLiteral("^ATD[TP][0-9]+$"), "\r\nCONNECT 1200\r\n", 1);
        r.serial.answer(QStringLiteral("^AT"), ok);
        r.serial.answer(QStringLiteral("^$"), "ID=", 0.3);
        r.serial.answer(QStringLiteral("^\\x1bPG1"), "\r\x06\r\x1b[p\r", 0.3);
        r.serial.answer(QStringLiteral("^\\x03"), "\x06\r", 0.3);
        r.serial.answer(QStringLiteral("^\\x04$"), "\x1b\x04\r", 0.2);
        CPagerService& service = r.program.Services().Item(1);
        setUpTapService(service, QString::fromLatin1(c.storedPhone), 2);
        service.SetDigitalDelay(2);

        FrmOptions d(r.program.OptionsServices(), r.program.ManualPageServices(), r.program.ModemServices());
        d.show();
        d.ShowPage(QStringLiteral("Paging"));
        child<QLineEdit>(&d, "txtServicePhone")->setText(QStringLiteral("5551234")); // on screen only
        d.ShowPage(QStringLiteral("Pager"));
        auto* option = child<QAbstractButton>(&d, QStringLiteral("optPagerType%1").arg(c.type).toLatin1().constData());
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
        child<QLineEdit>(&d, c.field)->setText(QString::fromLatin1(c.value));
        if (c.cancelAt > 0)
            r.rig.pump.schedule(c.cancelAt, [&r] { r.program.Status().CancelClicked(); });
        click(&d, "cmdTestPage");

        const QStringList shown = r.rig.prompter.messageTexts();
        QVERIFY2(shown.size() == 1, qPrintable(QString::fromLatin1(c.name) + QStringLiteral(": ") + shown.join('|')));
        if (c.message.endsWith(QStringLiteral("\n\n"))) {
            // Not delivered: the box quotes the activity lines that say why.
            QVERIFY2(shown[0].startsWith(c.message), qPrintable(QString::fromLatin1(c.name) + QStringLiteral(": ") + shown[0]));
            const QStringList why = shown[0].mid(c.message.size()).split(QLatin1Char('\n'));
            QVERIFY2(!why.isEmpty() && !why.last().isEmpty(), c.name);
            for (const QString& line : why)
                QVERIFY2(r.rig.activity().contains(line), qPrintable(line));
        } else {
            QVERIFY2(shown[0] == c.message, qPrintable(QString::fromLatin1(c.name) + QStringLiteral(": ") + shown[0]));
        }
        QVERIFY2(r.serial.written.contains("ATD") == c.dials, c.name);
        QCOMPARE(r.program.Queue().Count(), 0);
        QVERIFY(!r.serial.PortOpen());
    }
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
