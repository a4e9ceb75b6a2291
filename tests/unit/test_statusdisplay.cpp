// What the user sees of new mail: status panel, sound, blinking tray icon,
// minimising to the tray; and the status window's placement and cancel flag.

#include "state/commstatus.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "app/statusdisplay.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/faketrayicon.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {

class WindowState : public HeadlessMainView {
public:
    WindowState() : HeadlessMainView(false) {}
    bool HasWindows() const override { return false; }
    bool IsMinimized() const override { return minimized; }
    bool IsWindowShown() const override { return shown; }
    void ShowWindow() override { shown = true; }
    void HideWindow() override { shown = false; }
    void RestoreWindow() override {
        minimized = false;
        shown = true;
    }
    void SetToolbarVisible(bool v) override { toolbar = v; }
    bool minimized = false;
    bool shown = true;
    bool toolbar = true;
};

class FakeStatusView : public StatusView {
public:
    void ShowWindow() override { shown = true; }
    void HideWindow() override { shown = false; }
    bool IsShown() const override { return shown; }
    bool IsMinimized() const override { return minimized; }
    void SetStatusText(const QString& t) override { text = t; }
    QSize SizeTwips() const override { return {3960, 1335}; }
    QPoint PositionTwips() const override { return pos; }
    void MoveTwips(const QPoint& p) override { pos = p; }
    void CloseWindow() override { shown = false; ++closes; }
    int closes = 0;
    bool shown = false, minimized = false;
    QString text;
    QPoint pos;
};

} // namespace

class TestStatusDisplay : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    VirtualEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    std::unique_ptr<FakeTrayIcon> trayIcon;
    WindowState view;
    std::unique_ptr<MainProgram> program;
    int newCount = 0;
    int total = 0;

private slots:
    void init() {
        store = MemorySettingsStore();
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        sound.played.clear();
        trayIcon = std::make_unique<FakeTrayIcon>();
        view.minimized = false;
        view.shown = true;
        view.toolbar = true;
        newCount = 0;
        total = 0;
        program = std::make_unique<MainProgram>(
            PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520), trayIcon.get()}, view);
        program->Startup(QString());
        program->Display().SetNewMailCounter([this] { return newCount; });
        program->Display().SetTotalCounter([this] { return total; });
        program->Settings().soundEnabled = true;
        program->Settings().soundFile = QStringLiteral("NewMail.wav");
    }

    void soundOncePerChangeOfTheNewCount() {
        StatusDisplay& d = program->Display();
        newCount = 3;
        d.UpdateEmailDisplay(5);
        d.UpdateEmailDisplay(5); // the same three new messages: no sound
        QCOMPARE(sound.played, QStringList{QStringLiteral("NewMail.wav")});
        newCount = 4;
        d.UpdateEmailDisplay(6);
        QCOMPARE(sound.played.size(), 2);
        program->Settings().soundEnabled = false;
        newCount = 7;
        d.UpdateEmailDisplay(9);
        QCOMPARE(sound.played.size(), 2);
        QCOMPARE(d.LastNewCount(), 7);
    }

    void statusPanelTexts() {
        StatusDisplay& d = program->Display();
        newCount = 2;
        d.UpdateEmailDisplay(5);
        QCOMPARE(view.StatusPanel(QStringLiteral("messages")), QStringLiteral("2 New Message(s) : 5 Total"));
        program->Settings().downloadFlag = false;
        d.UpdateEmailDisplay(4);
        QCOMPARE(view.StatusPanel(QStringLiteral("messages")), QStringLiteral("4 Message(s)"));
        d.UpdateEmailDisplay(0);
        QCOMPARE(view.StatusPanel(QStringLiteral("messages")), QStringLiteral("No Messages"));
    }

    void blinksOnlyWhenMinimisedToTheTray() {
        StatusDisplay& d = program->Display();
        newCount = 1;
        total = 1;
        d.UpdateEmailDisplay(1);
        QVERIFY(!program->BlinkTimer().isActive()); // window is not minimised

        view.minimized = true;
        d.WindowMinimized();
        QCOMPARE(trayIcon->adds, 1);
        QCOMPARE(trayIcon->tip, QStringLiteral("Tessaly 1.1"));
        QVERIFY(!view.shown);
        QVERIFY(!view.toolbar);
        // Minimising keeps the display of what the inbox holds and starts the blink.
        QVERIFY(program->BlinkTimer().isActive());
        trayIcon->pictures.clear();
        pump.advance(4.5); // three ticks of 1.5 s
        QCOMPARE(trayIcon->pictures, (QList<TrayPicture>{TrayPicture::Window, TrayPicture::NewMail, TrayPicture::Window}));

        // Nothing new any more and no new-mail flag: the blinking stops on the window picture.
        newCount = 0;
        d.UpdateEmailDisplay(1);
        QVERIFY(!program->BlinkTimer().isActive());
        QCOMPARE(trayIcon->picture, TrayPicture::Window);
        // The new-mail flag alone keeps it blinking.
        d.SetNewMailFlag(true);
        d.UpdateEmailDisplay(1);
        QVERIFY(program->BlinkTimer().isActive());

        // Double click on the tray icon brings the window back.
        trayIcon->doubleClick();
        d.TrayDoubleClicked();
        QVERIFY(view.shown && !view.minimized);
        d.WindowRestored();
        QVERIFY(view.toolbar);
        // Blink ticks while restored change nothing.
        trayIcon->pictures.clear();
        pump.advance(3);
        QVERIFY(trayIcon->pictures.isEmpty());
    }

    void noTrayMeansAPlainMinimisedWindow() {
        program->Settings().trayFlag = false;
        view.minimized = true;
        program->Display().WindowMinimized();
        QCOMPARE(trayIcon->adds, 0);
        QVERIFY(view.shown);

        program->Settings().trayFlag = true;
        trayIcon->available = false;
        program->Display().WindowMinimized();
        QCOMPARE(trayIcon->adds, 0);
        QVERIFY(view.shown);
        QVERIFY(view.toolbar);
    }

    void statusWindowPlacement() {
        const QSize screen(15360, 11520), window(3960, 1335);
        MemorySettingsStore s;
        QCOMPARE(StatusWindow::Placement(s, screen, window), QPoint(11400, 10185));
        auto put = [&](const char* name, const char* v) {
            s.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QString::fromLatin1(name), QString::fromLatin1(v));
        };
        put("StatusLeft", "1000");
        put("StatusTop", "2000");
        QCOMPARE(StatusWindow::Placement(s, screen, window), QPoint(1000, 2000));
        put("StatusLeft", "20000"); // past the right edge
        put("StatusTop", "11521");  // past the bottom
        QCOMPARE(StatusWindow::Placement(s, screen, window), QPoint(11400, 10185));
        put("StatusLeft", "15360"); // on the edge itself: kept
        put("StatusTop", "junk");
        QCOMPARE(StatusWindow::Placement(s, screen, window), QPoint(15360, 0));
        put("StatusLeft", "-5000"); // wholly off the left
        QCOMPARE(StatusWindow::Placement(s, screen, window).x(), 11400);
    }

    void statusWindowCancelFlagAndPosition() {
        StatusWindow& w = program->Status();
        FakeStatusView v;
        w.Attach(&v);
        bool& cancel = program->CancelFlag();
        cancel = true;
        w.Show();
        QVERIFY(!cancel); // loading clears it
        QVERIFY(v.shown);
        QCOMPARE(v.pos, QPoint(11400, 10185));
        w.SetStatusLine(QStringLiteral("Connecting"));
        w.CancelClicked();
        QVERIFY(cancel);
        QCOMPARE(v.text, QStringLiteral("Cancelling"));
        w.Show(); // already loaded: the flag stays until the window is activated
        QVERIFY(cancel);
        w.Activated();
        QVERIFY(!cancel);

        v.pos = QPoint(100, 200);
        w.Closing();
        QCOMPARE(store.read(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("StatusLeft"), {}), QStringLiteral("100"));
        QCOMPARE(store.read(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("StatusTop"), {}), QStringLiteral("200"));
        v.minimized = true;
        v.pos = QPoint(5, 5);
        w.Closing();
        QCOMPARE(store.read(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("StatusLeft"), {}), QStringLiteral("100"));
        w.Attach(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestStatusDisplay)
#include "test_statusdisplay.moc"
