// Start-up with profiles: the shipped DEFAULT.dat, the first start, a
// profile named on the command line, seeding of empty lists, and the
// "Current Settings" summary.

#include "state/appinfo.h"
#include "app/shippedresources.h"
#include "platform/programdir.h"
#include "tests/unit/profiletestrig.h"

#include <QtEndian>
#include <QtTest>

using namespace tessaly;

namespace {

// DEFAULT.dat as shipped, written out by hand: the factory values, one
// pager "user1" and one service "Default" with the usual paging-terminal line
// (1200 baud, even parity, 7 data bits), a direct internet connection, the
// working days on, and the options dialog's defaults for the other fields.
QByteArray expectedShippedProfile() {
    return crlf({
        "\"1.1.0000\"",
        "#FALSE#,1,1",
        "\"user1\",\"\",\"\",\"Default\",0,\"\",\"\"",
        "\"Default\",\"1200\",\"EVEN\",\"1\",\"7\",2,8,\"AT&F E0 V1 &D2 &C1 &Q0\",80,\"\",\"\"",
        "2,30,3,1,0,0,0",
        "2,2",
        "\"Stored Profile\",\"ATZ\"",
        "\"Factory Settings\",\"AT&F\"",
        "\"Hayes Compatible\",\"AT&F E0 V1 &D2 &C1 &Q0\"",
        "#FALSE#,60,\"8:00 am\",\"5:00 pm\"",
        "#FALSE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#FALSE#",
        "\"\",\"\",\"\",1,\"\",60,3",
        "#FALSE#",
        "\"\",\"\",25,\"\"",
        "20,\"111*\",#FALSE#,\"\",\"\",#FALSE#",
        "5,#FALSE#",
        "0",
    });
}

QByteArray withoutVersionLine(const QByteArray& bytes) { return bytes.mid(bytes.indexOf("\r\n")); }

void setRegistry(ProfileRig& rig, const char* name, const QString& value) {
    rig.store.write(kAppTitle, kSettingsSection, QString::fromLatin1(name), value);
}

} // namespace

class TestStartupProfile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initShippedResources(); }
    void shippedProfileIsTheFactoryState();
    void firstStartCopiesAndLoadsTheShippedProfile();
    void commandLineProfileReplacesTheStartupProfile();
    void emptyListsAreSeeded();
    void settingsSummary();
};

void TestStartupProfile::shippedProfileIsTheFactoryState() {
    QFile shipped(QStringLiteral(":/shipped/DEFAULT.dat"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray bytes = shipped.readAll();
    QVERIFY(bytes.startsWith("\"" + VersionString().toLatin1() + "\"\r\n"));
    QCOMPARE(withoutVersionLine(bytes), withoutVersionLine(expectedShippedProfile()));

    // SaveProfile of a start without any profile writes the same file.
    ProfileRig rig;
    setRegistry(rig, "Defaultfile", QString());
    rig.p().Startup(QString());
    QCOMPARE(rig.p().Pagers().KeyAt(1), QStringLiteral("user1"));
    QCOMPARE(rig.p().Services().KeyAt(1), QStringLiteral("Default"));
    // The shipped starting point: the factory state plus these values.
    CPager& pager = rig.p().Pagers().Item(1);
    pager.SetUsername(QStringLiteral("user1"));
    pager.SetServiceName(QStringLiteral("Default"));
    CPagerService& service = rig.p().Services().Item(1);
    service.SetName(QStringLiteral("Default"));
    service.SetBaud(QStringLiteral("1200"));
    service.SetParity(QStringLiteral("EVEN"));
    service.SetStopBits(QStringLiteral("1"));
    service.SetDataBits(QStringLiteral("7"));
    service.SetCommPort(2);
    service.SetDigitalDelay(8);
    service.SetInitstring(QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    service.SetMaxPageChar(80);
    LiveSettings& s = rig.s();
    for (int day = 2; day <= 6; ++day)
        s.weekdays[day] = true;
    s.connectionType = ConnDirect;
    s.dialTimeout = 60;
    s.dialRetries = 3;
    s.smtpPort = 25;
    s.numericPagePrefix = QStringLiteral("111*");
    s.maxPagesPerMessage = 5;
    const QString file = rig.path(QStringLiteral("factory.dat"));
    rig.p().SaveProfile(file);
    QCOMPARE(ProfileRig::read(file), bytes);
}

void TestStartupProfile::firstStartCopiesAndLoadsTheShippedProfile() {
    for (bool dialUp : {false, true}) {
        ProfileRig rig;
        rig.dialUp = dialUp;
        QVERIFY(prepareProgramDirectory(rig.dir.path()).isEmpty());
        const QString shipped = rig.path(QStringLiteral("DEFAULT.dat"));
        QCOMPARE(ProfileRig::read(shipped), expectedShippedProfile());
        QVERIFY(QFileInfo(shipped).isWritable());
        // The new-mail sound the settings name by default ships beside it.
        QFile wav(rig.path(QStringLiteral("NewMail.wav")));
        QVERIFY(wav.open(QIODevice::ReadOnly));
        const QByteArray head = wav.read(44);
        QVERIFY(head.startsWith("RIFF") && head.mid(8, 8) == "WAVEfmt " && head.mid(36, 4) == "data");
        QCOMPARE(wav.size(), 44 + qFromLittleEndian<quint32>(head.constData() + 40));

        rig.p().Startup(QString());

        const LiveSettings& s = rig.s();
        QVERIFY(s.statusWindowFlag && s.downloadFlag && s.trayFlag && s.versionCheckFlag);
        QCOMPARE(s.messageSizeLimit, 20);
        QCOMPARE(rig.p().CurrentProfileName(), shipped);
        QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + shipped);
        QVERIFY(rig.view.ProfileMenusEnabled());
        QVERIFY(rig.p().ProfileChanged()); // the shipped profile is saved under a new name
        QCOMPARE(rig.p().Pagers().Count(), 1);
        QCOMPARE(rig.p().Pagers().Item(QStringLiteral("user1")).ServiceName(), QStringLiteral("Default"));
        QCOMPARE(rig.p().Services().Count(), 1);
        QCOMPARE(rig.p().Services().Item(QStringLiteral("default")).MaxPageChar(), std::int16_t(80));
        QCOMPARE(rig.p().POPAccounts().Count(), 0);
        QCOMPARE(rig.view.EmailLabel(), QStringLiteral("Download Messages"));
        QCOMPARE(rig.view.PagingLabel(), QStringLiteral("None"));
        // The shipped profile connects directly: no dial-up question on a first start.
        QCOMPARE(rig.prompter.messageTexts(), QStringList());
        QCOMPARE(s.connectionType, std::int16_t(1));
        QCOMPARE(rig.view.ConnectionLabel(), QStringLiteral("Direct"));

        // A second start finds the user's copy and leaves it alone.
        rig.write(QStringLiteral("DEFAULT.dat"), QByteArray("user's own"));
        QVERIFY(prepareProgramDirectory(rig.dir.path()).isEmpty());
        QCOMPARE(ProfileRig::read(shipped), QByteArray("user's own"));
    }
}

void TestStartupProfile::commandLineProfileReplacesTheStartupProfile() {
    ProfileRig rig;
    QVERIFY(prepareProgramDirectory(rig.dir.path()).isEmpty());
    QByteArray other = expectedShippedProfile();
    other.replace("\"user1\",\"\"", "\"bob\",\"4242\"");
    other.replace("\"\",\"\",\"\",0,\"\",0,0", "\"\",\"\",\"\",1,\"\",0,0");
    const QString file = rig.write(QStringLiteral("other.dat"), other);

    rig.p().Startup(file);

    QCOMPARE(rig.p().CurrentProfileName(), file);
    QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + file);
    QCOMPARE(rig.p().Pagers().Count(), 1);
    QCOMPARE(rig.p().Pagers().Item(QStringLiteral("BOB")).ID(), QStringLiteral("4242"));
    QVERIFY(!rig.p().ProfileChanged());
    QVERIFY(rig.p().ActivityText().contains(QStringLiteral("Tessaly started on")));
}

void TestStartupProfile::emptyListsAreSeeded() {
    {   // No startup profile at all.
        ProfileRig rig;
        setRegistry(rig, "Defaultfile", QString());
        rig.p().Startup(QString());
        QVERIFY(!rig.view.ProfileMenusEnabled());
        QCOMPARE(rig.view.Caption(), QString());
        QCOMPARE(rig.p().Pagers().Count(), 1);
        QCOMPARE(rig.p().Pagers().KeyAt(1), QStringLiteral("user1"));
        QCOMPARE(rig.p().Pagers().Item(1).Username(), QString()); // class defaults
        QCOMPARE(rig.p().Services().Count(), 1);
        QVERIFY(rig.p().Services().Find(QStringLiteral("default")));
        QCOMPARE(rig.prompter.messageTexts(), QStringList());
    }
    {   // A profile with no pager and no service.
        ProfileRig rig;
        QByteArray bytes = expectedShippedProfile();
        bytes.replace("#FALSE#,1,1\r\n", "#FALSE#,0,0\r\n");
        bytes.remove(bytes.indexOf("\"user1\""), bytes.indexOf("2,30,3") - bytes.indexOf("\"user1\""));
        const QString file = rig.write(QStringLiteral("bare.dat"), bytes);
        setRegistry(rig, "DefaultFile", file);
        rig.p().Startup(QString());
        QCOMPARE(rig.prompter.messageTexts(), QStringList());
        QCOMPARE(rig.p().Pagers().Count(), 1);
        QCOMPARE(rig.p().Pagers().KeyAt(1), QStringLiteral("user1"));
        QCOMPARE(rig.p().Services().KeyAt(1), QStringLiteral("Default"));
    }
}

void TestStartupProfile::settingsSummary() {
    ProfileRig rig;
    LiveSettings& s = rig.s();
    s.applyFactoryValues();
    CPager pager;
    rig.p().Pagers().Add(std::move(pager), QStringLiteral("user1"));

    struct Case {
        bool paging, checkMail, download, headers;
        int pagerType, connection;
        const char* email;
        const char* pagingText;
        const char* connectionText;
    };
    const Case cases[] = {
        {false, true, true, true, 0, 0, "Download Messages", "None", "Entry"},
        {true, true, true, true, 0, 1, "Download, Page MSG Header", "Direct Dial", "Direct"},
        {true, true, true, false, 1, 2, "Download and Notify", "SMTP Paging", "External Dialer"},
        {true, true, false, true, 2, 7, "Notify Only", "Numeric", ""},
        {true, false, true, true, 2, 0, "", "Numeric", "Entry"},
    };
    for (const Case& c : cases) {
        s.pagingEnabled = c.paging;
        s.scheduleEnabled = !c.paging;
        s.checkMailFlag = c.checkMail;
        s.downloadFlag = c.download;
        s.pageHeaders = c.headers;
        s.connectionType = std::int16_t(c.connection);
        s.dialUpEntry = QStringLiteral("Entry");
        rig.p().Pagers().Item(1).SetPagerType(c.pagerType);
        rig.p().UpdateSettings();
        QCOMPARE(rig.view.EmailLabel(), QString::fromLatin1(c.email));
        QCOMPARE(rig.view.PagingLabel(), QString::fromLatin1(c.pagingText));
        QCOMPARE(rig.view.ConnectionLabel(), QString::fromLatin1(c.connectionText));
        QCOMPARE(rig.view.PagingSwitch(), c.paging);
        QCOMPARE(rig.view.ScheduleSwitch(), !c.paging);
    }
    // Paging on without any pager: no type to show.
    rig.p().Pagers().Clear();
    s.pagingEnabled = true;
    rig.p().UpdateSettings();
    QCOMPARE(rig.view.PagingLabel(), QString());
}

QTEST_GUILESS_MAIN(TestStartupProfile)
#include "test_startupprofile.moc"
