// What a desktop user expects of the main window: the usual keys for the
// File commands, word in the status bar of what a save did, a click on the
// tray icon that brings the window, Escape that closes the immediate
// message window.

#include "app/mainprogram.h"
#include "app/programcommands.h"
#include "app/statusdisplay.h"
#include "tests/fakes/programrig.h"
#include "ui/main/frmmain.h"
#include "ui/paging/frmmessage.h"
#include "ui/platform/qttrayicon.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QtTest>

using namespace tessaly;

namespace {

struct Fixture {
    FrmMain w;
    QtTrayIcon tray{w.PopupMenu()};
    ProgramRig rig{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};
    MainProgram* program = nullptr;
    int quits = 0;

    Fixture() {
        rig.noStartupProfile();
        program = &rig.create({.tray = &tray}, &w);
        w.Bind(*program);
        // As the program's start wires it.
        QObject::connect(&tray, &TrayIcon::DoubleClicked, &w, [this] { program->Display().TrayDoubleClicked(); });
        program->Commands().SetQuitHandler([this] { ++quits; });
        program->Startup(QString());
        rig.prompter.clear();
    }
    bool showActive() {
        w.show();
        w.activateWindow();
        return QTest::qWaitForWindowExposed(&w);
    }
    QString statusNotice() const { return w.statusBar()->currentMessage(); }
};

} // namespace

class TestMainWindowKeys : public QObject {
    Q_OBJECT
private slots:
    void fileCommandsByKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("dialog"); // the file dialog the command opens; none: the program ends
        QTest::newRow("Ctrl+O") << int(Qt::Key_O) << QStringLiteral("Open File");
        QTest::newRow("Ctrl+S") << int(Qt::Key_S) << QStringLiteral("Save File As");
        QTest::newRow("Ctrl+Q") << int(Qt::Key_Q) << QString();
    }
    void fileCommandsByKeyboard() {
        QFETCH(int, key);
        QFETCH(QString, dialog);
        Fixture f;
        QVERIFY(f.showActive());
        QTRY_COMPARE(QApplication::activeWindow(), &f.w);
        QTest::keyClick(&f.w, Qt::Key(key), Qt::ControlModifier);
        if (dialog.isEmpty()) {
            QCOMPARE(f.quits, 1);
            return;
        }
        QCOMPARE(f.quits, 0);
        QCOMPARE(f.rig.prompter.fileDialogs().size(), 1);
        QCOMPARE(f.rig.prompter.fileDialogs().constFirst().request.title, dialog);
    }

    void saveTellsItsOutcome_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("file"); // chosen in the dialog, in the program directory; empty: cancelled
        QTest::addColumn<QString>("notice");
        const QString saved = QStringLiteral("Profile saved");
        const QString failed = QStringLiteral("Profile not saved: Path/File access error");
        QTest::newRow("save") << QStringLiteral("mnuSave") << QStringLiteral("mine.dat") << saved;
        QTest::newRow("save as") << QStringLiteral("mnuSaveAs") << QStringLiteral("mine.dat") << saved;
        QTest::newRow("toolbar save") << QStringLiteral("tlb_save") << QStringLiteral("mine.dat") << saved;
        QTest::newRow("save, folder missing") << QStringLiteral("mnuSave") << QStringLiteral("gone/mine.dat") << failed;
        QTest::newRow("save as, folder missing")
            << QStringLiteral("mnuSaveAs") << QStringLiteral("gone/mine.dat") << failed;
        QTest::newRow("save, dialog cancelled") << QStringLiteral("mnuSave") << QString() << QString();
    }
    void saveTellsItsOutcome() {
        QFETCH(QString, command);
        QFETCH(QString, file);
        QFETCH(QString, notice);
        Fixture f;
        f.rig.prompter.queueFileName(file.isEmpty() ? QString() : QDir(f.rig.dir.path()).filePath(file));
        f.rig.prompter.queueAnswer(MsgAnswer::No); // "Do you want this to be your startup file?"
        QAction* action = command.startsWith(QLatin1String("tlb_")) ? f.w.Toolbar()->findChild<QAction*>(command)
                                                                     : f.w.Action(command);
        QVERIFY(action && action->isEnabled());
        action->trigger();
        QCOMPARE(f.statusNotice(), notice);
        if (notice.startsWith(QLatin1String("Profile not saved")))
            QVERIFY(f.rig.prompter.messageTexts().contains(QStringLiteral("Path/File access error")));
    }

    void trayClickBringsTheWindow_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("in the tray") << QStringLiteral("tray");
        QTest::newRow("minimised") << QStringLiteral("minimised");
        QTest::newRow("behind another window") << QStringLiteral("behind");
    }
    void trayClickBringsTheWindow() {
        QFETCH(QString, where);
        Fixture f;
        QVERIFY(f.showActive());
        if (where == QLatin1String("tray")) {
            f.w.hide();
        } else if (where == QLatin1String("minimised")) {
            f.w.showMinimized();
            QTRY_VERIFY(f.w.isMinimized());
        } else {
            FrmMessage* other = f.w.OpenImmediateMessage();
            QVERIFY(other);
            QTRY_COMPARE(QApplication::activeWindow(), other);
        }
        auto* icon = f.tray.findChild<QSystemTrayIcon*>();
        QVERIFY(icon);
        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(f.w.isVisible());
        QVERIFY(!f.w.isMinimized());
        // The offscreen screen activates a window that comes back from
        // hidden only when it is first shown, so only the others can tell.
        if (where != QLatin1String("tray"))
            QTRY_COMPARE(QApplication::activeWindow(), &f.w);
    }

    void escapeClosesTheImmediateMessage() {
        Fixture f;
        QVERIFY(f.showActive());
        QPointer<FrmMessage> message = f.w.OpenImmediateMessage();
        QVERIFY(message);
        QTRY_COMPARE(QApplication::activeWindow(), message.data());
        QTest::keyClicks(message->txtMessage(), QStringLiteral("not sent"));
        QTest::keyClick(message->txtMessage(), Qt::Key_Escape);
        QVERIFY(!message || !message->isVisible());
        QVERIFY(f.rig.prompter.messages().isEmpty());
        QVERIFY(!f.rig.activity().contains(QStringLiteral("not sent")));
    }
};

QTEST_MAIN(TestMainWindowKeys)
#include "test_mainwindowkeys.moc"
