// The options dialog driven as a user drives it: tabs clicked, fields typed,
// boxes ticked, the account and filter windows answered, Save pressed; then
// the profile file and the settings store are read back by a second program.

#include "features/connection/connection.h"
#include "features/paging/carriersettings.h"
#include "state/appinfo.h"
#include "state/remotesafety.h"
#include "ui/filters/frmfilter.h"
#include "ui/main/frmmain.h"
#include "ui/mail/frmpop3.h"
#include "ui/options/frmoptions.h"
#include "ui/paging/frmmessage.h"
#include "ui/paging/frmmodem.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/programrig.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>
#include "state/mailsecurity.h"

#include "state/signinsettings.h"

#include <QtTest>
#include <functional>

using namespace tessaly;

namespace {

template <typename T> T* child(QWidget* root, const QString& name) {
    T* w = root->findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// What a user does: click the page's caption, then the widget.
void showTab(FrmOptions& d, const QString& key) {
    QListWidget* tabs = d.tabOptions();
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->item(i)->data(Qt::UserRole).toString() == key)
            QTest::mouseClick(tabs->viewport(), Qt::LeftButton, {}, tabs->visualItemRect(tabs->item(i)).center());
    if (d.CurrentPage() != key)
        qFatal("page %s not shown", qPrintable(key));
}
void type(QWidget* root, const QString& name, const QString& text) {
    auto* e = child<QLineEdit>(root, name);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
}
void tick(QWidget* root, const QString& name, bool on) {
    auto* c = child<QAbstractButton>(root, name);
    // On the box itself: a stretched check box does not take clicks right of its caption.
    if (c->isChecked() != on)
        QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(6, c->height() / 2));
}
void click(QWidget* root, const QString& name) { QTest::mouseClick(child<QPushButton>(root, name), Qt::LeftButton); }
void choose(QWidget* root, const QString& name, const QString& text) {
    auto* box = child<QComboBox>(root, name);
    const int target = box->findText(text);
    box->setFocus();
    while (box->currentIndex() != target)
        QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
}
// Runs `fill` on the next modal window (the account or filter window).
void onNextModal(std::function<void(QWidget*)> fill) {
    QTimer::singleShot(0, [fill] { fill(QApplication::activeModalWidget()); });
}
void enterAccount(QWidget* root, const QString& name) {
    onNextModal([name](QWidget* w) {
        type(w, QStringLiteral("txtAccount"), name);
        type(w, QStringLiteral("txtPOPServer"), QStringLiteral("pop.") + name + QStringLiteral(".test"));
        type(w, QStringLiteral("txtPOPUserName"), QStringLiteral("me"));
        type(w, QStringLiteral("txtPOPPassword"), QStringLiteral("pw"));
        type(w, QStringLiteral("txtPOPPort"), QStringLiteral("1110"));
        click(w, QStringLiteral("cmdOK"));
    });
    click(root, QStringLiteral("cmdNewAccount"));
}

// A started program with a serial port, a dial-up service with one entry
// and one POP3 account.
struct Setup {
    ProgramRig rig;
    FakeSerialControl serial{rig.pump};
    FakeDialupControl dialup{rig.pump};
    MainProgram* program = nullptr;

    Setup() {
        dialup.entries.insert(QStringLiteral("ISP"), {QStringLiteral("alice"), QStringLiteral("pw1")});
        rig.noStartupProfile();
        program = &rig.create({.serial = &serial, .dialup = &dialup});
        program->Startup(QString());
        program->POPAccounts().Add(QStringLiteral("Home"), QStringLiteral("pop.home"), 110, QStringLiteral("me"),
                                   QStringLiteral("pw"), true);
    }
    std::unique_ptr<FrmOptions> open(MainProgram& p) {
        auto d = std::make_unique<FrmOptions>(p.OptionsServices(), p.ManualPageServices(), p.ModemServices());
        d->show();
        // Focus moves (and leaving a field) need the active window.
        QApplication::setActiveWindow(d.get());
        return d;
    }
    std::unique_ptr<FrmOptions> open() { return open(*program); }
};

// Widgets on one page whose Tab order must follow their places.
QList<QWidget*> tabChain(QWidget* page) {
    QList<QWidget*> out;
    QWidget* first = nullptr;
    for (QWidget* w = page->nextInFocusChain(); w != page && w != first; w = w->nextInFocusChain()) {
        if (!first)
            first = w;
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(page))
            out << w;
    }
    // Tab goes round: the order is read from the top left widget on.
    auto key = [page](QWidget* w) {
        const QPoint p = w->mapTo(page, QPoint(0, 0));
        return std::make_pair(p.y(), p.x());
    };
    const auto top = std::min_element(out.begin(), out.end(), [&](QWidget* a, QWidget* b) { return key(a) < key(b); });
    std::rotate(out.begin(), top, out.end());
    return out;
}
// The first widget that comes later in the Tab order but sits above or left
// of its predecessor on the same row; empty when the order is visual.
QString outOfOrder(QWidget* page) {
    const QList<QWidget*> chain = tabChain(page);
    for (int i = 1; i < chain.size(); ++i) {
        const QPoint a = chain[i - 1]->mapTo(page, QPoint(0, 0));
        const QPoint b = chain[i]->mapTo(page, QPoint(0, 0));
        const bool sameRow = std::abs(a.y() - b.y()) <= 8;
        if ((sameRow && b.x() <= a.x()) || (!sameRow && b.y() < a.y()))
            return chain[i - 1]->objectName() + QStringLiteral(" -> ") + chain[i]->objectName();
    }
    return {};
}

} // namespace

class TestFrmOptions : public QObject {
    Q_OBJECT
private slots:
    void everyFieldReachesTheProfileAndTheSettings();
    void saveChecks();
    void saveShowsTheCorrectedFieldsAgain();
    void saveKeepsAnUnreadableSecurityAndForgetsStrays();
    void accountsAndFiltersWorkOnCopies();
    void checksWhileTyping();
    void dependentFieldsFollowTheirSwitches();
    void browseAndStartupFile();
    void timerStopsWhileOpenFromEveryCommand();
    void windowsFitTheScreenAndTabInVisualOrder();
    void saveKeepsTheLoadedModemPort();
    void everyPageCaptionInViewAtOnce();
    void keysSwitchPages();
    void refusedSaveShowsTheField();
    void networkPagerReachesTheSettingsFile_data();
    void imapAccountReachesTheSettingsFile();
    void oauthSignInReachesTheSettingsFileAndTheSecretTheStore();
    void networkPagerReachesTheSettingsFile();
    void escalationReachesTheSettingsFileNotTheProfile();
};

// The fallback chain, the notice's address and the test page's time go to
// the settings file with the profile's save; the profile's bytes stay as
// they were, and the dialog shows the values when opened again.
void TestFrmOptions::escalationReachesTheSettingsFileNotTheProfile() {
    Setup s;
    auto backup = std::make_unique<CPager>();
    backup->SetUsername(QStringLiteral("backup"));
    backup->SetServiceName(QStringLiteral("Default"));
    s.program->Pagers().Add(std::move(backup), QStringLiteral("backup"));
    const QString before = s.rig.dir.path() + QStringLiteral("/before.dat");
    const QString after = s.rig.dir.path() + QStringLiteral("/after.dat");
    auto first = s.open();
    click(first.get(), QStringLiteral("cmdSave"));
    s.program->SaveProfile(before);
    QVERIFY(!s.rig.store.hasSection(kAppTitle, kEscalationSection));
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("Pager"));
    type(w, QStringLiteral("txtFallback"), QStringLiteral("2"));
    type(w, QStringLiteral("txtNoticeAddress"), QStringLiteral("oncall@example.org"));
    type(w, QStringLiteral("txtProofOfLife"), QStringLiteral("7:30"));
    click(w, QStringLiteral("cmdSave"));
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList());
    QCOMPARE(s.program->Escalation().fallback, QStringList{QStringLiteral("backup")});
    QCOMPARE(s.program->Escalation().proofOfLife, QTime(7, 30));
    s.program->SaveProfile(after);
    auto stored = [&](const char* name) { return s.rig.store.read(kAppTitle, kEscalationSection, QString::fromLatin1(name), {}); };
    QCOMPARE(stored("Fallback"), QStringLiteral("backup"));
    QCOMPARE(stored("Notify"), QStringLiteral("oncall@example.org"));
    QCOMPARE(stored("Proof Of Life"), QStringLiteral("07:30"));
    QFile a(before), b(after);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
    auto again = s.open();
    showTab(*again, QStringLiteral("Pager"));
    QCOMPARE(child<QLineEdit>(again.get(), QStringLiteral("txtFallback"))->text(), QStringLiteral("backup"));
    QCOMPARE(child<QLineEdit>(again.get(), QStringLiteral("txtProofOfLife"))->text(), QStringLiteral("07:30"));
    // Emptied, the entries leave the settings file.
    type(again.get(), QStringLiteral("txtFallback"), QString());
    type(again.get(), QStringLiteral("txtProofOfLife"), QString());
    click(again.get(), QStringLiteral("cmdSave"));
    s.program->SaveProfile(after);
    QVERIFY(!s.rig.store.contains(kAppTitle, kEscalationSection, QStringLiteral("Fallback")));
    QVERIFY(!s.rig.store.contains(kAppTitle, kEscalationSection, QStringLiteral("Proof Of Life")));
    QCOMPARE(stored("Notify"), QStringLiteral("oncall@example.org"));
}

void TestFrmOptions::everyFieldReachesTheProfileAndTheSettings() {
    Setup s;
    const QString profile = s.rig.dir.path() + QStringLiteral("/mine.dat");
    auto d = s.open();
    QWidget* w = d.get();

    // Every text field, on its page, with what the user types.
    struct Text {
        const char* page;
        const char* name;
        QString value;
    };
    const QList<Text> texts = {
        {"General", "txtStartupFile", profile},
        {"General", "txtEmailClient", QStringLiteral("/usr/bin/mailer")},
        {"General", "txtMailSize", QStringLiteral("64")},
        {"General", "txtMaxPages", QStringLiteral("7")},
        {"Internet", "txtTimeout", QStringLiteral("90")},
        {"Internet", "txtRetries", QStringLiteral("4")},
        {"Internet", "txtProxyName", QStringLiteral("proxy.lan")},
        {"Internet", "txtProxyAddress", QStringLiteral("10.0.0.8")},
        {"Internet", "txtProxyPort", QStringLiteral("3128")},
        {"Paging", "txtServicePhone", QStringLiteral("5551234")},
        {"Paging", "txtTerminalPassword", QStringLiteral("tp")},
        {"Pager", "txtUserName", QStringLiteral("ann")},
        {"Pager", "txtMaxPageLength", QStringLiteral("120")},
        {"Pager", "txtPagerEmail", QStringLiteral("5551234@pager.test")},
        {"Pager", "txtPagerFrom", QStringLiteral("ann@home.test")},
        {"Pager", "txtNumericPhone", QStringLiteral("5559999")},
        {"Pager", "txtPrefix", QStringLiteral("222*")},
        {"Pager", "txtDelay", QStringLiteral("6")},
        {"Pager", "txtPagerID", QStringLiteral("998877")},
        {"OutMail", "txtDomain", QStringLiteral("home.test")},
        {"OutMail", "txtSMTPName", QStringLiteral("smtp.home.test")},
        {"OutMail", "txtSMTPAddress", QStringLiteral("192.0.2.5")},
        {"OutMail", "txtSMTPPort", QStringLiteral("2525")},
        {"Schedule", "txtFrequency", QStringLiteral("15")},
        {"Schedule", "txtStartTime", QStringLiteral("7:30 am")},
        {"Schedule", "txtStopTime", QStringLiteral("6:00 pm")},
        {"Remote", "txtRemotePassword", QStringLiteral("sesame")},
        {"Remote", "txtRemoteSenders", QStringLiteral("me@home.test, boss@work.test")},
        {"Remote", "txtRemoteRunFolder", QStringLiteral("/srv/remote-run")},
    };
    const QList<QPair<const char*, bool>> boxes = {
        {"chkSound", true},      {"chkDownload", true},     {"chkPageHeaders", true}, {"chkPageBody", true},
        {"chkPagePriority", true}, {"chkShowStatus", false}, {"chkTray", true},       {"chkUpdates", false},
        {"chkProxy", true},      {"chkSunday", true},       {"chkWednesday", true},   {"chkMonday", false},
        {"chkRemote", true},
    };
    for (const auto& [name, on] : boxes) {
        const QString n = QString::fromLatin1(name);
        for (const char* key : {"General", "Internet", "Schedule", "Remote"})
            if (d->Page(QString::fromLatin1(key))->isAncestorOf(child<QWidget>(w, n)))
                showTab(*d, QString::fromLatin1(key));
        tick(w, n, on);
    }
    showTab(*d, QStringLiteral("General"));
    type(w, QStringLiteral("txtSoundFile"), QStringLiteral("/tmp/ding.wav"));
    showTab(*d, QStringLiteral("Internet"));
    tick(w, QStringLiteral("optDialUp"), true);
    choose(w, QStringLiteral("cmbDialUp"), QStringLiteral("ISP")); // fills user and password
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtUserID"))->text(), QStringLiteral("alice"));
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtDialPassword"))->text(), QStringLiteral("pw1"));
    showTab(*d, QStringLiteral("Paging"));
    choose(w, QStringLiteral("cmbBaud"), QStringLiteral("1200"));
    choose(w, QStringLiteral("cmbParity"), QStringLiteral("EVEN"));
    choose(w, QStringLiteral("cmbDataBits"), QStringLiteral("7"));
    choose(w, QStringLiteral("cmbStopBits"), QStringLiteral("1.5"));
    // Each pager frame is typed while its type is chosen; the direct type stays.
    showTab(*d, QStringLiteral("Pager"));
    for (const Text& t : texts) {
        const QString name = QString::fromLatin1(t.name);
        if (name == QLatin1String("txtPagerEmail"))
            tick(w, QStringLiteral("optPagerType1"), true);
        else if (name == QLatin1String("txtNumericPhone"))
            tick(w, QStringLiteral("optPagerType2"), true);
        else if (name == QLatin1String("txtPagerID"))
            tick(w, QStringLiteral("optPagerType0"), true);
        showTab(*d, QString::fromLatin1(t.page));
        type(w, name, t.value);
    }
    showTab(*d, QStringLiteral("spam"));
    onNextModal([](QWidget* f) {
        type(f, QStringLiteral("txtName"), QStringLiteral("Junk, mostly"));
        child<QComboBox>(f, QStringLiteral("cmbField1"))->setCurrentIndex(1);
        type(f, QStringLiteral("txtString"), QStringLiteral("win"));
        click(f, QStringLiteral("cmdOK"));
    });
    click(w, QStringLiteral("cmdNewFilter"));

    click(w, QStringLiteral("cmdSave"));
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList());
    QVERIFY(!d->isVisible());
    QVERIFY(s.program->ProfileChanged());
    s.program->SaveProfile(profile);

    // The settings store: the registry values and the proxy beside them.
    auto reg = [&](const char* name) {
        return s.rig.store.read(kAppTitle, kSettingsSection, QString::fromLatin1(name), QStringLiteral("?"));
    };
    QCOMPARE(reg("DefaultFile"), profile);
    QCOMPARE(reg("ShowStatus"), QStringLiteral("0"));
    QCOMPARE(reg("GetMail"), QStringLiteral("1"));
    QCOMPARE(reg("SystemTray"), QStringLiteral("1"));
    QCOMPARE(reg("EnableSound"), QStringLiteral("1"));
    QCOMPARE(reg("SoundFile"), QStringLiteral("/tmp/ding.wav"));
    QCOMPARE(reg("CheckUpdates"), QStringLiteral("False"));
    QCOMPARE(reg("UseProxy"), QStringLiteral("1"));
    const RemoteSafety safety = LoadRemoteSafety(s.rig.store);
    QCOMPARE(safety.allowedSenders, (QStringList{QStringLiteral("me@home.test"), QStringLiteral("boss@work.test")}));
    QCOMPARE(safety.runFolder, QStringLiteral("/srv/remote-run"));

    // A second program starts from that file and those settings.
    HeadlessMainView view2{false};
    FakeSerialControl serial2(s.rig.pump);
    FakeDialupControl dialup2(s.rig.pump);
    dialup2.entries = s.dialup.entries;
    MainProgram p2(PlatformServices{s.rig.pump, s.rig.prompter, s.rig.store, s.rig.sound, s.rig.dir.path(),
                                    QSize(15360, 11520), nullptr, &serial2, &dialup2},
                   view2);
    p2.Startup(QString());
    QCOMPARE(p2.CurrentProfileName(), profile);
    const LiveSettings& st = p2.Settings();
    QCOMPARE(st.smtpPort, std::int16_t(2525));
    QCOMPARE(st.connectionType, std::int16_t(ConnDialUp));
    QCOMPARE(st.dialUpEntry, QStringLiteral("ISP"));
    QCOMPARE(st.messageSizeLimit, 64);
    QCOMPARE(st.checkInterval, std::int16_t(15));
    for (int day = 1; day <= 7; ++day)
        QCOMPARE(st.weekdays[static_cast<std::size_t>(day)], day == 1 || day == 4); // Sunday, Wednesday
    const CPagerService& service = p2.Services().Item(QStringLiteral("Default"));
    QCOMPARE(service.Phone(), QStringLiteral("5551234"));
    QCOMPARE(service.Parity(), QStringLiteral("EVEN"));
    QCOMPARE(service.StopBits(), QStringLiteral("1.5"));
    QCOMPARE(service.MaxPageChar(), std::int16_t(120));
    QCOMPARE(service.DigitalDelay(), std::int16_t(6));
    QCOMPARE(service.Initstring(), QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    QCOMPARE(service.CommPort(), st.modemPortIndex);
    const CPager& pager = p2.Pagers().Item(QStringLiteral("ann"));
    QCOMPARE(pager.ID(), QStringLiteral("998877"));
    QCOMPARE(pager.PagerType(), std::int16_t(PagerAlphaDialUp));
    QCOMPARE(pager.EmailAddress(), QStringLiteral("5551234@pager.test"));
    QCOMPARE(p2.POPAccounts().Count(), 1);
    QCOMPARE(p2.GetFilters().Count(), 1);
    QCOMPARE(p2.GetFilters().Item(1)->Name(), QStringLiteral("Junk, mostly"));
    QCOMPARE(p2.GetFilters().Item(1)->FilterObject(), std::int16_t(1));

    // A second open shows what was saved.
    auto again = s.open(p2);
    for (const Text& t : texts)
        QCOMPARE(child<QLineEdit>(again.get(), QString::fromLatin1(t.name))->text(), t.value);
    for (const auto& [name, on] : boxes)
        QCOMPARE(child<QAbstractButton>(again.get(), QString::fromLatin1(name))->isChecked(), on);
    QCOMPARE(child<QLineEdit>(again.get(), QStringLiteral("txtUserID"))->text(), QStringLiteral("alice"));
    QCOMPARE(child<QComboBox>(again.get(), QStringLiteral("cmbBaud"))->currentText(), QStringLiteral("1200"));
    QCOMPARE(child<QComboBox>(again.get(), QStringLiteral("cmbDataBits"))->currentText(), QStringLiteral("7"));
    QVERIFY(child<QRadioButton>(again.get(), QStringLiteral("optPagerType0"))->isChecked());
    QVERIFY(child<QRadioButton>(again.get(), QStringLiteral("optDialUp"))->isChecked());
    QCOMPARE(child<QListWidget>(again.get(), QStringLiteral("lstFilters"))->item(0)->checkState(), Qt::Checked);
}

void TestFrmOptions::saveChecks() {
    struct Case {
        const char* name;
        std::function<void(FrmOptions&)> edit;
        QStringList messages;
        bool closes;
        std::function<bool(const MainProgram&)> holds;
    };
    auto typeOn = [](const char* page, const char* field, const char* text) {
        return [=](FrmOptions& d) {
            showTab(d, QString::fromLatin1(page));
            type(&d, QString::fromLatin1(field), QString::fromLatin1(text));
        };
    };
    const QList<Case> cases = {
        {"frequency 3 becomes 5", typeOn("Schedule", "txtFrequency", "3"),
         {QStringLiteral("Update cannot be less than 5 minutes...")}, true,
         [](const MainProgram& p) { return p.Settings().checkInterval == 5; }},
        {"start later than stop",
         [&](FrmOptions& d) { typeOn("Schedule", "txtStartTime", "6:00 pm")(d); },
         {QStringLiteral("Start time must be less than Stop time.")}, false,
         [](const MainProgram& p) { return p.Settings().startTime == QLatin1String("8:00 am"); }},
        {"start equal to stop",
         [&](FrmOptions& d) {
             typeOn("Schedule", "txtStartTime", "5:00 pm")(d);
             typeOn("Schedule", "txtStopTime", "17:00")(d);
         },
         {}, true, [](const MainProgram& p) { return p.Settings().startTime == QLatin1String("5:00 pm"); }},
        {"time that is no time", typeOn("Schedule", "txtStopTime", "teatime"), {options::kBadTimes}, false, nullptr},
        {"proxy with address only",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("Internet"));
             tick(&d, QStringLiteral("chkProxy"), true);
             type(&d, QStringLiteral("txtProxyAddress"), QStringLiteral("10.1.1.1"));
             type(&d, QStringLiteral("txtProxyPort"), QString());
         },
         {}, true, nullptr},
        {"proxy without host",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("Internet"));
             tick(&d, QStringLiteral("chkProxy"), true);
         },
         {QStringLiteral("You must enter either a host name or host address for the proxy server.")}, false, nullptr},
        {"e-mail pager without address",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("Pager"));
             tick(&d, QStringLiteral("optPagerType1"), true);
         },
         {QStringLiteral("You must enter a valid recipient email address")}, false, nullptr},
        {"SMTP port beyond 16 bits", typeOn("OutMail", "txtSMTPPort", "40000"), {options::kSmtpPortRange}, false,
         [](const MainProgram& p) { return p.Settings().smtpPort == 0; }},
        {"remote password the profile cannot hold", typeOn("Remote", "txtRemotePassword", "a,b"),
         {kPasswordNotStorableText}, false, [](const MainProgram& p) { return p.Settings().remotePassword.isEmpty(); }},
        {"remote control without a password",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("Remote"));
             tick(&d, QStringLiteral("chkRemote"), true);
             type(&d, QStringLiteral("txtRemoteSenders"), QStringLiteral("me@home.test"));
         },
         {options::kRemoteNoPassword}, false, [](const MainProgram& p) { return !p.Settings().remoteControlEnabled; }},
        {"remote control without senders",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("Remote"));
             tick(&d, QStringLiteral("chkRemote"), true);
             type(&d, QStringLiteral("txtRemotePassword"), QStringLiteral("sesame"));
         },
         {options::kRemoteNoSenders}, false, [](const MainProgram& p) { return !p.Settings().remoteControlEnabled; }},
        {"a sender that is no address", typeOn("Remote", "txtRemoteSenders", "me@home.test, Me"),
         {options::kRemoteBadSender + QStringLiteral("Me")}, false, nullptr},
        {"direct page longer than 250", typeOn("Pager", "txtMaxPageLength", "251"), {options::kPageLengthLimit},
         false, nullptr},
        {"no account enabled",
         [&](FrmOptions& d) {
             showTab(d, QStringLiteral("InMail"));
             child<QListWidget>(&d, QStringLiteral("lstAccounts"))->item(0)->setCheckState(Qt::Unchecked);
         },
         {QStringLiteral("You must enable at least one POP3 account.")}, false, nullptr},
    };
    for (const Case& c : cases) {
        Setup s;
        auto d = s.open();
        c.edit(*d);
        s.rig.prompter.clear();
        click(d.get(), QStringLiteral("cmdSave"));
        QVERIFY2(s.rig.prompter.messageTexts() == c.messages,
                 qPrintable(QString::fromLatin1(c.name) + QStringLiteral(": ") + s.rig.prompter.messageTexts().join(QLatin1Char('|'))));
        QVERIFY2(d->isVisible() != c.closes, c.name);
        QCOMPARE(s.program->ProfileChanged(), c.closes);
        if (c.holds)
            QVERIFY2(c.holds(*s.program), c.name);
    }
}

void TestFrmOptions::saveShowsTheCorrectedFieldsAgain() {
    Setup s;
    s.program->Services().Add(std::make_unique<CPagerService>(), QStringLiteral("Metro"));
    auto d = s.open();
    QWidget* w = d.get();
    auto count = [&](const char* name) { return child<QComboBox>(w, QString::fromLatin1(name))->count(); };
    const int services = count("cmbService");
    QCOMPARE(count("cmbDialUp"), 1);
    showTab(*d, QStringLiteral("Internet"));
    tick(w, QStringLiteral("chkProxy"), true);
    type(w, QStringLiteral("txtProxyAddress"), QStringLiteral("10.1.1.1"));
    // Emptied fields that Save fills in, then a stop time that ends Save
    // with the dialog open.
    struct Corrected {
        const char* page;
        const char* field;
        const char* shown;
    };
    const Corrected cases[] = {
        {"Internet", "txtProxyPort", "80"},
        {"OutMail", "txtSMTPPort", "25"},
        {"Pager", "txtMaxPageLength", "80"},
    };
    for (const Corrected& c : cases) {
        showTab(*d, QString::fromLatin1(c.page));
        type(w, QString::fromLatin1(c.field), QString());
    }
    showTab(*d, QStringLiteral("Schedule"));
    type(w, QStringLiteral("txtStopTime"), QStringLiteral("teatime"));
    click(w, QStringLiteral("cmdSave"));
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList{options::kBadTimes});
    QVERIFY(d->isVisible());
    for (const Corrected& c : cases)
        QCOMPARE(child<QLineEdit>(w, QString::fromLatin1(c.field))->text(), QString::fromLatin1(c.shown));
    // Shown again, the filled drop-downs hold each entry once.
    QCOMPARE(count("cmbDialUp"), 1);
    QCOMPARE(count("cmbService"), services);
    QVERIFY(child<QComboBox>(w, QStringLiteral("cmbService"))->findText(QStringLiteral("Metro")) >= 0);
    QVERIFY(child<QWidget>(w, QStringLiteral("fraProxy"))->isEnabled());

    s.rig.prompter.clear();
    type(w, QStringLiteral("txtStopTime"), QStringLiteral("5:00 pm"));
    type(w, QStringLiteral("txtFrequency"), QStringLiteral("3"));
    click(w, QStringLiteral("cmdSave"));
    QVERIFY(!d->isVisible());
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtFrequency"))->text(), QStringLiteral("5"));
}

// A security text the program cannot read stays as written (the check keeps
// refusing the account), and entries of accounts that are gone are removed.
void TestFrmOptions::saveKeepsAnUnreadableSecurityAndForgetsStrays() {
    Setup s;
    s.rig.store.write(kAppTitle, kPopSecuritySection, QStringLiteral("Home"), QStringLiteral("bogus"));
    s.rig.store.write(kAppTitle, kPopSecuritySection, QStringLiteral("Gone"), QStringLiteral("TLS"));
    auto d = s.open();
    QCOMPARE(d->Fields().popSecurity.value(QStringLiteral("Home")), QStringLiteral("bogus"));
    click(d.get(), QStringLiteral("cmdSave"));
    QVERIFY2(!d->isVisible(), qPrintable(s.rig.prompter.messageTexts().join(QLatin1Char('|'))));
    QCOMPARE(PopSecurityText(s.rig.store, QStringLiteral("Home")), QStringLiteral("bogus"));
    QCOMPARE(s.rig.store.names(kAppTitle, kPopSecuritySection), QStringList{QStringLiteral("Home")});
}

void TestFrmOptions::accountsAndFiltersWorkOnCopies() {
    Setup s;
    s.program->GetFilters().Add(QStringLiteral("Old"), 0, 0, QStringLiteral("x"), true);
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("InMail"));
    auto* accounts = child<QListWidget>(w, QStringLiteral("lstAccounts"));

    click(w, QStringLiteral("cmdDeleteAccount"));
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList{options::kLastAccount});
    enterAccount(w, QStringLiteral("work"));
    enterAccount(w, QStringLiteral("club"));
    QCOMPARE(accounts->count(), 3);
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblServer"))->text(), QStringLiteral("pop.club.test"));
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblPort"))->text(), QStringLiteral("1110"));
    s.rig.prompter.clear();
    click(w, QStringLiteral("cmdNewAccount")); // a fourth is refused before any window opens
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList{options::kNoMoreAccounts});
    accounts->item(0)->setCheckState(Qt::Unchecked);
    QVERIFY(!d->WorkingAccounts().Item(1).CheckMail());
    // Edit the second one; Cancel in the edit window keeps it.
    accounts->setCurrentRow(1);
    onNextModal([](QWidget* e) {
        QCOMPARE(e->windowTitle(), QStringLiteral("Edit POP3 Account"));
        QCOMPARE(child<QLineEdit>(e, QStringLiteral("txtPOPServer"))->text(), QStringLiteral("pop.work.test"));
        type(e, QStringLiteral("txtPOPServer"), QStringLiteral("mail.work.test"));
        click(e, QStringLiteral("cmdCancel"));
    });
    click(w, QStringLiteral("cmdEditAccount"));
    QCOMPARE(d->WorkingAccounts().Item(2).Server(), QStringLiteral("pop.work.test"));
    accounts->setCurrentRow(2);
    click(w, QStringLiteral("cmdDeleteAccount"));
    QCOMPARE(accounts->count(), 2);

    showTab(*d, QStringLiteral("spam"));
    auto* filters = child<QListWidget>(w, QStringLiteral("lstFilters"));
    filters->setCurrentRow(0);
    click(w, QStringLiteral("cmdRemoveFilter"));
    QCOMPARE(filters->count(), 0);

    // Cancel: the program's lists are as they were.
    click(w, QStringLiteral("cmdCancel"));
    QVERIFY(!d->isVisible());
    QCOMPARE(s.program->POPAccounts().Count(), 1);
    QVERIFY(s.program->POPAccounts().Item(1).CheckMail());
    QCOMPARE(s.program->GetFilters().Count(), 1);
    QVERIFY(!s.program->ProfileChanged());
    QVERIFY(!QFile::exists(s.program->GetFilters().FilePath()));
}

void TestFrmOptions::checksWhileTyping() {
    Setup s;
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("Pager"));
    struct Typed {
        const char* field;
        const char* typed;
        const char* shown;
        QStringList messages;
    };
    const Typed cases[] = {
        {"txtPagerID", "12-34", "34", {options::kPagerIdDashes}}, // emptied at the dash
        {"txtPagerID", "-", "", {options::kPagerIdDashes}},
        {"txtMaxPageLength", "1x", "80", {options::kInvalidNumber}},
        {"txtMaxPageLength", "160", "160", {}},
    };
    for (const Typed& t : cases) {
        s.rig.prompter.clear();
        type(w, QString::fromLatin1(t.field), QString::fromLatin1(t.typed));
        QCOMPARE(child<QLineEdit>(w, QString::fromLatin1(t.field))->text(), QString::fromLatin1(t.shown));
        QCOMPARE(s.rig.prompter.messageTexts(), t.messages);
    }
    // Leaving the field: a delay below 4 and a time-out below 60 are raised.
    tick(w, QStringLiteral("optPagerType2"), true);
    type(w, QStringLiteral("txtDelay"), QStringLiteral("2"));
    child<QLineEdit>(w, QStringLiteral("txtPrefix"))->setFocus();
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtDelay"))->text(), QStringLiteral("4"));
    showTab(*d, QStringLiteral("Internet"));
    tick(w, QStringLiteral("optDialUp"), true);
    type(w, QStringLiteral("txtTimeout"), QStringLiteral("30"));
    child<QLineEdit>(w, QStringLiteral("txtRetries"))->setFocus();
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtTimeout"))->text(), QStringLiteral("60"));
}

void TestFrmOptions::dependentFieldsFollowTheirSwitches() {
    Setup s;
    auto d = s.open();
    QWidget* w = d.get();
    auto enabled = [&](const char* name) { return child<QWidget>(w, QString::fromLatin1(name))->isEnabled(); };
    showTab(*d, QStringLiteral("General"));
    tick(w, QStringLiteral("chkDownload"), true);
    tick(w, QStringLiteral("chkPageHeaders"), false);
    QVERIFY(enabled("txtMailSize") && enabled("chkPageHeaders"));
    QVERIFY(!enabled("chkPageBody") && !enabled("chkPagePriority"));
    tick(w, QStringLiteral("chkPageHeaders"), true);
    QVERIFY(enabled("chkPageBody") && enabled("chkPagePriority"));
    tick(w, QStringLiteral("chkDownload"), false);
    QVERIFY(!enabled("txtMailSize") && !enabled("lblKBytes") && !enabled("chkPageHeaders") && !enabled("chkPageBody"));
    tick(w, QStringLiteral("chkSound"), false);
    QVERIFY(!enabled("txtSoundFile"));

    showTab(*d, QStringLiteral("Internet"));
    const char* conn[] = {"optDialUp", "optDirect", "optExternal"};
    for (int i = 0; i < 3; ++i) {
        tick(w, QString::fromLatin1(conn[i]), true);
        QCOMPARE(enabled("fraDialUp"), i == 0);
        QCOMPARE(enabled("cmdTestConnection"), i == 0);
        QCOMPARE(enabled("fraExternal"), i == 2);
    }
    tick(w, QStringLiteral("chkProxy"), false);
    QVERIFY(!enabled("fraProxy"));
    showTab(*d, QStringLiteral("Pager"));
    // The network types are paged by the Pager Identifier.
    for (int i = 0; i < 6; ++i) {
        tick(w, QStringLiteral("optPagerType%1").arg(i), true);
        QCOMPARE(enabled("fraAlpha"), i == 0 || i >= 3);
        QCOMPARE(enabled("fraSMTP"), i == 1);
        QCOMPARE(enabled("fraNumeric"), i == 2);
    }
}

void TestFrmOptions::browseAndStartupFile() {
    // Without a stored startup file the field shows the one start-up loads,
    // so saving keeps it.
    ProgramRig rig;
    MainProgram& program = rig.create();
    program.Startup(QString());
    FrmOptions d(program.OptionsServices(), program.ManualPageServices(), program.ModemServices());
    d.show();
    QCOMPARE(child<QLineEdit>(&d, QStringLiteral("txtStartupFile"))->text(), rig.dir.path() + QStringLiteral("/DEFAULT.dat"));
    // A file chosen in a browse dialog lands in its field; a cancelled one changes nothing.
    rig.prompter.queueFileName(QStringLiteral("/opt/mail/client"));
    click(&d, QStringLiteral("cmdBrowseClient"));
    QCOMPARE(child<QLineEdit>(&d, QStringLiteral("txtEmailClient"))->text(), QStringLiteral("/opt/mail/client"));
    click(&d, QStringLiteral("cmdBrowseClient"));
    QCOMPARE(child<QLineEdit>(&d, QStringLiteral("txtEmailClient"))->text(), QStringLiteral("/opt/mail/client"));
}

void TestFrmOptions::timerStopsWhileOpenFromEveryCommand() {
    FrmMain window;
    ProgramRig rig;
    rig.noStartupProfile();
    MainProgram& program = rig.create({}, &window);
    window.Bind(program);
    program.Startup(QString());
    program.POPAccounts().Add(QStringLiteral("Home"), QStringLiteral("pop.home"), 110, QStringLiteral("me"),
                              QStringLiteral("pw"), true);
    const std::function<void()> commands[] = {
        [&] { window.Action(QStringLiteral("mnuOptions"))->trigger(); },
        [&] { window.Action(QStringLiteral("mnuOptionsPopup"))->trigger(); },
        [&] { window.Toolbar()->findChild<QAction*>(QStringLiteral("tlb_options"))->trigger(); },
    };
    int n = 0;
    for (const auto& command : commands) {
        QVERIFY(program.MinuteTimer().isActive());
        command();
        auto* d = window.findChild<FrmOptions*>();
        QVERIFY(d && d->isVisible());
        QVERIFY(!program.MinuteTimer().isActive());
        // Cancel, then Save, then the close box: the timer runs again.
        if (n == 0)
            click(d, QStringLiteral("cmdCancel"));
        else if (n == 1)
            click(d, QStringLiteral("cmdSave"));
        else
            d->close();
        QVERIFY(program.MinuteTimer().isActive());
        QTRY_VERIFY(!window.findChild<FrmOptions*>());
        ++n;
    }
    QVERIFY(program.ProfileChanged()); // the one Save
}

void TestFrmOptions::windowsFitTheScreenAndTabInVisualOrder() {
    Setup s;
    auto d = s.open();
    FrmModem modem(s.program->ModemServices());
    FrmMessage message(s.program->ManualPageServices());
    FrmPOP3 pop3(s.rig.prompter);
    FrmFilter filter(s.rig.prompter);
    const QSize screen(800, 600);
    for (QWidget* w : std::initializer_list<QWidget*>{d.get(), &modem, &message, &pop3, &filter}) {
        w->show();
        const QSize need = w->minimumSizeHint().expandedTo(w->size());
        QVERIFY2(need.width() <= screen.width() && need.height() <= screen.height(),
                 qPrintable(w->objectName() + QStringLiteral(" needs %1x%2").arg(need.width()).arg(need.height())));
    }
    for (int i = 0; i < d->tabOptions()->count(); ++i) {
        const QString key = d->tabOptions()->item(i)->data(Qt::UserRole).toString();
        showTab(*d, key);
        QWidget* page = d->Page(key);
        QVERIFY(page->isVisible());
        QVERIFY(!tabChain(page).isEmpty());
        QVERIFY2(outOfOrder(page).isEmpty(), qPrintable(key + QStringLiteral(": ") + outOfOrder(page)));
    }
    for (QWidget* w : std::initializer_list<QWidget*>{&modem, &message, &pop3, &filter})
        QVERIFY2(outOfOrder(w).isEmpty(), qPrintable(w->objectName() + QStringLiteral(": ") + outOfOrder(w)));
}

// A program just started with COM2 as its modem port: no page sent and the
// modem window not opened in this run. Save must hand COM2 to the service,
// not the serial control's starting port.
void TestFrmOptions::saveKeepsTheLoadedModemPort() {
    Setup s;
    s.program->Settings().modemPortIndex = 2;
    QCOMPARE(s.serial.CommPort(), 1);
    auto d = s.open();
    click(d.get(), QStringLiteral("cmdSave"));
    QVERIFY2(!d->isVisible(), qPrintable(s.rig.prompter.messageTexts().join(QLatin1Char('|'))));
    QCOMPARE(s.program->Services().Item(1).CommPort(), std::int16_t(2));
}

// In a dialog on a 1024x768 screen every page caption is shown whole: none
// cut, none behind a scroll arrow, each entry inside the list.
void TestFrmOptions::everyPageCaptionInViewAtOnce() {
    Setup s;
    auto d = s.open();
    d->resize(d->sizeHint().boundedTo(QSize(1024, 768)));
    QVERIFY2(d->width() <= 1024 && d->height() <= 768, qPrintable(QStringLiteral("%1x%2").arg(d->width()).arg(d->height())));
    QListWidget* list = d->tabOptions();
    QCOMPARE(list->count(), 10);
    QVERIFY(!list->horizontalScrollBar()->isVisible() && !list->verticalScrollBar()->isVisible());
    const QRect view = list->viewport()->rect();
    const QFontMetrics fm(list->font());
    QStringList captions;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem* item = list->item(i);
        const QRect r = list->visualItemRect(item);
        captions << item->text();
        QVERIFY2(view.contains(r), qPrintable(item->text()));
        QVERIFY2(fm.horizontalAdvance(item->text()) + 4 <= r.width(), qPrintable(item->text()));
        // Clicking it shows its page.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QVERIFY(d->Page(item->data(Qt::UserRole).toString())->isVisible());
    }
    QCOMPARE(captions.join(QLatin1Char('|')), QStringLiteral("General|Internet Connection|Modem|Pager Service|Pager|"
                                                             "Incoming Mail|Outgoing Mail|Schedule|Remote Control|"
                                                             "Spam Filter"));
}

// Ctrl+Tab and Ctrl+PgDn go to the next page, Ctrl+Shift+Tab and Ctrl+PgUp
// to the one before, round at either end, wherever the focus is.
void TestFrmOptions::keysSwitchPages() {
    Setup s;
    auto d = s.open();
    struct Press {
        const char* focus; // the widget with the focus, on the page shown
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* before;
        const char* after;
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const Press presses[] = {
        {"txtStartupFile", Qt::Key_Tab, ctrl, "General", "Internet"},
        {"cmbDialUp", Qt::Key_PageDown, ctrl, "Internet", "Modem"},
        {"txtUserName", Qt::Key_Backtab, ctrlShift, "Pager", "Paging"},
        {"txtUserName", Qt::Key_Tab, ctrlShift, "Pager", "Paging"},
        {"lstAccounts", Qt::Key_PageUp, ctrl, "InMail", "Pager"},
        {"lstFilters", Qt::Key_Tab, ctrl, "spam", "General"},
        {"tabOptions", Qt::Key_PageUp, ctrl, "General", "spam"},
        {"txtRemotePassword", Qt::Key_Backtab, ctrlShift, "Remote", "Schedule"},
    };
    for (const Press& p : presses) {
        d->ShowPage(QString::fromLatin1(p.before));
        auto* w = child<QWidget>(d.get(), QString::fromLatin1(p.focus));
        w->setFocus();
        QTest::keyClick(w, p.key, p.modifiers);
        QVERIFY2(d->CurrentPage() == QLatin1String(p.after),
                 qPrintable(QStringLiteral("%1 on %2: %3").arg(QLatin1String(p.focus), QLatin1String(p.before), d->CurrentPage())));
        QVERIFY(d->Page(QString::fromLatin1(p.after))->isVisible());
    }
}

// A Save that a check refuses shows the page holding the field, with the
// focus in it, whichever page was in view.
void TestFrmOptions::refusedSaveShowsTheField() {
    struct Case {
        const char* name;
        std::function<void(Setup&, FrmOptions&)> edit;
        const char* page;
        const char* field;
        int accountRow; // the account list's selected row; -1: not looked at
    };
    auto typeOn = [](const char* page, const char* field, const char* text) {
        return [=](Setup&, FrmOptions& d) {
            showTab(d, QString::fromLatin1(page));
            type(&d, QString::fromLatin1(field), QString::fromLatin1(text));
        };
    };
    // A pager of a network type with its ID and its service's address.
    auto network = [](int pagerType, const char* id, const char* address) {
        return [=](Setup&, FrmOptions& d) {
            showTab(d, QStringLiteral("Pager"));
            tick(&d, QStringLiteral("optPagerType%1").arg(pagerType), true);
            type(&d, QStringLiteral("txtPagerID"), QString::fromLatin1(id));
            showTab(d, QStringLiteral("Paging"));
            type(&d, QStringLiteral("txtAddress"), QString::fromLatin1(address));
        };
    };
    const QList<Case> cases = {
        {"no account enabled",
         [](Setup&, FrmOptions& d) {
             child<QListWidget>(&d, QStringLiteral("lstAccounts"))->item(0)->setCheckState(Qt::Unchecked);
         },
         "InMail", "lstAccounts", -1},
        {"second account without server", [](Setup&, FrmOptions&) {}, "InMail", "lstAccounts", 1},
        {"e-mail pager without address",
         [](Setup&, FrmOptions& d) {
             showTab(d, QStringLiteral("Pager"));
             tick(&d, QStringLiteral("optPagerType1"), true);
         },
         "Pager", "txtPagerEmail", -1},
        {"proxy without host",
         [](Setup&, FrmOptions& d) {
             showTab(d, QStringLiteral("Internet"));
             tick(&d, QStringLiteral("chkProxy"), true);
         },
         "Internet", "txtProxyName", -1},
        {"SMTP port beyond 16 bits", typeOn("OutMail", "txtSMTPPort", "40000"), "OutMail", "txtSMTPPort", -1},
        {"remote password the profile cannot hold", typeOn("Remote", "txtRemotePassword", "a,b"), "Remote",
         "txtRemotePassword", -1},
        {"direct page longer than 250", typeOn("Pager", "txtMaxPageLength", "251"), "Pager", "txtMaxPageLength", -1},
        {"WCTP pager without an ID", network(3, "", "https://wctp.example.com/wctp"), "Pager", "txtPagerID", -1},
        {"SNPP pager without an address", network(4, "123", ""), "Paging", "txtAddress", -1},
        {"WCTP address that is no URL", network(3, "123", "wctp.example.com"), "Paging", "txtAddress", -1},
        {"WCTP address of another scheme", network(3, "123", "ftp://wctp.example.com/"), "Paging", "txtAddress",
         -1},
        {"SNPP port out of range", network(4, "123", "snpp.example.com:70000"), "Paging", "txtAddress", -1},
        {"TCP terminal without a port", network(5, "123", "terminal.example.com"), "Paging", "txtAddress", -1},
        {"TCP page longer than 250",
         [network](Setup& s, FrmOptions& d) {
             network(5, "123", "terminal.example.com:5000")(s, d);
             showTab(d, QStringLiteral("Pager"));
             type(&d, QStringLiteral("txtMaxPageLength"), QStringLiteral("251"));
         },
         "Pager", "txtMaxPageLength", -1},
        {"start later than stop", typeOn("Schedule", "txtStartTime", "6:00 pm"), "Schedule", "txtStartTime", -1},
        {"stop time that is no time", typeOn("Schedule", "txtStopTime", "teatime"), "Schedule", "txtStopTime", -1},
        {"fallback to a pager that is not there", typeOn("Pager", "txtFallback", "nobody"), "Pager", "txtFallback",
         -1},
        {"fallback to pager 1 itself", typeOn("Pager", "txtFallback", "1"), "Pager", "txtFallback", -1},
        {"failure notice to no address", typeOn("Pager", "txtNoticeAddress", "on call"), "Pager",
         "txtNoticeAddress", -1},
        {"daily test page at no time", typeOn("Pager", "txtProofOfLife", "7.30"), "Pager", "txtProofOfLife", -1},
    };
    for (const Case& c : cases) {
        Setup s;
        if (c.accountRow == 1) // an account the check refuses, there before the dialog opens
            s.program->POPAccounts().Add(QStringLiteral("Work"), QString(), 110, QStringLiteral("me"),
                                         QStringLiteral("pw"), true);
        auto d = s.open();
        c.edit(s, *d);
        showTab(*d, QStringLiteral("General"));
        s.rig.prompter.clear();
        click(d.get(), QStringLiteral("cmdSave"));
        QVERIFY2(d->isVisible() && s.rig.prompter.messageTexts().size() == 1, c.name);
        QVERIFY2(d->CurrentPage() == QLatin1String(c.page), qPrintable(QString::fromLatin1(c.name) + QStringLiteral(": ") + d->CurrentPage()));
        QWidget* field = child<QWidget>(d.get(), QString::fromLatin1(c.field));
        QVERIFY2(field->isVisible() && QApplication::focusWidget() == field, c.name);
        if (c.accountRow >= 0)
            QCOMPARE(child<QListWidget>(d.get(), QStringLiteral("lstAccounts"))->currentRow(), c.accountRow);
    }
}

// Each network type chosen and its service filled in the dialog: the pager
// and the service hold them, the settings file gets the type and the
// values while the profile keeps a type it knows, and the dialog shows them
// when opened again.
void TestFrmOptions::networkPagerReachesTheSettingsFile_data() {
    QTest::addColumn<int>("pagerType");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("typeText");
    QTest::newRow("WCTP") << int(PagerWCTP) << "https://wctp.example.com/wctp" << "WCTP";
    QTest::newRow("SNPP") << int(PagerSNPP) << "snpp.example.com" << "SNPP";
    QTest::newRow("TCP terminal") << int(PagerAlphaTCP) << "[2001:db8::7]:5000" << "TCP";
}
void TestFrmOptions::networkPagerReachesTheSettingsFile() {
    QFETCH(int, pagerType);
    QFETCH(QString, address);
    Setup s;
    const QString profile = s.rig.dir.path() + QStringLiteral("/net.dat");
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("Pager"));
    type(w, QStringLiteral("txtUserName"), QStringLiteral("ann"));
    tick(w, QStringLiteral("optPagerType%1").arg(pagerType), true);
    type(w, QStringLiteral("txtPagerID"), QStringLiteral("4455"));
    showTab(*d, QStringLiteral("Paging"));
    type(w, QStringLiteral("txtAddress"), address);
    tick(w, QStringLiteral("chkTls"), true);
    type(w, QStringLiteral("txtSenderID"), QStringLiteral("gate-7"));
    type(w, QStringLiteral("txtSecurityCode"), QStringLiteral("s3cur3"));
    tick(w, QStringLiteral("chkReceipts"), true);
    QCOMPARE(child<QLineEdit>(w, QStringLiteral("txtSecurityCode"))->echoMode(), QLineEdit::Password);
    click(w, QStringLiteral("cmdSave"));
    QCOMPARE(s.rig.prompter.messageTexts(), QStringList());
    QVERIFY(!d->isVisible());

    const CPager& pager = s.program->Pagers().Item(QStringLiteral("ann"));
    QCOMPARE(int(pager.PagerType()), pagerType);
    QCOMPARE(pager.ID(), QStringLiteral("4455"));
    s.program->SaveProfile(profile);
    auto stored = [&](const QString& section, const QString& name) {
        return s.rig.store.read(kAppTitle, section, name, QStringLiteral("(none)"));
    };
    QTEST(stored(kPagerTypesSection, QStringLiteral("ann")), "typeText");
    QCOMPARE(stored(kCarrierServicesSection, QStringLiteral("Default.Address")), address);
    QCOMPARE(stored(kCarrierServicesSection, QStringLiteral("Default.TLS")), QStringLiteral("1"));
    QCOMPARE(stored(kCarrierServicesSection, QStringLiteral("Default.Sender ID")), QStringLiteral("gate-7"));
    QCOMPARE(stored(kCarrierServicesSection, QStringLiteral("Default.Security Code")), QStringLiteral("s3cur3"));
    QCOMPARE(stored(kCarrierServicesSection, QStringLiteral("Default.Receipts")), QStringLiteral("1"));
    QFile file(profile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(QString::fromLatin1(file.readAll())
                 .contains(QRegularExpression(QStringLiteral("\r\n\"ann\",\"4455\",\"[^\"]*\",\"Default\",[0-2],"))),
             "the profile's pager line holds a classic type");

    auto again = s.open();
    QVERIFY(child<QRadioButton>(again.get(), QStringLiteral("optPagerType%1").arg(pagerType))->isChecked());
    QCOMPARE(child<QLineEdit>(again.get(), QStringLiteral("txtAddress"))->text(), address);
    QCOMPARE(child<QLineEdit>(again.get(), QStringLiteral("txtSecurityCode"))->text(), QStringLiteral("s3cur3"));
    QVERIFY(child<QCheckBox>(again.get(), QStringLiteral("chkTls"))->isChecked());
    QVERIFY(child<QCheckBox>(again.get(), QStringLiteral("chkReceipts"))->isChecked());
}


// OAuth 2.0 chosen in the account window: the provider's values go to the
// settings file, the client secret to the secret store only; a custom
// provider without its token URL is refused in the window.
void TestFrmOptions::oauthSignInReachesTheSettingsFileAndTheSecretTheStore() {
    Setup s;
    const QString secret = QStringLiteral("c1ient-s3cret");
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("InMail"));
    child<QListWidget>(w, QStringLiteral("lstAccounts"))->setCurrentRow(0);
    onNextModal([&](QWidget* e) {
        auto* id = child<QLineEdit>(e, QStringLiteral("txtClientId"));
        QVERIFY(id->isHidden()); // password: the OAuth rows are not shown
        child<QComboBox>(e, QStringLiteral("cmbSignIn"))->setCurrentIndex(1);
        child<QComboBox>(e, QStringLiteral("cmbProvider"))->setCurrentText(QStringLiteral("custom"));
        QVERIFY(!id->isHidden() && !child<QLineEdit>(e, QStringLiteral("txtTokenUrl"))->isHidden());
        type(e, QStringLiteral("txtClientId"), QStringLiteral("tessly-home"));
        type(e, QStringLiteral("txtClientSecret"), secret);
        type(e, QStringLiteral("txtDeviceUrl"), QStringLiteral("https://login.example.org/device"));
        click(e, QStringLiteral("cmdOK"));
        QVERIFY(e->isVisible()); // no token URL yet
        type(e, QStringLiteral("txtTokenUrl"), QStringLiteral("https://login.example.org/token"));
        click(e, QStringLiteral("cmdOK"));
    });
    click(w, QStringLiteral("cmdEditAccount"));
    QVERIFY(s.rig.prompter.messageTexts().join(QLatin1Char('|')).contains(QStringLiteral("token URL")));
    click(w, QStringLiteral("cmdSave"));
    QVERIFY(!d->isVisible());
    const OAuthSettings stored = LoadOAuthSettings(s.rig.store, SignInTarget{QStringLiteral("Home")});
    QVERIFY(stored.on);
    QCOMPARE(stored.provider, QStringLiteral("custom"));
    QCOMPARE(stored.clientId, QStringLiteral("tessly-home"));
    QCOMPARE(stored.tokenUrl, QStringLiteral("https://login.example.org/token"));
    QString why;
    QCOMPARE(s.program->Secrets().Read(SignInTarget{QStringLiteral("Home")}.SecretKey(QStringLiteral("client-secret")),
                                       &why),
             std::optional<QString>(secret));
    for (const QString& section : SignInSections() + QStringList{kOutgoingSection})
        for (const QString& name : s.rig.store.names(kAppTitle, section))
            QVERIFY2(!s.rig.store.read(kAppTitle, section, name, {}).contains(secret), qPrintable(section));
    // Opened again, the secret shows masked and stays when left alone.
    auto again = s.open();
    showTab(*again, QStringLiteral("InMail"));
    child<QListWidget>(again.get(), QStringLiteral("lstAccounts"))->setCurrentRow(0);
    onNextModal([&](QWidget* e) {
        QVERIFY(child<QLineEdit>(e, QStringLiteral("txtClientSecret"))->text() != secret);
        QVERIFY(!child<QLineEdit>(e, QStringLiteral("txtClientSecret"))->text().isEmpty());
        click(e, QStringLiteral("cmdOK"));
    });
    click(again.get(), QStringLiteral("cmdEditAccount"));
    click(again.get(), QStringLiteral("cmdSave"));
    QCOMPARE(s.program->Secrets().Read(SignInTarget{QStringLiteral("Home")}.SecretKey(QStringLiteral("client-secret")),
                                       &why),
             std::optional<QString>(secret));
}

void TestFrmOptions::imapAccountReachesTheSettingsFile() {
    Setup s;
    auto d = s.open();
    QWidget* w = d.get();
    showTab(*d, QStringLiteral("InMail"));
    // A new account: choosing IMAP moves the default port and opens the folder field.
    onNextModal([](QWidget* e) {
        type(e, QStringLiteral("txtAccount"), QStringLiteral("Alerts"));
        type(e, QStringLiteral("txtPOPServer"), QStringLiteral("imap.example.test"));
        type(e, QStringLiteral("txtPOPUserName"), QStringLiteral("me"));
        type(e, QStringLiteral("txtPOPPassword"), QStringLiteral("pw"));
        auto* folder = child<QLineEdit>(e, QStringLiteral("txtFolder"));
        QVERIFY(!folder->isEnabled());
        child<QComboBox>(e, QStringLiteral("cmbProtocol"))->setCurrentText(QStringLiteral("IMAP"));
        QCOMPARE(child<QLineEdit>(e, QStringLiteral("txtPOPPort"))->text(), QStringLiteral("143"));
        QVERIFY(folder->isEnabled());
        type(e, QStringLiteral("txtFolder"), QStringLiteral("Pager/Urgent"));
        click(e, QStringLiteral("cmdOK"));
    });
    click(w, QStringLiteral("cmdNewAccount"));
    click(w, QStringLiteral("cmdSave"));
    QVERIFY2(!d->isVisible(), qPrintable(s.rig.prompter.messageTexts().join(QLatin1Char('|'))));
    QCOMPARE(ReadMailProtocol(&s.rig.store, QStringLiteral("Alerts")), std::optional(MailProtocol::Imap));
    QCOMPARE(ReadImapFolder(&s.rig.store, QStringLiteral("Alerts")), QStringLiteral("Pager/Urgent"));
    QCOMPARE(s.program->POPAccounts().Item(2).MailPort(), std::int16_t{143});

    // Back to POP3: the port a user set stays, and the entries go, so the
    // settings file reads as before IMAP.
    auto again = s.open();
    showTab(*again, QStringLiteral("InMail"));
    child<QListWidget>(again.get(), QStringLiteral("lstAccounts"))->setCurrentRow(1);
    onNextModal([](QWidget* e) {
        QCOMPARE(child<QComboBox>(e, QStringLiteral("cmbProtocol"))->currentText(), QStringLiteral("IMAP"));
        QCOMPARE(child<QLineEdit>(e, QStringLiteral("txtFolder"))->text(), QStringLiteral("Pager/Urgent"));
        type(e, QStringLiteral("txtPOPPort"), QStringLiteral("1143"));
        child<QComboBox>(e, QStringLiteral("cmbProtocol"))->setCurrentText(QStringLiteral("POP3"));
        QCOMPARE(child<QLineEdit>(e, QStringLiteral("txtPOPPort"))->text(), QStringLiteral("1143"));
        click(e, QStringLiteral("cmdOK"));
    });
    click(again.get(), QStringLiteral("cmdEditAccount"));
    click(again.get(), QStringLiteral("cmdSave"));
    QVERIFY(!again->isVisible());
    QVERIFY(!s.rig.store.hasSection(kAppTitle, kMailProtocolSection) ||
            s.rig.store.names(kAppTitle, kMailProtocolSection).isEmpty());
    QVERIFY(s.rig.store.names(kAppTitle, kImapFolderSection).isEmpty());
}

QTEST_MAIN(TestFrmOptions)
#include "test_frmoptions.moc"
