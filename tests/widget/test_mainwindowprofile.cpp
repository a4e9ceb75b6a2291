// The main window after a profile load: caption, menus, the "Current
// Settings" labels and the two switches.

#include "ui/main/frmmain.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

class TestMainWindowProfile : public QObject {
    Q_OBJECT
private slots:
    void loadedProfileShowsInTheWindow();
};

void TestMainWindowProfile::loadedProfileShowsInTheWindow() {
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/mine.dat");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\"1.1.0000\"\r\n#TRUE#,1,0\r\n\"pg\",\"1\",\"\",\"\",2,\"\",\"\"\r\n"
                "2,30,3,1,0,0,0\r\n0,0\r\n\"Stored Profile\",\"ATZ\"\r\n"
                "#TRUE#,60,\"8:00 am\",\"5:00 pm\"\r\n"
                "#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n"
                "\"\",\"\",\"\",1,\"\",0,0\r\n#TRUE#\r\n\"\",\"\",25,\"\"\r\n"
                "20,\"\",#FALSE#,\"\",\"\",#FALSE#\r\n5,#FALSE#\r\n0\r\n");
    }
    VirtualEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    FrmMain window;
    MainProgram program(PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520)},
                        window);
    program.SetDialUpAvailable([] { return false; });
    program.Startup(file);

    // The startup DEFAULT.dat is missing, then the command-line profile loads.
    QCOMPARE(prompter.messageTexts(),
             QStringList{QStringLiteral("File ") + dir.path() + QStringLiteral("/DEFAULT.dat does not exist.")});
    QCOMPARE(window.windowTitle(), QStringLiteral("Tessaly: ") + file);
    QVERIFY(window.Menu(QStringLiteral("mnuSettings"))->menuAction()->isEnabled());
    QVERIFY(window.Menu(QStringLiteral("mnuPaging"))->menuAction()->isEnabled());
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblConnection"))->text(), QStringLiteral("Direct"));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblEmail"))->text(),
             QStringLiteral("Download, Page MSG Header"));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblPaging"))->text(), QStringLiteral("Numeric"));
    QVERIFY(window.findChild<QCheckBox*>(QStringLiteral("chkScheduleEnable"))->isChecked());
    QVERIFY(window.findChild<QCheckBox*>(QStringLiteral("chkPageEnable"))->isChecked());
    QVERIFY(window.Action(QStringLiteral("mnuEnablePaging"))->isChecked());
}

QTEST_MAIN(TestMainWindowProfile)
#include "test_mainwindowprofile.moc"
