// Every file the program keeps, written on a full file system and in a
// read-only folder (a small tmpfs mounted by the test, so it needs root):
// the old file stays as it was, no temporary file is left, the failure is
// said, `--set` and `--check` end with a non-zero status, and a check that
// could not record its pages sends none.

#include "features/filters/cfilter.h"
#include "features/mail/cmail.h"
#include "features/mail/inboxstate.h"
#include "features/paging/pageledger.h"
#include "platform/settingsstore.h"
#include "tests/fakes/scriptedprompter.h"

#include <QtTest>
#include <sys/mount.h>
#include <unistd.h>

using namespace tessaly;

class TestFullDisk : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString mountPoint, home;
    bool mounted = false;

    QByteArray contents(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
    // Fills the file system to its last byte.
    void fill() {
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::Append | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1) {
        }
    }
    // Names in the program directory other than the kept files: the
    // temporary files a failed write must not leave.
    QStringList leftovers(const QStringList& kept) const {
        QStringList out;
        for (const QString& name : QDir(home).entryList(QDir::Files))
            if (!kept.contains(name))
                out << name;
        return out;
    }
    int tessly(const QStringList& args, QByteArray* output) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        if (!p.waitForFinished(60000))
            p.kill();
        p.waitForFinished();
        *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase() {
        mountPoint = dir.path() + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(mountPoint));
        if (::geteuid() != 0 ||
            ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=512k") != 0)
            QSKIP("mounting a small tmpfs needs root (and a system that allows it)");
        mounted = true;
        home = mountPoint + QStringLiteral("/home");
        QByteArray out;
        // A first run makes the program directory and its profile.
        QCOMPARE(tessly({QStringLiteral("--set"), QStringLiteral("pager.1.id=111"), QStringLiteral("paging.enabled=true"),
                         QStringLiteral("connection.type=direct"), QStringLiteral("account.1.name=Work"),
                         QStringLiteral("account.1.server=127.0.0.1"), QStringLiteral("account.1.port=1"),
                         QStringLiteral("account.1.username=me"), QStringLiteral("account.1.check=true")},
                        &out),
                 0);
        QVERIFY(QFile::exists(home + QStringLiteral("/DEFAULT.dat")));
        // It holds passwords: nobody but its owner reads it.
        QCOMPARE(int(QFileInfo(home + QStringLiteral("/DEFAULT.dat")).permissions() & 0x00ff), 0);

        ScriptedPrompter prompter;
        Filters filters;
        filters.SetDirectory(home);
        filters.Add(QStringLiteral("junk"), 1, 0, QStringLiteral("offer"), true);
        QVERIFY(filters.Save(prompter));
        IniSettingsStore ini(home + QStringLiteral("/tessaly.ini"));
        ini.write(QStringLiteral("App"), QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("old"));
        QVERIFY(ini.lastWriteOk());
        Inbox inbox;
        inbox.Remember(QStringLiteral("<old@x>"), MailMark{.newMessage = false, .paged = true});
        QString error;
        QVERIFY(SaveInboxState(inbox, home + QLatin1Char('/') + kInboxStateFile, &error));
    }

    void cleanupTestCase() {
        if (mounted)
            ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    }

    void fullDiskKeepsEveryFileAndSaysSo() {
        const QStringList kept{QStringLiteral("DEFAULT.dat"), QStringLiteral("filters.dat"),
                               QStringLiteral("tessaly.ini"), kInboxStateFile, QStringLiteral("NewMail.wav"),
                               QStringLiteral("activity.txt")};
        const QByteArray profile = contents(home + QStringLiteral("/DEFAULT.dat"));
        const QByteArray rules = contents(home + QStringLiteral("/filters.dat"));
        const QByteArray settings = contents(home + QStringLiteral("/tessaly.ini"));
        const QByteArray state = contents(home + QLatin1Char('/') + kInboxStateFile);
        fill();

        QByteArray out;
        QVERIFY(tessly({QStringLiteral("--set"), QStringLiteral("pager.1.id=222")}, &out) != 0);
        QVERIFY2(out.contains("No space left on device"), out.constData());
        QCOMPARE(contents(home + QStringLiteral("/DEFAULT.dat")), profile);

        ScriptedPrompter prompter;
        Filters filters;
        filters.SetDirectory(home);
        filters.Add(QStringLiteral("more"), 1, 0, QString(2000, QLatin1Char('y')), true);
        QVERIFY(!filters.Save(prompter));
        QVERIFY(!prompter.messageTexts().isEmpty());
        QCOMPARE(contents(home + QStringLiteral("/filters.dat")), rules);

        IniSettingsStore ini(home + QStringLiteral("/tessaly.ini"));
        QStringList told;
        ini.setFailureSink([&](const QString& why) { told << why; });
        ini.write(QStringLiteral("App"), QStringLiteral("S"), QStringLiteral("Key"), QString(4000, QLatin1Char('n')));
        QVERIFY(!ini.lastWriteOk());
        QCOMPARE(told.size(), 1);
        QCOMPARE(contents(home + QStringLiteral("/tessaly.ini")), settings);

        Inbox inbox;
        for (int i = 0; i < 200; ++i)
            inbox.Remember(QStringLiteral("<m%1@x>").arg(i), MailMark{});
        QString error;
        QVERIFY(!SaveInboxState(inbox, home + QLatin1Char('/') + kInboxStateFile, &error));
        QVERIFY2(error.contains(QStringLiteral("No space left")), qPrintable(error));
        QCOMPARE(contents(home + QLatin1Char('/') + kInboxStateFile), state);

        PageLedger ledger(home + QLatin1Char('/') + kPageLedgerFile, [] { return QDateTime::currentDateTime(); });
        QVERIFY(!ledger.Open(&error));

        // A check on the full disk sends nothing and says why.
        QVERIFY(tessly({QStringLiteral("--check")}, &out) != 0);
        QVERIFY2(out.contains("cannot be recorded"), out.constData());
        QVERIFY2(!out.contains("Checking email"), out.constData());
        QCOMPARE(leftovers(kept + QStringList{kPageLedgerFile, QStringLiteral("tessly.lock")}), QStringList());
        QFile::remove(mountPoint + QStringLiteral("/filler"));
    }

    void readOnlyFolderPagesNothing() {
        QVERIFY(::mount(nullptr, QFile::encodeName(mountPoint).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                        nullptr) == 0);
        QByteArray out;
        const int rc = tessly({QStringLiteral("--check")}, &out);
        QVERIFY(::mount(nullptr, QFile::encodeName(mountPoint).constData(), nullptr, MS_REMOUNT, nullptr) == 0);
        QVERIFY(rc != 0);
        QVERIFY2(out.contains("cannot be recorded"), out.constData());
        QVERIFY2(!out.contains("Checking email"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "test_full_disk.moc"
