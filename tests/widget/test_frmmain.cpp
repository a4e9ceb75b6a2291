// The main window: its named parts and captions, and a start-up that drives it.

#include "state/commstatus.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmstatus.h"
#include "app/maincycle.h"
#include "app/statusdisplay.h"
#include "ui/paging/frmterminal.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"
#include "ui/platform/qttrayicon.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using namespace tessaly;

namespace {
const QDateTime kNine(QDate(2026, 12, 7), QTime(9, 0));
} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private slots:
    void namedPartsCarryTheirCaptions() {
        FrmMain w;
        QCOMPARE(w.objectName(), QStringLiteral("frmMain"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessaly"));

        QStringList bar;
        for (QAction* a : w.menuBar()->actions())
            if (a->isVisible())
                bar << a->text();
        QCOMPARE(bar, (QStringList{"&File", "&Paging", "&Mail", "&Settings", "&Help"}));
        QVERIFY(w.Menu(QStringLiteral("mnuEdit")) && !w.Menu(QStringLiteral("mnuEdit"))->menuAction()->isVisible());

        const QList<QPair<const char*, const char*>> items = {
            {"mnuOpen", "&Open"}, {"mnuSave", "&Save"}, {"mnuSaveAs", "Save As..."}, {"mnuExit", "E&xit"},
            {"mnuSend", "&Send Immediate Message"}, {"mnuCheckMail", "Check Mail Now"},
            {"mnuMailViewer", "Mail Viewer"}, {"mnuQuickNote", "Quick Note"}, {"mnuOptions", "&Options"},
            {"mnuHelpContents", "&Contents"}, {"mnuHelpSearch", "&Search for help on..."},
            {"mnuAbout", "About Tessaly"}, {"mnuCheckUpdates", "Check for Updates"},
            {"mnuBug", "Submit a Bug Report"}, {"mnuDiagnostics", "Show Terminal Window"},
            {"mnuCheckMailNow", "Check for mail"}, {"mnuviewMail", "View mail"},
            {"mnuQuickNotePopUp", "Quick Note"}, {"mnuEnableSchedule", "Enable Schedule"},
            {"mnuEnablePaging", "Enable Paging"}, {"mnuOptionsPopup", "Options"}, {"mnuQuitPopup", "Quit"}};
        for (const auto& [name, caption] : items) {
            QAction* a = w.Action(QString::fromLatin1(name));
            QVERIFY2(a, name);
            QCOMPARE(a->text(), QString::fromLatin1(caption));
        }
        QVERIFY(w.Action(QStringLiteral("mnuEnableSchedule"))->isCheckable());
        QVERIFY(w.Action(QStringLiteral("mnuDiagnostics"))->isCheckable());
        // The tray menu is not on the menu bar.
        QVERIFY(!w.menuBar()->actions().contains(w.PopupMenu()->menuAction()));

        QStringList keys, tips;
        for (QAction* a : w.Toolbar()->actions()) {
            keys << a->data().toString();
            tips << a->toolTip();
        }
        QCOMPARE(keys, (QStringList{"open", "save", "checkmail", "mail", "quicknote", "page", "options", "help"}));
        QCOMPARE(tips, (QStringList{"Open An Existing File", "Save File", "Check for Email", "View Email",
                                    "Send a QuickNote", "Send A Page", "Tessaly Options", "Online Help"}));
        QCOMPARE(w.Toolbar()->objectName(), QStringLiteral("tlbMain"));

        auto* frame = w.findChild<QGroupBox*>(QStringLiteral("fraSettings"));
        QVERIFY(frame);
        QCOMPARE(frame->title(), QStringLiteral("Current Settings"));
        QStringList captions;
        for (QLabel* l : frame->findChildren<QLabel*>())
            if (l->objectName().isEmpty())
                captions << l->text();
        QCOMPARE(captions, (QStringList{"Connection:", "Email:", "Paging:"}));
        for (const char* name : {"lblConnection", "lblEmail", "lblPaging"})
            QVERIFY(frame->findChild<QLabel*>(QString::fromLatin1(name)));
        QCOMPARE(w.findChild<QCheckBox*>(QStringLiteral("chkScheduleEnable"))->text(), QStringLiteral("Run Schedule"));
        QCOMPARE(w.findChild<QCheckBox*>(QStringLiteral("chkPageEnable"))->text(), QStringLiteral("Activate Paging"));
        QVERIFY(w.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"))->isReadOnly());
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lblActivity"))->text(), QStringLiteral("Tessaly Activity:"));
        QCOMPARE(w.statusBar()->objectName(), QStringLiteral("stbMain"));
        for (const char* panel : {"messages", "date", "time"})
            QVERIFY(w.statusBar()->findChild<QLabel*>(QString::fromLatin1(panel)));
    }

    void startupFillsTheWindow() {
        FrmMain w;
        ProgramRig rig(kNine);
        rig.noStartupProfile();
        MainProgram& program = rig.create({}, &w);
        program.Startup(QString());
        QVERIFY(w.isVisible());
        QVERIFY(!w.findChild<QWidget*>(QStringLiteral("frmIntro"))); // the splash is gone
        const QString activity = w.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"))->toPlainText();
        QCOMPARE(activity, QStringLiteral("Tessaly started on   12/7/2026 9:00:02 AM"));
        // Lines are added one by one; once the oldest text is dropped the box still matches.
        while (program.ActivityText().size() < MainProgram::kActivityLimit)
            program.LogActivity(QString(200, QLatin1Char('a')));
        program.LogActivity(QStringLiteral("last"));
        QString expected = program.ActivityText();
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.chop(1);
        QCOMPARE(w.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"))->toPlainText(), expected);
        QCOMPARE(w.statusBar()->findChild<QLabel*>(QStringLiteral("messages"))->text(), QStringLiteral("No Messages"));
        // No profile: the Edit, Paging and Settings menus are disabled.
        QVERIFY(!w.Menu(QStringLiteral("mnuPaging"))->menuAction()->isEnabled());
        QVERIFY(!w.Menu(QStringLiteral("mnuSettings"))->menuAction()->isEnabled());
        QVERIFY(w.Menu(QStringLiteral("mnuMail"))->menuAction()->isEnabled());
        QVERIFY(!w.Action(QStringLiteral("mnuDiagnostics"))->isChecked());
    }

    void switchesAndMinimisingWithoutATray() {
        FrmMain w;
        QtTrayIcon tray(w.PopupMenu());
        ProgramRig rig(kNine);
        rig.noStartupProfile();
        MainProgram& program = rig.create({.tray = &tray}, &w);
        w.Bind(program);
        QList<std::pair<bool, bool>> checks;
        program.Cycle().SetCheckEntry([&](bool d, bool p) { checks << std::pair{d, p}; });
        program.Startup(QString());

        // A click on "Run Schedule" reaches the logic; the tray menu item follows.
        auto* box = w.findChild<QCheckBox*>(QStringLiteral("chkScheduleEnable"));
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QVERIFY(program.Settings().scheduleEnabled);
        QVERIFY(w.Action(QStringLiteral("mnuEnableSchedule"))->isChecked());
        // The tray menu item drives the check box back.
        w.Action(QStringLiteral("mnuEnableSchedule"))->trigger();
        QVERIFY(!program.Settings().scheduleEnabled);
        QVERIFY(!box->isChecked());

        // The check commands are there once a check entry exists.
        QVERIFY(w.Action(QStringLiteral("mnuCheckMail"))->isEnabled());
        w.Action(QStringLiteral("mnuCheckMail"))->trigger();
        QCOMPARE(checks, (QList<std::pair<bool, bool>>{{true, false}}));

        // "Show Terminal Window" shows the traffic transcript; closing the window unchecks it.
        program.GetTerminal().Append(QStringLiteral("-->ATZ\r"));
        QAction* diag = w.Action(QStringLiteral("mnuDiagnostics"));
        QVERIFY(diag->isEnabled() && !diag->isChecked());
        QVERIFY(!w.TerminalWindow()->isVisible());
        diag->trigger();
        QVERIFY(w.TerminalWindow()->isVisible());
        QCOMPARE(w.TerminalWindow()->windowTitle(), QStringLiteral("Terminal Data"));
        QCOMPARE(w.TerminalWindow()->findChild<QPlainTextEdit*>(QStringLiteral("Term"))->toPlainText(), QStringLiteral("-->ATZ\n"));
        w.TerminalWindow()->close();
        QVERIFY(!diag->isChecked());

        // The offscreen platform has no system tray: minimising leaves a minimised window.
        QVERIFY(!tray.IsSystemTrayAvailable());
        w.showMinimized();
        QCoreApplication::processEvents();
        QVERIFY(w.isVisible());
        QVERIFY(!tray.IsShown());
    }

    void checkMailNowFromTheMenu() {
        FrmMain w;
        ProgramRig rig(kNine);
        VirtualEventPump& pump = rig.pump;
        ScriptedNet net(pump);
        auto box = std::make_shared<Pop3Mailbox>();
        box->messages = {"Message-ID: <1@x>\r\nSubject: Hi\r\nFrom: a@x\r\n\r\nbody\r\n"};
        net.listen(QStringLiteral("pop.example.org"), 110, [box] { return makePop3Script(box); });
        SocketRegistry sockets;
        Pop3Client pop(pump, net, sockets);
        TcpControl tcp(sockets);
        rig.noStartupProfile();
        MainProgram& program = rig.create({.pop = &pop, .tcp = &tcp}, &w);
        w.Bind(program);
        FrmStatus status(program.Status());
        program.Status().Attach(&status);
        program.Startup(QString());
        program.Settings().connectionType = ConnDirect;
        program.POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                                  QStringLiteral("user"), QStringLiteral("secret"), true);

        QAction* checkNow = w.Action(QStringLiteral("mnuCheckMail"));
        QVERIFY(checkNow->isEnabled());
        bool shownDuringCheck = false;
        QString statusLine;
        pump.schedule(0.3, [&] {
            shownDuringCheck = status.isVisible();
            statusLine = status.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
        });
        checkNow->trigger();
        QVERIFY(shownDuringCheck); // the status window flag is on by default
        QVERIFY(!statusLine.isEmpty());
        QCOMPARE(program.GetInbox().Count(), 1);
        QVERIFY(program.GetInbox().Item(1).Downloaded());
        QCOMPARE(w.statusBar()->findChild<QLabel*>(QStringLiteral("messages"))->text(),
                 QStringLiteral("1 New Message(s) : 1 Total"));
        const QString activity = w.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"))->toPlainText();
        QVERIFY(activity.contains(QStringLiteral("Messages Waiting = 1")));
        // "Check Mail Now" never pages: the connection is ended, the status window closed.
        QVERIFY(!program.Status().IsLoaded());
        program.Status().Attach(nullptr);
    }

    void statusWindowCancel() {
        MemorySettingsStore store;
        bool cancel = false;
        StatusWindow logic(store, QSize(15360, 11520), cancel);
        FrmStatus window(logic);
        logic.Attach(&window);
        QCOMPARE(window.windowTitle(), QStringLiteral("Tessaly Status"));
        logic.Show();
        QVERIFY(window.isVisible());
        logic.SetStatusLine(QStringLiteral("Checking account 1"));
        auto* label = window.findChild<QLabel*>(QStringLiteral("lblStatus"));
        QCOMPARE(label->text(), QStringLiteral("Checking account 1"));
        auto* cancelButton = window.findChild<QPushButton*>(QStringLiteral("cmdCancel"));
        QCOMPARE(cancelButton->text(), QStringLiteral("Cancel"));
        QTest::mouseClick(cancelButton, Qt::LeftButton);
        QVERIFY(cancel);
        QCOMPARE(label->text(), QStringLiteral("Cancelling"));
        window.close(); // the position is kept for next time
        QVERIFY(store.contains(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("StatusLeft")));
        logic.Attach(nullptr);
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
