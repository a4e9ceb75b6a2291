// The profile data file: line syntax, scrambling, save and load of both
// formats, and every failure outcome of the loader.

#include "app/profile.h"
#include "ground/tessalyerror.h"
#include "tests/unit/profiletestrig.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace tessaly;

namespace {

const QString kOlder = QStringLiteral(
    "Your data file is an older version.  Saving this file will convert it to the new version.");
const QString kDialUpMissing = QStringLiteral(
    "CIRAS.OCX is missing or not registered.  Microsoft RAS or dial-up networking must be "
    "installed on PC to initiate a dial-up connection.");

// A current-format profile written by hand: two pagers (one with an empty
// service name), four modem profiles, a comma inside a quoted text and
// four accounts.
QByteArray currentFixture() {
    return crlf({
        "\"1.0.0042\"",
        "#TRUE#,2,1",
        "\"alice\",\"1234567\",\"5550100\",\"\",1,\"alice@pager.example\",\"gate@example.com\"",
        "\"bob\",\"7654321\",\"5550199\",\"Acme\",2,\"\",\"\"",
        "\"Acme\",\"9600\",\"NONE\",\"1\",\"8\",3,4,\"AT&F E0\",80,\"5551234\",\"term\"",
        "1,20,2,0,1,2,1",
        "3,1",
        "\"Stored Profile\",\"ATZ\"",
        "\"Mine\",\"AT&F1\"",
        "\"Other\",\"ATZ0\"",
        "\"Spare\",\"AT\"",
        "#TRUE#,15,\"7:00 am\",\"6:00 pm\"",
        "#FALSE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#FALSE#",
        "\"MyISP\",\"dialuser\",\"n_kb\",2,\"/usr/bin/dialer\",60,3",
        "#TRUE#",
        "\"10.0.0.25\",\"mail.example.com\",587,\"example.com\"",
        "64,\"9,\",#TRUE#,\"}jyf\",\"/usr/bin/mutt\",#TRUE#",
        "4,#FALSE#",
        "4",
        "\"Home\",\"pop.home.example\",110,\"me\",\"}[mhoj\",#TRUE#",
        "\"Work\",\"pop.work.example\",995,\"me2\",\"zm\",#FALSE#",
        "\"Old\",\"pop.old.example\",110,\"x\",\"\",#TRUE#",
        "\"Fourth\",\"pop.four.example\",110,\"y\",\"\",#TRUE#",
    });
}

// The older format: no version line, an ignored value after the weekdays,
// one five-field mail account line and nothing after the pages line.
QByteArray oldFixture() {
    return crlf({
        "#TRUE#,1,1",
        "\"pager1\",\"12345\",\"5559999\",\"\",1,\"pg@example.com\",\"me@example.com\"",
        "\"Acme\",\"2400\",\"EVEN\",\"1\",\"7\",3,5,\"ATZ\",80,\"5551234\",\"\"",
        "1,20,2,0,1,2,1",
        "1,1",
        "\"Stored Profile\",\"ATZ\"",
        "\"Mine\",\"AT&F1\"",
        "#TRUE#,15,\"7:00 am\",\"6:00 pm\"",
        "#FALSE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#FALSE#",
        "1",
        "\"MyISP\",\"dialuser\",\"n_kb\",1,\"\",60,3",
        "\"pop.example.com\",110,\"olduser\",\"}[mhoj\",#TRUE#",
        "\"smtp.example.com\",\"mail.example.com\",25,\"example.com\"",
        "40,\"9\",#TRUE#,\"}jyf\",\"client\",#FALSE#",
        "5,#TRUE#",
    });
}

// Fills every stored field with a value that differs from its default, so a
// field the reader drops shows as a difference in the next save.
void fillEverything(MainProgram& p) {
    LiveSettings& s = p.Settings();
    s.applyFactoryValues();
    s.pagingEnabled = true;
    for (int i = 1; i <= 2; ++i) {
        CPager g;
        g.SetUsername(QStringLiteral("pager %1, é").arg(i));
        g.SetID(QStringLiteral("99%1").arg(i));
        g.SetDigitalNumber(QStringLiteral(" 555-01%1").arg(i));
        g.SetServiceName(QStringLiteral("Svc"));
        g.SetPagerType(i);
        g.SetEmailAddress(QStringLiteral("p%1@example.com").arg(i));
        g.SetFromAddress(QStringLiteral("from%1@example.com").arg(i));
        p.Pagers().Add(std::move(g), QStringLiteral("pager %1, é").arg(i));
    }
    CPagerService v;
    v.SetName(QStringLiteral("Svc"));
    v.SetBaud(QStringLiteral("19200"));
    v.SetParity(QStringLiteral("ODD"));
    v.SetStopBits(QStringLiteral("1.5"));
    v.SetDataBits(QStringLiteral("7"));
    v.SetCommPort(8);
    v.SetDigitalDelay(-7);
    v.SetInitstring(QStringLiteral("AT&F E0 V1"));
    v.SetMaxPageChar(230);
    v.SetPhone(QStringLiteral("1,800,555"));
    v.SetTerminalPassword(QStringLiteral("tp"));
    p.Services().Add(std::move(v), QStringLiteral("Svc"));
    s.modemPortIndex = 5; s.retryWait = 45; s.retries = 9; s.speakerVolumeIndex = 2;
    s.speakerModeIndex = 3; s.flowControlIndex = 2; s.dialTypeIndex = 1;
    s.highestModemProfile = 20;
    s.selectedModemProfile = 17;
    for (int i = 3; i <= 20; ++i)
        s.modemProfiles[i] = {QStringLiteral("Modem %1").arg(i), QStringLiteral("AT S%1=0").arg(i)};
    s.scheduleEnabled = true; s.checkInterval = 5;
    s.startTime = QStringLiteral("6:15 am"); s.stopTime = QStringLiteral("11:45 pm");
    for (int d = 1; d <= 7; ++d)
        s.weekdays[d] = d % 2 == 0;
    s.dialUpEntry = QStringLiteral("Provider"); s.dialUpUser = QStringLiteral("dial");
    s.dialUpPassword = QStringLiteral("Dial Pass 1!"); s.connectionType = ConnExternalDialer;
    s.externalDialerPath = QStringLiteral("/opt/dialer, v2"); s.dialTimeout = 90; s.dialRetries = -2;
    s.pageHeaders = true;
    s.smtpHostAddress = QStringLiteral("192.0.2.7"); s.smtpHostName = QStringLiteral("smtp.example.org");
    s.smtpPort = 2525; s.domainName = QStringLiteral("example.org");
    s.messageSizeLimit = 2000000; s.numericPagePrefix = QStringLiteral("*99#");
    s.remoteControlEnabled = true; s.remotePassword = QStringLiteral("Remote~Pw");
    s.emailClientPath = QStringLiteral("/usr/bin/thunderbird"); s.pageBodyHighestPriority = true;
    s.maxPagesPerMessage = 12; s.pageBody = true;
    p.POPAccounts().Add(QStringLiteral("One"), QStringLiteral("pop.one"), 110, QStringLiteral("u1"),
                        QStringLiteral("pässwörd"), true);
    p.POPAccounts().Add(QStringLiteral("Two"), QStringLiteral("pop.two"), -32768, QStringLiteral("u2"),
                        QStringLiteral("{|}"), false);
    p.POPAccounts().Add(QStringLiteral("Three"), QStringLiteral("pop.three"), 32767, QString(), QString(), true);
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT
private slots:
    void scrambleText();
    void readerLineSyntax();
    void saveThenLoadGivesBackEverything();
    void saveRefusesTextsTheFileCannotHold();
    void currentFixtureLoads();
    void shippedNameInAnyCaseMarksChanged();
    void oldFixtureGoesThroughTheOverflowPath();
    void fileCutAfterPagesLineKeepsWhatWasRead();
    void failureOutcomes();
    void dialUpFallback();
    void truncatedAndRandomInputEndsInATableOutcome();
};

void TestProfile::scrambleText() {
    QCOMPARE(ScrambleText(QStringLiteral("secret")), QStringLiteral("}[mhoj"));
    QCOMPARE(UnscrambleText(QStringLiteral("}[mhoj")), QStringLiteral("secret"));
    QCOMPARE(ScrambleText(QString()), QString());

    const QString longest(254, QLatin1Char('a'));
    QCOMPARE(UnscrambleText(ScrambleText(longest)), longest);
    try {
        ScrambleText(QString(255, QLatin1Char('a')));
        QFAIL("255 characters scrambled");
    } catch (const TessalyError& e) {
        QCOMPARE(e.number(), err::Overflow);
    }
    // Codes that would leave 0..255: 250 at an odd position, 5 at an even one.
    QVERIFY_THROWS_EXCEPTION(TessalyError, ScrambleText(QString(QChar(250))));
    QVERIFY_THROWS_EXCEPTION(TessalyError, ScrambleText(QStringLiteral("a") + QChar(5)));
    QVERIFY_THROWS_EXCEPTION(TessalyError, ScrambleText(QStringLiteral("\u20ac")));

    // Storable: the scrambled form holds no double quote or line break.
    QVERIFY(PasswordStorable(QStringLiteral("secret")));
    QVERIFY(PasswordStorable(QString()));
    QVERIFY(!PasswordStorable(QStringLiteral("a,")));      // ',' - 10 is '"'
    QVERIFY(PasswordStorable(QStringLiteral(",a")));       // ',' + 10 is '6'
    QVERIFY(!PasswordStorable(QString(QChar(24))));        // 24 + 10 is '"'
    QVERIFY(!PasswordStorable(QString(QChar(3))));         // 3 + 10 is CR
    QVERIFY(!PasswordStorable(QString(255, QLatin1Char('a'))));
}

void TestProfile::readerLineSyntax() {
    FieldReader r(QByteArray("  \"a, b\" ,#TRUE#,-12, 7 ,\"\",#false#\r\n\r\n"
                               "\"x\"junk,40000,99999,,3.5\r\n\"open"));
    QCOMPARE(r.ReadText(), QStringLiteral("a, b"));
    QCOMPARE(r.ReadBool(), true);
    QCOMPARE(r.ReadInt16(), std::int16_t(-12));
    QCOMPARE(r.ReadInt32(), 7);
    QCOMPARE(r.ReadText(), QString());
    QCOMPARE(r.ReadBool(), false);
    QCOMPARE(r.ReadText(), QStringLiteral("x")); // blank line skipped, junk after the quote ignored
    try {
        r.ReadInt16();
        QFAIL("40000 read into 16 bits");
    } catch (const TessalyError& e) {
        QCOMPARE(e.number(), err::Overflow);
    }
    QCOMPARE(r.ReadInt32(), 99999);
    QCOMPARE(r.ReadInt16(), std::int16_t(0)); // empty field between commas
    QCOMPARE(r.ReadInt16(), std::int16_t(4)); // halves round to even
    QCOMPARE(r.ReadText(), QStringLiteral("open")); // an unclosed quote runs to the end
    try {
        r.ReadText();
        QFAIL("read past the end");
    } catch (const TessalyError& e) {
        QCOMPARE(e.number(), err::InputPastEnd);
    }

    FieldReader bad(QByteArray("abc,\"12\",#TRUE#"));
    QVERIFY_THROWS_EXCEPTION(TessalyError, bad.ReadInt16());
    QCOMPARE(bad.ReadInt16(), std::int16_t(12));
    QCOMPARE(bad.ReadInt16(), std::int16_t(-1));
}

void TestProfile::saveThenLoadGivesBackEverything() {
    ProfileRig a;
    fillEverything(a.p());
    a.p().SetProfileChanged(true);
    const QString file = a.path(QStringLiteral("round.dat"));
    a.p().SaveProfile(file);
    QVERIFY(!a.p().ProfileChanged());
    const QByteArray first = ProfileRig::read(file);
    QVERIFY(first.startsWith("\"1.1.0000\"\r\n#TRUE#,2,1\r\n"));
    QVERIFY(first.endsWith("3\r\n\"One\",\"pop.one\",110,\"u1\",\"\x7A\xDA\x7D\x69\x81\xEC\x7C\x5A\",#TRUE#\r\n"
                           "\"Two\",\"pop.two\",-32768,\"u2\",\"\x85r\x87\",#FALSE#\r\n"
                           "\"Three\",\"pop.three\",32767,\"\",\"\",#TRUE#\r\n"));
    QVERIFY(!first.contains("\n\n") && first.count('\n') == first.count("\r\n"));

    ProfileRig b;
    b.s().applyFactoryValues();
    b.p().LoadProfile(file);
    QCOMPARE(b.prompter.messageTexts(), QStringList());
    QCOMPARE(b.p().POPAccounts().Item(1).Password(), QStringLiteral("pässwörd"));
    QCOMPARE(b.s().dialUpPassword, QStringLiteral("Dial Pass 1!"));
    QCOMPARE(b.s().remotePassword, QStringLiteral("Remote~Pw"));
    QCOMPARE(b.p().Pagers().KeyAt(2), QStringLiteral("pager 2, é"));
    QCOMPARE(b.s().modemProfiles[20].initString, QStringLiteral("AT S20=0"));
    QCOMPARE(b.view.Caption(), QStringLiteral("Tessaly: ") + file);
    QVERIFY(!b.p().ProfileChanged());

    const QString again = b.path(QStringLiteral("again.dat"));
    b.p().SaveProfile(again);
    QCOMPARE(ProfileRig::read(again), first);
}

void TestProfile::saveRefusesTextsTheFileCannotHold() {
    ProfileRig rig;
    fillEverything(rig.p());
    const QString file = rig.write(QStringLiteral("keep.dat"), QByteArray("old content"));
    rig.p().SetProfileChanged(true);

    rig.p().POPAccounts().Item(2).SetPassword(QStringLiteral("a,b")); // ',' at position 2 scrambles to '"'
    try {
        rig.p().SaveProfile(file);
        QFAIL("an unstorable password was saved");
    } catch (const TessalyError& e) {
        QVERIFY(e.description().contains(QStringLiteral("POP3 account \"Two\"")));
    }
    QCOMPARE(ProfileRig::read(file), QByteArray("old content"));
    QVERIFY(rig.p().ProfileChanged());

    rig.p().POPAccounts().Item(2).SetPassword(QStringLiteral("fine"));
    rig.s().startTime = QStringLiteral("8:00 \"am\"");
    QVERIFY_THROWS_EXCEPTION(TessalyError, rig.p().SaveProfile(file));
    rig.s().startTime = QStringLiteral("8:00 am");
    rig.p().Pagers().Item(1).SetID(QStringLiteral("\u20ac"));
    QVERIFY_THROWS_EXCEPTION(TessalyError, rig.p().SaveProfile(file));
    QCOMPARE(ProfileRig::read(file), QByteArray("old content"));
}

void TestProfile::currentFixtureLoads() {
    ProfileRig rig;
    rig.s().applyFactoryValues();
    rig.p().POPAccounts().Add(QStringLiteral("stale"), QString(), 110, QString(), QString(), true);
    const QString file = rig.write(QStringLiteral("mine.dat"), currentFixture());
    rig.p().SetProfileChanged(true);
    rig.p().LoadProfile(file);

    QCOMPARE(rig.prompter.messageTexts(), QStringList());
    QVERIFY(!rig.p().ProfileChanged());
    QVERIFY(!rig.p().ActivityText().contains(QStringLiteral("Importing")));
    const LiveSettings& s = rig.s();
    QVERIFY(s.pagingEnabled);
    QCOMPARE(rig.p().Pagers().Count(), 2);
    const CPager& alice = rig.p().Pagers().Item(QStringLiteral("ALICE"));
    QCOMPARE(alice.ServiceName(), QStringLiteral("default"));
    QCOMPARE(alice.PagerType(), std::int16_t(1));
    QVERIFY(rig.p().Services().Find(alice.ServiceName()) == nullptr); // "Acme" only
    const CPagerService& acme = rig.p().Services().Item(QStringLiteral("acme"));
    QCOMPARE(acme.CommPort(), std::int16_t(3));
    QCOMPARE(acme.MaxPageChar(), std::int16_t(80));
    QCOMPARE(acme.TerminalPassword(), QStringLiteral("term"));
    QCOMPARE(s.modemPortIndex, std::int16_t(1));
    QCOMPARE(s.dialTypeIndex, std::int16_t(1));
    QCOMPARE(s.highestModemProfile, std::int16_t(3));
    QCOMPARE(s.selectedModemProfile, std::int16_t(1));
    QCOMPARE(s.modemProfiles[3].name, QStringLiteral("Spare"));
    QCOMPARE(s.checkInterval, std::int16_t(15));
    QVERIFY(!s.weekdays[1] && s.weekdays[2] && s.weekdays[6] && !s.weekdays[7]);
    QCOMPARE(s.dialUpPassword, QStringLiteral("dial"));
    QCOMPARE(s.connectionType, std::int16_t(2));
    QVERIFY(s.pageHeaders);
    QCOMPARE(s.messageSizeLimit, 64);
    QCOMPARE(s.numericPagePrefix, QStringLiteral("9,"));
    QCOMPARE(s.remotePassword, QStringLiteral("stop"));
    QCOMPARE(s.maxPagesPerMessage, std::int16_t(4));
    QVERIFY(!s.pageBody);

    // Four accounts in the file, three kept: the first three.
    QCOMPARE(rig.p().POPAccounts().Count(), 3);
    QCOMPARE(rig.p().POPAccounts().Item(1).Password(), QStringLiteral("secret"));
    QCOMPARE(rig.p().POPAccounts().Item(2).Password(), QStringLiteral("pw"));
    QVERIFY(!rig.p().POPAccounts().Item(2).CheckMail());
    QCOMPARE(rig.p().POPAccounts().Item(3).Name(), QStringLiteral("Old"));

    // Window refresh.
    QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + file);
    QVERIFY(rig.view.ProfileMenusEnabled());
    QCOMPARE(rig.view.PagingLabel(), QStringLiteral("SMTP Paging"));
    QCOMPARE(rig.view.ConnectionLabel(), QStringLiteral("External Dialer"));
    QVERIFY(rig.view.ScheduleSwitch() && rig.view.PagingSwitch());
}

void TestProfile::shippedNameInAnyCaseMarksChanged() {
    ProfileRig rig;
    rig.s().applyFactoryValues();
    for (const char* name : {"DEFAULT.dat", "default.DAT", "Default.Dat"}) {
        const QString file = rig.write(QString::fromLatin1(name), currentFixture());
        rig.p().SetProfileChanged(false);
        rig.p().LoadProfile(file);
        QVERIFY2(rig.p().ProfileChanged(), name);
        QFile::remove(file);
    }
    // The same name in another directory is another file.
    QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("sub")));
    const QString elsewhere = rig.write(QStringLiteral("sub/DEFAULT.dat"), currentFixture());
    rig.p().LoadProfile(elsewhere);
    QVERIFY(!rig.p().ProfileChanged());
    const QString other = rig.write(QStringLiteral("default.dat.bak"), currentFixture());
    rig.p().SetProfileChanged(true);
    rig.p().LoadProfile(other);
    QVERIFY(!rig.p().ProfileChanged());
    QCOMPARE(rig.prompter.messageTexts(), QStringList());
}

void TestProfile::oldFixtureGoesThroughTheOverflowPath() {
    ProfileRig rig;
    rig.s().applyFactoryValues();
    const QString file = rig.write(QStringLiteral("DEFAULT.dat"), oldFixture());
    rig.p().SetProfileChanged(true);
    rig.p().LoadProfile(file);

    QCOMPARE(rig.prompter.messageTexts(), QStringList());
    QCOMPARE(rig.p().ActivityText().count(QStringLiteral("Importing old file format")), 1);
    QVERIFY(!rig.p().ProfileChanged()); // the old reader always clears it
    const LiveSettings& s = rig.s();
    QVERIFY(s.pagingEnabled);
    QCOMPARE(rig.p().Pagers().Item(QStringLiteral("Pager1")).ServiceName(), QStringLiteral("default"));
    QCOMPARE(rig.p().Services().Item(QStringLiteral("ACME")).Parity(), QStringLiteral("EVEN"));
    QCOMPARE(s.highestModemProfile, std::int16_t(1));
    QCOMPARE(s.modemProfiles[1].initString, QStringLiteral("AT&F1"));
    QCOMPARE(s.dialUpPassword, QStringLiteral("dial"));
    QCOMPARE(s.connectionType, std::int16_t(1));
    QVERIFY(!s.pageHeaders);
    QCOMPARE(s.smtpHostAddress, QStringLiteral("smtp.example.com"));
    QCOMPARE(s.remotePassword, QStringLiteral("stop"));
    QCOMPARE(s.maxPagesPerMessage, std::int16_t(5));
    QVERIFY(s.pageBody);
    QCOMPARE(rig.p().POPAccounts().Count(), 1);
    const CPOPAccount& a = rig.p().POPAccounts().Item(1);
    QCOMPARE(a.Name(), QStringLiteral("Default"));
    QCOMPARE(a.Server(), QStringLiteral("pop.example.com"));
    QCOMPARE(a.MailPort(), std::int16_t(110));
    QCOMPARE(a.Username(), QStringLiteral("olduser"));
    QCOMPARE(a.Password(), QStringLiteral("secret"));
    QVERIFY(a.CheckMail());
    QCOMPARE(rig.p().POPAccounts().KeyAt(1), QString());
    QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + file);
}

void TestProfile::fileCutAfterPagesLineKeepsWhatWasRead() {
    QByteArray cut = currentFixture();
    cut.truncate(cut.indexOf("4,#FALSE#\r\n") + 11);
    QVERIFY(cut.endsWith("4,#FALSE#\r\n"));

    ProfileRig rig;
    rig.s().applyFactoryValues();
    rig.p().POPAccounts().Add(QStringLiteral("before"), QString(), 110, QString(), QString(), true);
    rig.view.SetProfileMenusEnabled(false);
    const QString file = rig.write(QStringLiteral("cut.dat"), cut);
    rig.p().LoadProfile(file);

    QCOMPARE(rig.prompter.messageTexts(), QStringList{kOlder});
    QVERIFY(rig.p().ProfileChanged());
    QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + file);
    QVERIFY(rig.view.ProfileMenusEnabled());
    QCOMPARE(rig.p().POPAccounts().Count(), 0);
    QCOMPARE(rig.p().Pagers().Count(), 2);
    QCOMPARE(rig.s().remotePassword, QStringLiteral("stop"));
    QCOMPARE(rig.s().maxPagesPerMessage, std::int16_t(4));

    const QString saved = rig.path(QStringLiteral("saved.dat"));
    rig.p().SaveProfile(saved);
    const QByteArray bytes = ProfileRig::read(saved);
    QVERIFY(bytes.startsWith("\"1.1.0000\"\r\n"));
    QVERIFY(bytes.endsWith("4,#FALSE#\r\n0\r\n"));
}

void TestProfile::failureOutcomes() {
    {   // Missing file.
        ProfileRig rig;
        rig.s().applyFactoryValues();
        const QString file = rig.path(QStringLiteral("nothere.dat"));
        rig.p().LoadProfile(file);
        QCOMPARE(rig.prompter.messageTexts(),
                 QStringList{QStringLiteral("File ") + file + QStringLiteral(" does not exist.")});
        QVERIFY(rig.p().ProfileChanged());
        QCOMPARE(rig.view.Caption(), QString());
    }
    {   // A 21st modem profile (index 21) is refused before any slot is written.
        QByteArray bytes = currentFixture();
        bytes.replace("\r\n3,1\r\n", "\r\n21,1\r\n");
        ProfileRig rig;
        rig.s().applyFactoryValues();
        rig.p().LoadProfile(rig.write(QStringLiteral("modems.dat"), bytes));
        QCOMPARE(rig.prompter.messageTexts(), QStringList{QStringLiteral("Subscript out of range")});
        QCOMPARE(rig.s().highestModemProfile, std::int16_t(2));
        QCOMPARE(rig.s().modemProfiles[0].name, QStringLiteral("Stored Profile"));
        QCOMPARE(rig.s().modemProfiles[1].name, QStringLiteral("Factory Settings"));
        QVERIFY(!rig.p().ProfileChanged());
    }
    {   // Huge counts end at the end of the file, not in a hang.
        QByteArray bytes = currentFixture();
        bytes.truncate(bytes.indexOf("\"Acme\",\"9600\""));
        bytes.replace("#TRUE#,2,1", "#TRUE#,2147483647,1");
        ProfileRig rig;
        rig.s().applyFactoryValues();
        rig.p().LoadProfile(rig.write(QStringLiteral("huge.dat"), bytes));
        QCOMPARE(rig.prompter.messageTexts(), QStringList{kOlder});
        QByteArray accounts = currentFixture();
        accounts.replace("\r\n4\r\n", "\r\n2000000000\r\n");
        ProfileRig rig2;
        rig2.s().applyFactoryValues();
        rig2.p().LoadProfile(rig2.write(QStringLiteral("huge2.dat"), accounts));
        QCOMPARE(rig2.prompter.messageTexts(), QStringList{kOlder});
        QCOMPARE(rig2.p().POPAccounts().Count(), 3);
    }
    {   // A count too big for 32 bits is an overflow: taken for the old
        // format, whose reader then stops at the version line.
        QByteArray bytes = currentFixture();
        bytes.replace("#TRUE#,2,1", "#TRUE#,2,99999999999");
        ProfileRig rig;
        rig.s().applyFactoryValues();
        rig.p().LoadProfile(rig.write(QStringLiteral("big.dat"), bytes));
        QCOMPARE(rig.p().ActivityText().count(QStringLiteral("Importing old file format")), 1);
        QCOMPARE(rig.prompter.messageTexts(), QStringList{QStringLiteral("Type mismatch")});
    }
    {   // Two pagers under one name: the list's duplicate-key error.
        QByteArray bytes = currentFixture();
        bytes.replace("\"bob\"", "\"ALICE\"");
        ProfileRig rig;
        rig.s().applyFactoryValues();
        rig.p().LoadProfile(rig.write(QStringLiteral("dup.dat"), bytes));
        QCOMPARE(rig.prompter.messageTexts(),
                 QStringList{QStringLiteral("Key is already associated with an element of this collection")});
    }
    {   // An empty file loads nothing and still refreshes the window.
        ProfileRig rig;
        rig.s().applyFactoryValues();
        const QString file = rig.write(QStringLiteral("empty.dat"), QByteArray());
        rig.p().LoadProfile(file);
        QCOMPARE(rig.prompter.messageTexts(), QStringList());
        QCOMPARE(rig.view.Caption(), QStringLiteral("Tessaly: ") + file);
        QCOMPARE(rig.s().checkInterval, std::int16_t(60));
    }
}

void TestProfile::dialUpFallback() {
    QByteArray bytes = currentFixture();
    bytes.replace("\"n_kb\",2,", "\"n_kb\",0,");
    for (bool available : {false, true}) {
        ProfileRig rig;
        rig.dialUp = available;
        rig.s().applyFactoryValues();
        rig.p().LoadProfile(rig.write(QStringLiteral("dial.dat"), bytes));
        if (available) {
            QCOMPARE(rig.prompter.messageTexts(), QStringList());
            QCOMPARE(rig.s().connectionType, std::int16_t(0));
            QVERIFY(!rig.p().ProfileChanged());
            QCOMPARE(rig.view.ConnectionLabel(), QStringLiteral("MyISP"));
        } else {
            QCOMPARE(rig.prompter.messageTexts(), QStringList{kDialUpMissing});
            QCOMPARE(rig.prompter.messages().first().buttons, MsgButtons::OK);
            QCOMPARE(rig.s().connectionType, std::int16_t(1));
            QVERIFY(rig.p().ProfileChanged());
            QCOMPARE(rig.view.ConnectionLabel(), QStringLiteral("Direct"));
        }
    }
}

void TestProfile::truncatedAndRandomInputEndsInATableOutcome() {
    const QStringList known{kOlder, QStringLiteral("Type mismatch"), QStringLiteral("Overflow"),
                            QStringLiteral("Subscript out of range"),
                            QStringLiteral("Invalid procedure call or argument"),
                            QStringLiteral("Key is already associated with an element of this collection")};
    ProfileRig rig;
    rig.dialUp = false;
    int loads = 0;
    auto loadAndCheck = [&](const QByteArray& bytes, bool prefix) {
        rig.prompter.clear();
        rig.s().applyFactoryValues();
        const QString file = rig.write(QStringLiteral("fuzz.dat"), bytes);
        const qsizetype importsBefore = rig.p().ActivityText().count(QStringLiteral("Importing"));
        rig.p().LoadProfile(file);
        ++loads;
        QStringList texts = rig.prompter.messageTexts();
        texts.removeAll(kDialUpMissing);
        QVERIFY2(texts.size() <= 1, qPrintable(texts.join(QLatin1Char('|'))));
        if (!texts.isEmpty())
            QVERIFY2(known.contains(texts.first()), qPrintable(texts.first()));
        if (prefix && !texts.isEmpty())
            QVERIFY2(texts.first() == kOlder || texts.first() == QLatin1String("Type mismatch"),
                     qPrintable(texts.first()));
        QVERIFY(rig.p().ActivityText().count(QStringLiteral("Importing")) - importsBefore <= 1);
        QVERIFY(rig.p().POPAccounts().Count() <= 3);
        QVERIFY(rig.s().highestModemProfile >= 0 && rig.s().highestModemProfile <= 20);
        QVERIFY(rig.s().selectedModemProfile >= 0 && rig.s().selectedModemProfile <= 20);
    };

    // Every prefix of both formats.
    for (const QByteArray& whole : {currentFixture(), oldFixture()})
        for (qsizetype n = 0; n <= whole.size(); ++n)
            loadAndCheck(whole.left(n), true);

    // Mutated and random files, reproducibly.
    QRandomGenerator rng(20261207);
    const QByteArray alphabet("\"#,\r\n -0123456789TRUEFALSabc");
    for (int round = 0; round < 1500; ++round) {
        QByteArray bytes = (round % 2 ? oldFixture() : currentFixture());
        const int edits = 1 + int(rng.bounded(6));
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = rng.bounded(int(bytes.size()));
            switch (rng.bounded(3)) {
            case 0: bytes[at] = alphabet[rng.bounded(int(alphabet.size()))]; break;
            case 1: bytes.remove(at, 1 + rng.bounded(8)); break;
            default: bytes.insert(at, char(rng.bounded(256))); break;
            }
        }
        loadAndCheck(bytes, false);
    }
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes(int(rng.bounded(400)), '\0');
        for (char& c : bytes)
            c = round % 2 ? char(rng.bounded(256)) : alphabet[rng.bounded(int(alphabet.size()))];
        loadAndCheck(bytes, false);
    }
    QVERIFY(loads > 2000);
}

QTEST_GUILESS_MAIN(TestProfile)
#include "test_profile.moc"
