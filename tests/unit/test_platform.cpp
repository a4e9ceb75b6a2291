// Platform seams: the settings store, the program directory, and waiting in
// virtual and in real time.

#include "platform/eventpump.h"
#include "platform/headlessprompter.h"
#include "platform/programdir.h"
#include "platform/settingsstore.h"
#include "tests/fakes/virtualeventpump.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include "tests/fakes/cputime.h"

using namespace tessaly;

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void settingsNamesIgnoreCase() {
        MemorySettingsStore store;
        QVERIFY(!store.hasSection(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings")));
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QStringLiteral("a"));
        QCOMPARE(store.read(QStringLiteral("tessaly 1.1"), QStringLiteral("SETTINGS"), QStringLiteral("Defaultfile"), QStringLiteral("x")),
                 QStringLiteral("a"));
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DEFAULTFILE"), QStringLiteral("b"));
        QCOMPARE(store.read(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("defaultfile"), {}), QStringLiteral("b"));
        QCOMPARE(store.read(QStringLiteral("Tessaly 1.0"), QStringLiteral("Settings"), QStringLiteral("defaultfile"), QStringLiteral("dflt")),
                 QStringLiteral("dflt"));
        QVERIFY(store.hasSection(QStringLiteral("Tessaly 1.1"), QStringLiteral("settings")));
    }

    void iniFileSurvivesRestartAndOddValues() {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/cfg/tessaly.ini");
        const QString odd = QStringLiteral("line1\r\nline2 \\ back=slash [x]");
        {
            IniSettingsStore store(path);
            store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("Odd"), odd);
            store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("Empty"), QString());
            store.write(QStringLiteral("Tessaly 1.0"), QStringLiteral("Settings"), QStringLiteral("MailSize"), QStringLiteral("30"));
            QVERIFY(store.lastWriteOk());
        }
        // Hand edits with junk lines do not disturb the rest.
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write("garbage without equals\n=novalue\n[broken\n[Tessaly 1.1/POP3 Security]\n Work = TLS\n");
        f.close();
        IniSettingsStore again(path);
        // A name with blanks around it is the name without them.
        QCOMPARE(again.names(QStringLiteral("Tessaly 1.1"), QStringLiteral("POP3 Security")), QStringList{"Work"});
        QCOMPARE(again.read(QStringLiteral("Tessaly 1.1"), QStringLiteral("POP3 Security"), QStringLiteral("work"), {}),
                 QStringLiteral(" TLS"));
        // A removed value is gone from the file too.
        again.remove(QStringLiteral("Tessaly 1.1"), QStringLiteral("POP3 SECURITY"), QStringLiteral("WORK"));
        QVERIFY(again.lastWriteOk());
        QVERIFY(IniSettingsStore(path).names(QStringLiteral("Tessaly 1.1"), QStringLiteral("POP3 Security")).isEmpty());
        QCOMPARE(again.read(QStringLiteral("tessaly 1.1"), QStringLiteral("settings"), QStringLiteral("odd"), {}), odd);
        QVERIFY(again.contains(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("EMPTY")));
        QCOMPARE(again.read(QStringLiteral("Tessaly 1.0"), QStringLiteral("Settings"), QStringLiteral("mailsize"), {}), QStringLiteral("30"));
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path() + QStringLiteral("/cfg")).entryList(QDir::Files), QStringList{QStringLiteral("tessaly.ini")});
        // The file may hold mail passwords: its owner alone reads it.
        const QFileDevice::Permissions ownerGroupOther(0x7077);
        QCOMPARE(QFile::permissions(path) & ownerGroupOther, QFile::ReadOwner | QFile::WriteOwner);
    }

    void programDirectoryFollowsEnvironment() {
        QTemporaryDir dir;
        const QString home = dir.path() + QStringLiteral("/home/x");
        qputenv("TESSALY_HOME", home.toLocal8Bit());
        QCOMPARE(programDirectory(), home);
        QCOMPARE(prepareProgramDirectory(home), QString());
        QVERIFY(QDir(home).exists());
        qunsetenv("TESSALY_HOME");
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        QCOMPARE(programDirectory(), dir.path() + QStringLiteral("/tessaly"));
        // A path that cannot be created is reported, not ignored.
        QVERIFY(!prepareProgramDirectory(QStringLiteral("/proc/tessaly-cannot-exist")).isEmpty());
    }

    void virtualWaitJumpsToEventsAndDeadlines() {
        VirtualEventPump pump(QDateTime(QDate(2026, 1, 1), QTime(8, 0)));
        bool arrived = false;
        pump.schedule(2.5, [&] { arrived = true; });
        QVERIFY(pump.waitUntil([&] { return arrived; }, 60, nullptr));
        QCOMPARE(pump.elapsedSeconds(), 2.5);
        // Nothing happens: the wait ends exactly at its deadline.
        QVERIFY(!pump.waitUntil([] { return false; }, 60, nullptr));
        QCOMPARE(pump.elapsedSeconds(), 62.5);
        // A cancel set by an event ends the wait at that moment.
        bool cancel = false;
        pump.schedule(5, [&] { cancel = true; });
        pump.pause(30, &cancel);
        QCOMPARE(pump.elapsedSeconds(), 67.5);
        QCOMPARE(pump.now(), QDateTime(QDate(2026, 1, 1), QTime(8, 1, 7, 500)));
    }

    void virtualTimersTickAndNest() {
        VirtualEventPump pump;
        auto timer = pump.createTimer();
        timer->setInterval(60000);
        QList<double> ticks;
        QObject::connect(timer.get(), &Timer::timeout, [&] {
            ticks << pump.elapsedSeconds();
            if (ticks.size() == 2)
                pump.pause(90, nullptr); // a long job inside a tick
        });
        timer->start();
        QVERIFY(timer->isActive());
        pump.advance(300);
        // The tick during the 90-second job falls due inside it and runs from the nested wait.
        QCOMPARE(ticks, (QList<double>{60, 120, 180, 240, 300}));
        timer->stop();
        pump.advance(600);
        QCOMPARE(ticks.size(), 5);
        timer.reset();
        QCOMPARE(pump.pendingCount(), 0);
    }

    void realWaitWakesOnEventsAndSleepsOtherwise() {
        RealEventPump pump;
        bool flag = false;
        QTimer::singleShot(50, [&] { flag = true; });
        QElapsedTimer t;
        t.start();
        QVERIFY(pump.waitUntil([&] { return flag; }, 10, nullptr));
        QVERIFY(t.elapsed() < 5000);

        // Two seconds of silence, with a cancel flag watched, cost almost no CPU.
        bool cancel = false;
        const double before = cpuSeconds();
        t.restart();
        QVERIFY(!pump.waitUntil([] { return false; }, 2, &cancel));
        const double used = cpuSeconds() - before;
        QVERIFY(t.elapsed() >= 1900);
        QVERIFY2(used < 0.5, qPrintable(QStringLiteral("CPU used: %1 s").arg(used)));

        QTimer::singleShot(100, [&] { cancel = true; });
        t.restart();
        pump.pause(30, &cancel);
        QVERIFY(t.elapsed() < 5000);
    }

    void headlessPrompterTakesDefaultsAndReports() {
        QStringList seen;
        HeadlessPrompter prompter([&](const QString& line) { seen << line; });
        QCOMPARE(prompter.messageBox(QStringLiteral("Save File Before Exiting?"), MsgButtons::YesNoCancel), MsgAnswer::Yes);
        // Retry/Cancel is cancelled so a failing operation is not retried forever.
        QCOMPARE(prompter.messageBox(QStringLiteral("disk full"), MsgButtons::RetryCancel), MsgAnswer::Cancel);
        QCOMPARE(prompter.inputBox(QStringLiteral("Reply to?"), {}, QStringLiteral("me@x")), std::optional<QString>(QStringLiteral("me@x")));
        QCOMPARE(prompter.openFileName(QStringLiteral("Open"), {}, {}), QString());
        QCOMPARE(seen.size(), 4);
        QVERIFY(seen[0].contains(QStringLiteral("Save File Before Exiting?")));
        // A sink that itself prompts does not recurse.
        HeadlessPrompter* self = nullptr;
        int depth = 0;
        HeadlessPrompter nested([&](const QString&) {
            ++depth;
            self->messageBox(QStringLiteral("inner"));
        });
        self = &nested;
        nested.messageBox(QStringLiteral("outer"));
        QCOMPARE(depth, 1);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
