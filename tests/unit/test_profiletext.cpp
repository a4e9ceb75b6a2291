// The profile's text form: every setting shows, every key can be set and
// survives a save and a load, and a refused assignment names its key and
// leaves the file byte for byte as it was.

#include "app/profiletext.h"
#include "features/mail/cpopaccount.h"
#include "state/remotesafety.h"
#include "features/paging/carriersettings.h"
#include "features/paging/cpagerservice.h"
#include "state/appinfo.h"
#include "tests/unit/profiletestrig.h"

#include <QtTest>

using namespace tessaly;

namespace {

// One pager, one service, three modem profiles, one account.
QByteArray fixture() {
    return crlf({
        "\"1.1.0000\"",
        "#FALSE#,1,1",
        "\"user1\",\"\",\"\",\"Default\",0,\"\",\"\"",
        "\"Default\",\"1200\",\"EVEN\",\"1\",\"7\",2,8,\"AT&F\",80,\"\",\"\"",
        "2,30,3,1,0,0,0",
        "2,2",
        "\"Stored Profile\",\"ATZ\"",
        "\"Factory Settings\",\"AT&F\"",
        "\"Hayes Compatible\",\"AT&F E0\"",
        "#FALSE#,60,\"8:00 am\",\"5:00 pm\"",
        "#FALSE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#TRUE#", "#FALSE#",
        "\"\",\"\",\"\",1,\"\",60,3",
        "#FALSE#",
        "\"\",\"\",25,\"\"",
        "20,\"111*\",#FALSE#,\"\",\"\",#FALSE#",
        "5,#FALSE#",
        "1",
        "\"Work\",\"pop.example.org\",110,\"me\",\"\",#TRUE#",
    });
}

// A new value for every key the fixture shows; the modem profiles and the
// accounts grow by one.
const QList<QPair<QString, QString>>& everyKey() {
    static const QList<QPair<QString, QString>> values = {
        {"paging.enabled", "true"},
        {"pager.count", "1"},
        {"pager.1.username", "ann"},
        {"pager.1.id", "7654321"},
        {"pager.1.digital_number", "5550100"},
        {"pager.1.service", "Acme"},
        {"pager.1.type", "numeric"},
        {"pager.1.email", "ann@pager.example"},
        {"pager.1.from", "gate@example.org"},
        {"service.count", "1"},
        {"service.1.name", "Acme"},
        {"service.1.baud", "9600"},
        {"service.1.parity", "NONE"},
        {"service.1.stop_bits", "2"},
        {"service.1.data_bits", "8"},
        {"service.1.comm_port", "3"},
        {"service.1.digital_delay", "6"},
        {"service.1.init_string", "AT&F1, E0"},
        {"service.1.max_page_chars", "200"},
        {"service.1.phone", "555 1234"},
        {"service.1.terminal_password", "t3rm"},
        {"service.1.address", "snpp.example.net:4444"},
        {"service.1.tls", "true"},
        {"service.1.sender_id", "gate-7"},
        {"service.1.security_code", "c0de"},
        {"service.1.receipts", "true"},
        {"modem.port", "COM4"},
        {"modem.retry_wait", "45"},
        {"modem.retries", "1"},
        {"modem.speaker_volume", "Hi"},
        {"modem.speaker_mode", "On Always"},
        {"modem.flow_control", "RTS/CTS"},
        {"modem.dial_type", "Pulse"},
        {"modem.profile_count", "4"},
        {"modem.selected_profile", "3"},
        {"modem.profile.0.name", "Plain"},
        {"modem.profile.0.init", "AT"},
        {"modem.profile.1.name", "Factory"},
        {"modem.profile.1.init", "AT&F0"},
        {"modem.profile.2.name", "Hayes"},
        {"modem.profile.2.init", "AT&F E0 V1"},
        {"modem.profile.3.name", "Mine"},
        {"modem.profile.3.init", "ATZ1"},
        {"schedule.enabled", "true"},
        {"schedule.interval", "15"},
        {"schedule.start", "7:30 am"},
        {"schedule.stop", "18:00"},
        {"schedule.sunday", "true"},
        {"schedule.monday", "false"},
        {"schedule.tuesday", "false"},
        {"schedule.wednesday", "false"},
        {"schedule.thursday", "false"},
        {"schedule.friday", "false"},
        {"schedule.saturday", "true"},
        {"connection.type", "external"},
        {"connection.dialup_entry", "MyISP"},
        {"connection.dialup_user", "dial"},
        {"connection.dialup_password", "d1al"},
        {"connection.external_dialer", "/usr/bin/pon"},
        {"connection.dial_timeout", "90"},
        {"connection.dial_retries", "2"},
        {"mail.page_headers", "true"},
        {"smtp.host_address", "127.0.0.1"},
        {"smtp.host_name", "mail.example.org"},
        {"smtp.port", "2525"},
        {"smtp.domain", "example.org"},
        {"mail.size_limit", "64"},
        {"paging.numeric_prefix", "999*"},
        {"remote.enabled", "true"},
        {"remote.password", "r3mote"},
        {"mail.client", "/usr/bin/thunderbird"},
        {"paging.body_highest_priority", "true"},
        {"paging.max_pages", "3"},
        {"paging.body", "true"},
        {"remote.allowed_senders", "me@example.org, boss@example.org"},
        {"remote.run_folder", "/srv/run"},
        {"smtp.security", "STARTTLS required"},
        {"smtp.user", "gate"},
        {"smtp.password", "smtp-pw"},
        {"smtp.password_command", "pass show smtp"},
        {"mail.ca_file", "/etc/ssl/mine.pem"},
        {"version.check", "false"},
        {"proxy.enabled", "true"},
        {"proxy.host_name", "proxy.example.org"},
        {"proxy.host_address", "10.0.0.8"},
        {"proxy.port", "3128"},
        {"serial.com1", "/dev/ttyUSB0"},
        {"serial.com2", "/dev/ttyUSB1"},
        {"serial.com3", "/dev/ttyACM0"},
        {"serial.com4", "/dev/ttyS13"},
        {"serial.com5", "/dev/ttyS14"},
        {"serial.com6", "/dev/ttyS15"},
        {"serial.com7", "/dev/ttyS16"},
        {"serial.com8", "/dev/pts/9"},
        {"smtp.signin", "oauth"},
        {"smtp.oauth_provider", "microsoft"},
        {"smtp.oauth_client_id", "0b5e-client"},
        {"smtp.oauth_client_secret", "smtp-client-secret"},
        {"smtp.oauth_authorization_url", ""},
        {"smtp.oauth_token_url", ""},
        {"smtp.oauth_device_url", ""},
        {"smtp.oauth_scope", ""},
        {"account.count", "1"},
        {"account.1.name", "Home"},
        {"account.1.server", "127.0.0.1"},
        {"account.1.port", "1110"},
        {"account.1.username", "alice"},
        {"account.1.password", "s3cret"},
        {"account.1.check", "false"},
        {"account.1.security", "TLS"},
        {"account.1.protocol", "imap"},
        {"account.1.folder", "Alerts/Pager"},
        {"account.1.signin", "oauth"},
        {"account.1.oauth_provider", "custom"},
        {"account.1.oauth_client_id", "home-client"},
        {"account.1.oauth_client_secret", "home-secret"},
        {"account.1.oauth_authorization_url", "https://login.example.org/authorize"},
        {"account.1.oauth_token_url", "https://login.example.org/token"},
        {"account.1.oauth_device_url", "https://login.example.org/device"},
        {"account.1.oauth_scope", "mail offline"},
        {"account.2.name", "Spare"},
        {"account.2.server", "pop.example.net"},
        {"account.2.port", "995"},
        {"account.2.username", "bob"},
        {"account.2.password", "b0b"},
        {"account.2.check", "true"},
        {"account.2.security", "none"},
        {"account.2.protocol", "pop3"},
        {"account.2.folder", "INBOX"},
        {"account.2.signin", "password"},
        {"account.2.oauth_provider", ""},
        {"account.2.oauth_client_id", ""},
        {"account.2.oauth_client_secret", ""},
        {"account.2.oauth_authorization_url", ""},
        {"account.2.oauth_token_url", ""},
        {"account.2.oauth_device_url", ""},
        {"account.2.oauth_scope", ""},
        {"escalation.fallback", ""},
        {"escalation.notify", "oncall@example.org"},
        {"proof_of_life.time", "07:30"},
    };
    return values;
}

// The settings file's entries for the network pagers, as "section/name=value".
QStringList carrierEntries(const SettingsStore& store) {
    QStringList out;
    for (const QString& section : {kPagerTypesSection, kCarrierServicesSection})
        for (const QString& name : store.names(kAppTitle, section))
            out << section + QLatin1Char('/') + name + QLatin1Char('=') + store.read(kAppTitle, section, name, {});
    return out;
}

QStringList keysOf(const QStringList& lines) {
    QStringList keys;
    for (const QString& l : lines)
        keys << l.section(QStringLiteral(" = "), 0, 0);
    return keys;
}

} // namespace

class TestProfileText : public QObject {
    Q_OBJECT

private slots:
    void everyKeyRoundTrips() {
        ProfileRig rig;
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString out, err;
        QCOMPARE(ShowProfileCommand(rig.p(), file, out, err), 0);
        QStringList shown = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        // Every key the text form shows is in the table, and the reverse
        // apart from the added members.
        QStringList tableKeys;
        QStringList assignments;
        for (const auto& [key, value] : everyKey()) {
            tableKeys << key;
            assignments << key + QLatin1Char('=') + value;
        }
        QCOMPARE(keysOf(shown), tableKeys.filter(QRegularExpression(QStringLiteral("^(?!account\\.2\\.|modem\\.profile\\.3\\.)"))));
        QVERIFY(shown.contains(QStringLiteral("account.1.password = ")));

        QVERIFY2(SetProfileCommand(rig.p(), file, assignments, err) == 0, qPrintable(err));

        ProfileRig again;
        again.dialUp = rig.dialUp;
        // The same settings file, which keeps the values that are not the profile's,
        // and the same secret store, which keeps the client secrets.
        again.store = rig.store;
        QVERIFY(QFile::copy(rig.path(QStringLiteral("oauth-tokens")), again.path(QStringLiteral("oauth-tokens"))));
        out.clear();
        QCOMPARE(ShowProfileCommand(again.p(), file, out, err), 0);
        shown = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        QStringList expected;
        for (const auto& [key, value] : everyKey())
            expected << key + QStringLiteral(" = ") +
                            ((key.endsWith(QLatin1String("password")) || key.endsWith(QLatin1String("security_code")) ||
                              key.endsWith(QLatin1String("client_secret"))) &&
                                     !value.isEmpty()
                                 ? kMaskedPassword
                             : key == QLatin1String("account.count") ? QStringLiteral("2")
                                                                      : value);
        QCOMPARE(shown, expected);
        // Masked on show, stored as given, and kept when the mask is set back.
        QCOMPARE(again.s().remotePassword, QStringLiteral("r3mote"));
        QCOMPARE(again.s().dialUpPassword, QStringLiteral("d1al"));
        QCOMPARE(again.p().POPAccounts().Item(2).Password(), QStringLiteral("b0b"));
        QCOMPARE(again.p().Services().Item(QStringLiteral("acme")).TerminalPassword(), QStringLiteral("t3rm"));
        QCOMPARE(SetProfileCommand(again.p(), file, {QStringLiteral("remote.password=") + kMaskedPassword}, err), 0);
        QCOMPARE(again.s().remotePassword, QStringLiteral("r3mote"));
    }

    void listsShrinkAndGrow() {
        ProfileRig rig;
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString err;
        QCOMPARE(SetProfileCommand(rig.p(), file,
                                   {QStringLiteral("pager.2.username=bob"), QStringLiteral("account.count=0"),
                                    QStringLiteral("modem.selected_profile=0"), QStringLiteral("modem.profile_count=1")},
                                   err),
                 0);
        ProfileRig again;
        again.p().LoadProfile(file);
        QCOMPARE(again.p().Pagers().Count(), 2);
        QVERIFY(again.p().Pagers().Contains(QStringLiteral("BOB"))); // filed under its name
        QCOMPARE(again.p().POPAccounts().Count(), 0);
        QCOMPARE(again.s().highestModemProfile, 0);
    }

    // Remote control goes on only with a password and an allowed sender;
    // the senders and the run folder go to the settings file, and only when
    // every assignment stands.
    void remoteControlNeedsPasswordAndSenders_data() {
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("senders"); // in the settings file afterwards
        const QString on = "remote.enabled=true";
        QTest::newRow("empty password") << QStringList{on, "remote.password=", "remote.allowed_senders=a@b.c"} << 64
                                        << "remote.enabled: remote control cannot be enabled with an empty "
                                           "remote.password"
                                        << "";
        QTest::newRow("no senders") << QStringList{on, "remote.password=pw"} << 64
                                    << "remote.enabled: remote control cannot be enabled without "
                                       "remote.allowed_senders"
                                    << "";
        QTest::newRow("not an address") << QStringList{"remote.allowed_senders=a@b.c, Boss"} << 64
                                        << "remote.allowed_senders: \"Boss\" is not a mail address" << "";
        QTest::newRow("all there") << QStringList{on, "remote.password=pw", "remote.allowed_senders=A@b.c;d@e.f a@b.c",
                                                  "remote.run_folder= /srv/run "}
                                   << 0 << "" << "a@b.c, d@e.f";
        QTest::newRow("off needs nothing") << QStringList{"remote.enabled=false", "remote.password="} << 0 << ""
                                           << "";
    }
    void remoteControlNeedsPasswordAndSenders() {
        QFETCH(QStringList, assignments);
        ProfileRig rig;
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString err;
        QTEST(SetProfileCommand(rig.p(), file, assignments, err), "status");
        QFETCH(QString, error);
        QVERIFY2(error.isEmpty() ? err.isEmpty() : err.contains(error), qPrintable(err));
        const RemoteSafety safety = LoadRemoteSafety(rig.p().Platform().store);
        QTEST(SenderListText(safety.allowedSenders), "senders");
        QCOMPARE(safety.runFolder, QString(error.isEmpty() && !assignments.last().contains("password")
                                                  ? QStringLiteral("/srv/run")
                                                  : QString()));
    }

    void refusedValueNamesKeyAndLeavesFile_data() {
        QTest::addColumn<QString>("assignment");
        QTest::addColumn<QString>("key");
        QTest::newRow("unknown key") << "no.such=1" << "no.such";
        QTest::newRow("unknown field of a pager") << "pager.1.colour=red" << "pager.1.colour";
        QTest::newRow("not an assignment") << "paging.enabled" << "paging.enabled";
        QTest::newRow("truth value") << "paging.enabled=maybe" << "paging.enabled";
        QTest::newRow("interval below 5") << "schedule.interval=4" << "schedule.interval";
        QTest::newRow("not a number") << "modem.retries=three" << "modem.retries";
        QTest::newRow("16-bit overflow") << "modem.retries=40000" << "modem.retries";
        QTest::newRow("port 0") << "smtp.port=0" << "smtp.port";
        QTest::newRow("pager type") << "pager.1.type=satellite" << "pager.1.type";
        QTest::newRow("pager id with dashes") << "pager.1.id=555-1234" << "pager.1.id";
        QTest::newRow("baud not offered") << "service.1.baud=1234" << "service.1.baud";
        QTest::newRow("double quote") << "pager.1.email=a\"b@example.org" << "pager.1.email";
        QTest::newRow("outside Latin-1") << QStringLiteral("smtp.domain=\u4e2d.example") << "smtp.domain";
        QTest::newRow("password too long") << QStringLiteral("remote.password=") + QString(255, QLatin1Char('x'))
                                           << "remote.password";
        QTest::newRow("password not storable") << "account.1.password=a," << "account.1.password";
        QTest::newRow("time of day") << "schedule.start=25:00" << "schedule.start";
        QTest::newRow("start after stop") << "schedule.start=6:00 pm" << "schedule.start";
        QTest::newRow("skipped number") << "account.3.server=x" << "account.3.server";
        QTest::newRow("more accounts than allowed") << "account.count=4" << "account.count";
        QTest::newRow("no such modem profile") << "modem.selected_profile=3" << "modem.selected_profile";
        QTest::newRow("empty pager name") << "pager.1.username=" << "pager.1.username";
        QTest::newRow("pager's service missing") << "pager.1.service=Nowhere" << "pager.1.service";
        QTest::newRow("duplicate pager name") << "pager.2.username=USER1" << "pager.2.username";
        QTest::newRow("fallback to pager 1") << "escalation.fallback=1" << "escalation.fallback";
        QTest::newRow("fallback to nobody") << "escalation.fallback=nobody" << "escalation.fallback";
        QTest::newRow("notice to no address") << "escalation.notify=on call" << "escalation.notify";
        QTest::newRow("proof of life at 25:00") << "proof_of_life.time=25:00" << "proof_of_life.time";
    }
    void refusedValueNamesKeyAndLeavesFile() {
        QFETCH(QString, assignment);
        QFETCH(QString, key);
        ProfileRig rig;
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString err;
        // A good assignment before the bad one is not saved either.
        QCOMPARE(SetProfileCommand(rig.p(), file, {QStringLiteral("paging.enabled=true"), assignment}, err), 64);
        QVERIFY2(err.contains(key + QLatin1Char(':')), qPrintable(err));
        QCOMPARE(ProfileRig::read(file), fixture());
    }

    // The network types: the type and the service values go to the settings
    // file while the profile keeps the classic type; a pager of such a type
    // needs its ID and an address its service can be reached at.
    void networkPagerAssignments_data() {
        QTest::addColumn<QString>("storedType"); // [Pager Types] user1= before; empty: none
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<QString>("refusedKey"); // empty: accepted
        QTest::addColumn<QString>("typeAfter");  // [Pager Types] user1= afterwards
        const QString id = "pager.1.id=4455";
        QTest::newRow("wctp") << "" << QStringList{"pager.1.type=wctp", id, "service.1.address=https://wctp.example.com/wctp"}
                              << "" << "WCTP";
        QTest::newRow("snpp by number, default port") << "" << QStringList{"pager.1.type=4", id, "service.1.address=snpp.example.com"}
                                                     << "" << "SNPP";
        QTest::newRow("alpha-tcp") << "" << QStringList{"pager.1.type=alpha-tcp", id, "service.1.address=[::1]:5000"} << ""
                                   << "TCP";
        QTest::newRow("wctp without address") << "" << QStringList{"pager.1.type=wctp", id} << "service.1.address"
                                              << "(none)";
        QTest::newRow("wctp of another scheme") << "" << QStringList{"pager.1.type=wctp", id, "service.1.address=ftp://x.example/"}
                                                << "service.1.address" << "(none)";
        QTest::newRow("wctp URL without host") << "" << QStringList{"pager.1.type=wctp", id, "service.1.address=https:///wctp"}
                                               << "service.1.address" << "(none)";
        QTest::newRow("snpp port out of range") << "" << QStringList{"pager.1.type=snpp", id, "service.1.address=h:65536"}
                                                << "service.1.address" << "(none)";
        QTest::newRow("tcp terminal without port") << "" << QStringList{"pager.1.type=alpha-tcp", id, "service.1.address=h"}
                                                   << "service.1.address" << "(none)";
        QTest::newRow("network pager without ID") << "" << QStringList{"pager.1.type=snpp", "service.1.address=h"}
                                                  << "pager.1.id" << "(none)";
        QTest::newRow("two-line security code") << "" << QStringList{"service.1.security_code=a\nb"}
                                                << "service.1.security_code" << "(none)";
        QTest::newRow("two-line address") << "" << QStringList{"service.1.address=a\r\nb"} << "service.1.address"
                                          << "(none)";
        QTest::newRow("tls not a truth value") << "" << QStringList{"service.1.tls=maybe"} << "service.1.tls"
                                               << "(none)";
        QTest::newRow("classic pager: address not checked") << "" << QStringList{"service.1.address=anything at all"}
                                                            << "" << "(none)";
        QTest::newRow("stored pager without address takes other changes")
            << "WCTP" << QStringList{"paging.enabled=true"} << "" << "WCTP";
        QTest::newRow("back to alpha-modem") << "SNPP" << QStringList{"pager.1.type=alpha-modem"} << "" << "(none)";
    }
    void networkPagerAssignments() {
        QFETCH(QString, storedType);
        QFETCH(QStringList, assignments);
        QFETCH(QString, refusedKey);
        ProfileRig rig;
        SettingsStore& store = rig.p().Platform().store;
        if (!storedType.isEmpty())
            store.write(kAppTitle, kPagerTypesSection, QStringLiteral("user1"), storedType);
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString err;
        const int status = SetProfileCommand(rig.p(), file, assignments, err);
        if (refusedKey.isEmpty()) {
            QVERIFY2(status == 0, qPrintable(err));
            // The profile's pager line keeps the classic type it had.
            QVERIFY(ProfileRig::read(file).contains("\"Default\",0,\"\""));
        } else {
            QCOMPARE(status, 64);
            QVERIFY2(err.contains(refusedKey + QLatin1Char(':')), qPrintable(err));
            QCOMPARE(ProfileRig::read(file), fixture());
        }
        QTEST(store.read(kAppTitle, kPagerTypesSection, QStringLiteral("user1"), QStringLiteral("(none)")), "typeAfter");
    }

    // What --show-profile prints, set back, changes no entry of the settings
    // file, even entries spelt otherwise than they would be written.
    void shownNetworkValuesSetBackChangeNothing() {
        ProfileRig rig;
        SettingsStore& store = rig.p().Platform().store;
        store.write(kAppTitle, kPagerTypesSection, QStringLiteral("user1"), QStringLiteral("wctp"));
        for (const auto& [name, value] : {std::pair{"Default.Address", " https://wctp.example.com/w"},
                                          {"Default.TLS", "0"}, {"Default.Receipts", "no"},
                                          {"Default.Security Code", "c0de"}})
            store.write(kAppTitle, kCarrierServicesSection, QString::fromLatin1(name), QString::fromLatin1(value));
        const QStringList before = carrierEntries(store);
        const QString file = rig.write(QStringLiteral("p.dat"), fixture());
        QString out, err;
        QCOMPARE(ShowProfileCommand(rig.p(), file, out, err), 0);
        const QStringList shown = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        for (const char* l : {"pager.1.type = wctp", "service.1.tls = false", "service.1.receipts = false",
                              "service.1.security_code = ********"})
            QVERIFY2(shown.contains(QString::fromLatin1(l)), l);
        QStringList assignments;
        for (const QString& l : shown)
            assignments << QString(l).replace(l.indexOf(QStringLiteral(" = ")), 3, QStringLiteral("="));
        QVERIFY2(SetProfileCommand(rig.p(), file, assignments, err) == 0, qPrintable(err));
        QCOMPARE(ProfileRig::read(file), fixture());
        QCOMPARE(carrierEntries(store), before);
        QCOMPARE(rig.p().Services().Item(1).SecurityCode(), QStringLiteral("c0de"));
    }

    void missingOrBrokenProfileIsNotWritten() {
        ProfileRig rig;
        QString out, err;
        QCOMPARE(SetProfileCommand(rig.p(), rig.path(QStringLiteral("none.dat")), {QStringLiteral("paging.enabled=1")}, err), 2);
        QVERIFY(!QFile::exists(rig.path(QStringLiteral("none.dat"))));
        const QByteArray broken = crlf({"\"1.1\"", "#TRUE#,1,1", "\"p\",\"\",\"\",\"\",\"x\",\"\",\"\""});
        const QString file = rig.write(QStringLiteral("broken.dat"), broken);
        QCOMPARE(SetProfileCommand(rig.p(), file, {QStringLiteral("paging.enabled=1")}, err), 2);
        QCOMPARE(ProfileRig::read(file), broken);
        QCOMPARE(ShowProfileCommand(rig.p(), file, out, err), 2);
        QVERIFY(out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProfileText)
#include "test_profiletext.moc"
