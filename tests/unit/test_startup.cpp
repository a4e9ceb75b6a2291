// Start-up: registry read rules, the one-time settings copy, factory values,
// the greeting and the guarded steps, and the activity box.

#include "state/appinfo.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "app/registry.h"
#include "ground/textfmt.h"
#include "platform/bytelink.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {

// A view that records what start-up does to the window, as a desktop run would.
class RecordingView : public HeadlessMainView {
public:
    RecordingView(VirtualEventPump& pump, bool windows) : HeadlessMainView(false), pump_(pump), windows_(windows) {}
    bool HasWindows() const override { return windows_; }
    void ShowWindow() override { calls << QStringLiteral("show"); }
    void HideWindow() override { calls << QStringLiteral("hide"); }
    void SetSizeTwips(int h, int w) override { calls << QStringLiteral("size %1x%2").arg(w).arg(h); }
    void ShowSplash(const QString& v) override {
        calls << QStringLiteral("splash ") + v;
        splashAt = pump_.elapsedSeconds();
    }
    void CloseSplash() override {
        calls << QStringLiteral("close splash");
        splashClosedAt = pump_.elapsedSeconds();
    }
    QStringList calls;
    double splashAt = -1, splashClosedAt = -1;

private:
    VirtualEventPump& pump_;
    bool windows_;
};

QString settingsValue(const SettingsStore& s, const QString& name) {
    return s.read(kAppTitle, kSettingsSection, name, QStringLiteral("<absent>"));
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(7, 30))};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;

    std::unique_ptr<MainProgram> start(MainView& view, const QString& commandLine = {}) {
        auto p = std::make_unique<MainProgram>(
            PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520)}, view);
        p->Startup(commandLine);
        return p;
    }
    void set(const char* name, const QString& value) {
        store.write(kAppTitle, kSettingsSection, QString::fromLatin1(name), value);
    }

private slots:
    void init() {
        store = MemorySettingsStore();
        prompter.clear();
        QFile::remove(dir.path() + QStringLiteral("/activity.txt"));
        QFile::remove(dir.path() + QStringLiteral("/activity.old"));
    }

    void firstStartTakesDefaults() {
        HeadlessMainView view(false);
        auto p = start(view);
        const LiveSettings& s = p->Settings();
        QCOMPARE(p->CurrentProfileName(), dir.path() + QStringLiteral("/DEFAULT.dat"));
        QVERIFY(s.statusWindowFlag && s.downloadFlag && s.trayFlag && s.versionCheckFlag);
        QCOMPARE(s.messageSizeLimit, 20);
        QVERIFY(s.checkMailFlag);
        // Factory values.
        QCOMPARE(s.startTime, QStringLiteral("8:00 am"));
        QCOMPARE(s.stopTime, QStringLiteral("5:00 pm"));
        QCOMPARE(s.checkInterval, 60);
        QCOMPARE(s.maxPOPAccounts, 3);
        QCOMPARE(s.modemProfiles[2].name, QStringLiteral("Hayes Compatible"));
        QCOMPARE(s.modemProfiles[2].initString, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
        QCOMPARE(s.modemProfiles[1].initString, QStringLiteral("AT&F"));
        QCOMPARE(s.modemProfiles[0].initString, QStringLiteral("ATZ"));
        QVERIFY(s.modemProfiles[3].name.isEmpty());
        QCOMPARE(s.highestModemProfile, 2);
        QCOMPARE(s.selectedModemProfile, 2);
        QCOMPARE(s.modemPortIndex, 2);
        QCOMPARE(s.retries, 3);
        QCOMPARE(s.retryWait, 30);
        QCOMPARE(s.speakerVolumeIndex, 1);
        QCOMPARE(s.flowControlIndex, 0);
        // Nothing went wrong; the only question is about the missing profile
        // (this directory was not prepared with the shipped one).
        QVERIFY2(!p->ActivityText().contains(QStringLiteral("frmMain:Load::")), qPrintable(p->ActivityText()));
        QCOMPARE(prompter.messageTexts(),
                 QStringList{QStringLiteral("File ") + dir.path() + QStringLiteral("/DEFAULT.dat does not exist.")});
        // The sound device is opened for wave audio with its options off.
        QVERIFY(sound.opened);
        QCOMPARE(sound.deviceType, QStringLiteral("WaveAudio"));
        QVERIFY(!sound.options.wait && !sound.options.notify && !sound.options.shareable);
        QCOMPARE(view.StatusPanel(QStringLiteral("messages")), QStringLiteral("No Messages"));
        QVERIFY(p->MinuteTimer().isActive());
        QCOMPARE(p->MinuteTimer().interval(), 60000);
        QVERIFY(!p->BlinkTimer().isActive());
        QCOMPARE(p->HelpFile(), dir.path() + QStringLiteral("/tessly.hlp"));
        QCOMPARE(QDir::currentPath(), QDir(dir.path()).canonicalPath());
    }

    void registryReadRules() {
        set("CheckUpdates", QStringLiteral("true")); // only "True" switches it on
        set("ShowStatus", QStringLiteral("2"));      // anything but "0" is on
        set("GetMail", QStringLiteral("0"));
        set("systemtray", QStringLiteral("0"));      // names ignore case
        set("MailSize", QStringLiteral("abc"));      // non-numeric gives 0
        HeadlessMainView view(false);
        auto p = start(view);
        QVERIFY(!p->Settings().versionCheckFlag);
        QVERIFY(p->Settings().statusWindowFlag);
        QVERIFY(!p->Settings().downloadFlag);
        QVERIFY(!p->Settings().trayFlag);
        QCOMPARE(p->Settings().messageSizeLimit, 0);

        for (auto [text, expected] : {std::pair{"20.5", 20}, {"21.5", 22}, {" 35kb", 35}, {"-4", -4}}) {
            set("MailSize", QString::fromLatin1(text));
            QCOMPARE(readStartupValues(store, dir.path()).mailSize, expected);
        }
        set("CheckUpdates", QStringLiteral("True"));
        QVERIFY(readStartupValues(store, dir.path()).versionCheck);
    }

    void emptyDefaultFileLeavesProfileMenusDisabled() {
        set("Defaultfile", QString());
        HeadlessMainView view(false);
        auto p = start(view);
        QCOMPARE(p->CurrentProfileName(), QString());
        QVERIFY(!view.ProfileMenusEnabled());
    }

    void commandLineNamesTheCurrentProfile() {
        HeadlessMainView view(false);
        auto p = start(view, QStringLiteral("/home/u/My Profile.dat"));
        QCOMPARE(p->CurrentProfileName(), QStringLiteral("/home/u/My Profile.dat"));
    }

    void unusableValueTakesItsDefaultAlone() {
        set("MailSize", QStringLiteral("1e12")); // does not fit 32 bits
        HeadlessMainView view(false);
        auto p = start(view);
        // Every other value of the step is still read.
        const LiveSettings& st = p->Settings();
        QCOMPARE(st.messageSizeLimit, 20);
        QVERIFY(st.statusWindowFlag && st.downloadFlag && st.trayFlag && st.versionCheckFlag);
        QCOMPARE(p->CurrentProfileName(), dir.path() + QStringLiteral("/DEFAULT.dat"));
        const QString line =
            QStringLiteral("frmMain:Load::Overflow in registry value \"MailSize\" (\"1e12\"); the default 20 is used");
        QCOMPARE(p->ActivityText().count(line), 1);
        QCOMPARE(p->ActivityText().count(QStringLiteral("frmMain:Load::")), 1);
        QFile log(dir.path() + QStringLiteral("/activity.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains(line.toLatin1()));
    }

    void previousVersionSettingsAreCopiedOnce() {
        const QString old = kPreviousAppTitle;
        store.write(old, kSettingsSection, QStringLiteral("MailSize"), QStringLiteral("45"));
        store.write(old, kSettingsSection, QStringLiteral("defaultfile"), QStringLiteral("/p/old.dat"));
        store.write(old, kSettingsSection, QStringLiteral("Version"), QStringLiteral("1.0.0012"));
        HeadlessMainView view(false);
        auto p = start(view);
        QCOMPARE(p->Settings().messageSizeLimit, 45);
        QCOMPARE(p->CurrentProfileName(), QStringLiteral("/p/old.dat"));
        QCOMPARE(settingsValue(store, QStringLiteral("Version")), QStringLiteral("1.0.0012"));
        QCOMPARE(settingsValue(store, QStringLiteral("SoundFile")), QStringLiteral("NewMail.wav"));
        QCOMPARE(settingsValue(store, QStringLiteral("CheckMail")), QStringLiteral("1"));
        // Screen 15360 x 11520 twips: the status window defaults to the bottom right.
        QCOMPARE(settingsValue(store, QStringLiteral("StatusLeft")), QStringLiteral("11400"));
        QCOMPARE(settingsValue(store, QStringLiteral("StatusTop")), QStringLiteral("10185"));

        // The user changes a value; the next start must not copy the old one again.
        set("MailSize", QStringLiteral("99"));
        auto q = start(view);
        QCOMPARE(q->Settings().messageSizeLimit, 99);
        QVERIFY(!migrationDue(store));
    }

    void noPreviousVersionNoCopy() {
        HeadlessMainView view(false);
        auto p = start(view);
        QCOMPARE(settingsValue(store, QStringLiteral("StatusLeft")), QStringLiteral("<absent>"));
    }

    void greetingAndLogRollOver() {
        HeadlessMainView view(false);
        auto p = start(view);
        QVERIFY(p->ActivityText().startsWith(QStringLiteral("Tessaly started on   12/7/2026 7:30:00 AM\r\n")));
        p.reset();
        pump.advance(5);
        auto q = start(view);
        QFile old(dir.path() + QStringLiteral("/activity.old"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("Tessaly started on 12/7/2026 7:30:00 AM\r\n"));
        QFile now(dir.path() + QStringLiteral("/activity.txt"));
        QVERIFY(now.open(QIODevice::ReadOnly));
        QCOMPARE(now.readAll(), QByteArray("Tessaly started on 12/7/2026 7:30:05 AM\r\n"));
    }

    void windowedStartShowsSplashForTheRightTimeAndOrder() {
        RecordingView view(pump, true);
        const double t0 = pump.elapsedSeconds();
        auto p = start(view);
        QCOMPARE(view.splashClosedAt - view.splashAt, 2.2);
        QCOMPARE(view.splashAt, t0);
        QCOMPARE(view.calls, (QStringList{QStringLiteral("hide"), QStringLiteral("size 6768x4908"),
                                          QStringLiteral("splash Version 1.1"), QStringLiteral("close splash"),
                                          QStringLiteral("show"), QStringLiteral("size 6768x4908")}));
        // A headless run does not wait for a splash nobody sees.
        RecordingView headless(pump, false);
        const double t1 = pump.elapsedSeconds();
        start(headless);
        QCOMPARE(pump.elapsedSeconds(), t1);
    }

    void activityBoxDropsOldestTextPastItsLimit() {
        HeadlessMainView view(false);
        auto p = start(view);
        while (p->ActivityText().size() < MainProgram::kActivityLimit)
            p->LogActivity(QString(100, QLatin1Char('x')));
        const QString before = p->ActivityText();
        p->LogActivity(QStringLiteral("newest"));
        const QString after = p->ActivityText();
        const QString line = QStringLiteral("newest   ") + formatGeneralDate(pump.now()) + QStringLiteral("\r\n");
        QVERIFY(after.endsWith(line));
        QCOMPARE(after.size(), before.size() - MainProgram::kActivityTrim + line.size());
        QCOMPARE(after.left(50), before.mid(MainProgram::kActivityTrim, 50));
    }

    void controlsAndFiltersArePrepared() {
        // A profile whose modem uses RTS/CTS flow control.
        const QString profile = dir.path() + QStringLiteral("/flow.dat");
        {
            HeadlessMainView view(false);
            auto writer = start(view);
            writer->Settings().flowControlIndex = 2;
            writer->SaveProfile(profile);
        }
        // filters.dat in the program directory is read at start.
        QFile filters(dir.path() + QStringLiteral("/filters.dat"));
        QVERIFY(filters.open(QIODevice::WriteOnly));
        filters.write("\"Junk\",0,0,\"win\",#TRUE#\r\n");
        filters.close();

        FakeSerialControl serial(pump);
        TcpLinkFactory links;
        SmtpClient smtp(pump, links);
        HeadlessMainView view(false);
        MainProgram p(PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520), nullptr,
                                       &serial, nullptr, nullptr, nullptr, &smtp},
                      view);
        p.Startup(profile);
        QFile::remove(dir.path() + QStringLiteral("/filters.dat"));
        QCOMPARE(p.GetFilters().Count(), 1);
        QCOMPARE(p.GetFilters().Item(1)->FilterText(), QStringLiteral("win"));
        QCOMPARE(smtp.Mailer(), QStringLiteral("Tessaly 1.1"));
        QCOMPARE(serial.FlowControl(), 2);
        // Without a dial-up control there is no dial-up component.
        QVERIFY(!p.DialUpAvailable());
    }

    void versionTexts() {
        QCOMPARE(VersionString(), QStringLiteral("1.1.0000"));
        QCOMPARE(SplashVersionText(), QStringLiteral("Version 1.1"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
