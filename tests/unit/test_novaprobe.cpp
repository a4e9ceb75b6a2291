// Novaprobe in virtual time: the version rule, the tag reader, and the daily
// rule of CheckVersion against a scripted version-check server.

#include "novaprobe/versiontext.h"
#include "platform/settingsstore.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"

#include <novaprobe/cwebversion.h>
#include <webwire/chttp.h>

#include <QtTest>

using namespace tessaly;
using novaprobe::CWebVersion;

namespace {

const QString kApp = QStringLiteral("Tessaly 1.1");

struct Rig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(12, 0))};
    ScriptedNet net{pump};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    std::shared_ptr<HttpResponder> web = std::make_shared<HttpResponder>();
    QByteArray page = "<!NEWVERSION>1.5.0010<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL>"
                      "<!MESSAGE><!/MESSAGE><!BULLETIN#>0<!/BULLETIN#>";
    CWebVersion probe{store, pump, prompter};
    QStringList events;

    Rig() {
        web->respond = [this](const QByteArray&) { return "HTTP/1.0 200 OK\r\n\r\n" + page; };
        auto w = web;
        net.listen(QStringLiteral("updates.example"), 80, [w] { return makeHttpScript(w); });
        probe.SetHttpFactory([this] { return std::make_unique<webwire::CHTTP>(pump, net, prompter); });
        probe.SetUseWindows(false);
        probe.SetCGIURL(QStringLiteral("updates.example/cgi-bin/novaprobe.cgi"));
        probe.SetProductID(QStringLiteral("10110000001"));
        probe.SetProductName(kApp);
        probe.SetAppVersion(QStringLiteral("1.5.0010"));
        probe.SetDailyCheck(true);
        QObject::connect(&probe, &CWebVersion::NovaprobeActivity, [this](const QString& t) { events << t; });
        QObject::connect(&probe, &CWebVersion::NovaprobeError, [this](const QString& t) { events << "E:" + t; });
    }
    QString value(const char* name) const {
        return store.read(kApp, QStringLiteral("Settings"), QString::fromLatin1(name), QStringLiteral("<none>"));
    }
    void set(const char* name, const QString& v) { store.write(kApp, QStringLiteral("Settings"), QString::fromLatin1(name), v); }
};

} // namespace

class TestNovaprobe : public QObject {
    Q_OBJECT
private slots:
    void versionRule_data() {
        QTest::addColumn<QString>("web");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<QString>("parsed"); // how `web` reads
        QTest::addColumn<bool>("newer");
        QTest::newRow("minor greater, revision smaller") << "1.6.0002" << "1.5.0010" << "1.6.2" << true;
        QTest::newRow("older major, greater minor") << "1.5.0000" << "2.0.0000" << "1.5.0" << false;
        QTest::newRow("greater major, smaller minor") << "2.0.0000" << "1.9.9999" << "2.0.0" << true;
        QTest::newRow("same") << "1.5.0010" << "1.5.0010" << "1.5.10" << false;
        QTest::newRow("revision greater") << "1.5.0011" << "1.5.0010" << "1.5.11" << true;
        QTest::newRow("revision smaller") << "1.5.0009" << "1.5.0010" << "1.5.9" << false;
        QTest::newRow("one dot is 0.0.0") << "1.5" << "0.0.0" << "0.0.0" << false;
        QTest::newRow("empty") << "" << "" << "0.0.0" << false;
        QTest::newRow("letters stop the reading") << "2.x.5" << "1.9.9" << "2.0.0" << true;
        QTest::newRow("revision with a third dot") << "1.5.0010.7" << "1.5.0000" << "1.5.0" << false;
        QTest::newRow("major past 16 bits") << "70000.1.1" << "1.0.0" << "0.0.0" << false;
        QTest::newRow("blanks around parts") << " 2. 1 .3 " << "2.1.2" << "2.1.3" << true;
        QTest::newRow("negative") << "-1.0.0" << "0.0.0" << "-1.0.0" << false;
    }
    void versionRule() {
        QFETCH(QString, web);
        QFETCH(QString, mine);
        QFETCH(QString, parsed);
        QFETCH(bool, newer);
        const novaprobe::VersionNumber v = novaprobe::parseVersion(web);
        QCOMPARE(QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision), parsed);
        QCOMPARE(novaprobe::isNewerVersion(web, mine), newer);
    }

    void tagReader_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("missing");
        QTest::newRow("pair") << "x<!NEWVERSION>1.6.0002<!/NEWVERSION>y" << "NEWVERSION" << "1.6.0002" << "";
        QTest::newRow("untrimmed, several lines") << "<!MESSAGE> a\r\nb \r\n<!/MESSAGE>" << "MESSAGE" << " a\r\nb \r\n" << "";
        QTest::newRow("empty value") << "<!BULLETIN#><!/BULLETIN#>" << "BULLETIN#" << "" << "";
        QTest::newRow("no opening tag") << "<!/MESSAGE>" << "MESSAGE" << "" << "<!MESSAGE>";
        QTest::newRow("no closing tag") << "<!MESSAGE>hello" << "MESSAGE" << "" << "<!/MESSAGE>";
        QTest::newRow("other letter case") << "<!message>x<!/message>" << "MESSAGE" << "" << "<!MESSAGE>";
        QTest::newRow("closing tag only before") << "<!/A>x<!A>y" << "A" << "" << "<!/A>";
        QTest::newRow("first pair wins") << "<!/A><!A>1<!/A><!A>2<!/A>" << "A" << "1" << "";
        QTest::newRow("empty page") << "" << "NEWVERSION" << "" << "<!NEWVERSION>";
    }
    void tagReader() {
        QFETCH(QString, page);
        QFETCH(QString, name);
        const novaprobe::TagValue tag = novaprobe::findTag(page, name);
        QTEST(tag.value, "value");
        QTEST(tag.missing, "missing");
    }

    // Whether CheckVersion asks the server, by the day stored in "Novaprobe"
    // (today is 12/07/2026), and what it stores afterwards.
    void dailyRule_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("daily");
        QTest::addColumn<int>("numDays");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<QString>("after");
        QTest::newRow("today") << "12/07/2026" << true << 1 << false << "12/07/2026";
        QTest::newRow("yesterday") << "12/06/2026" << true << 1 << false << "12/06/2026";
        QTest::newRow("two days ago") << "12/05/2026" << true << 1 << true << "12/07/2026";
        QTest::newRow("one-digit month and day") << "1/5/2026" << true << 1 << true << "12/07/2026";
        QTest::newRow("never checked") << "<none>" << true << 1 << true << "12/07/2026";
        QTest::newRow("not a date") << "someday" << true << 1 << true << "12/07/2026";
        QTest::newRow("no such day") << "02/30/2026" << true << 1 << true << "12/07/2026";
        QTest::newRow("later than today") << "12/31/2026" << true << 1 << true << "12/07/2026";
        QTest::newRow("three days apart") << "12/04/2026" << true << 3 << false << "12/04/2026";
        QTest::newRow("four days apart") << "12/03/2026" << true << 3 << true << "12/07/2026";
        QTest::newRow("not daily") << "12/07/2026" << false << 1 << true << "";
    }
    void dailyRule() {
        QFETCH(QString, stored);
        QFETCH(bool, daily);
        QFETCH(int, numDays);
        QFETCH(bool, asks);
        Rig rig;
        if (stored != QLatin1String("<none>"))
            rig.set("Novaprobe", stored);
        rig.probe.SetDailyCheck(daily);
        rig.probe.SetNumDays(static_cast<qint16>(numDays));
        QCOMPARE(rig.probe.CheckVersion(), false);
        QCOMPARE(rig.web->requests.size(), asks ? 1 : 0);
        if (asks)
            QCOMPARE(rig.events, (QStringList{"Checking for version updates and bulletins...", "Your version is up-to-date..."}));
        else
            QVERIFY(rig.events.isEmpty());
        QTEST(rig.value("Novaprobe"), "after");
    }

    // Day by day on the virtual clock: a check made one day is not repeated
    // the next day, only the day after; the request names product and version.
    void dailyRuleOverDays() {
        Rig rig;
        QList<int> requestsPerDay;
        for (int day = 0; day < 5; ++day) {
            rig.probe.CheckVersion();
            requestsPerDay << static_cast<int>(rig.web->requests.size());
            rig.pump.advance(24 * 3600);
        }
        QCOMPARE(requestsPerDay, (QList<int>{1, 1, 2, 2, 3}));
        QVERIFY2(rig.web->requests.first().startsWith(
                     "GET /cgi-bin/novaprobe.cgi?productid=10110000001&version=1.5.0010 HTTP/1.0\r\n"),
                 rig.web->requests.first().constData());
        QCOMPARE(rig.value("Novaprobe"), QStringLiteral("12/11/2026"));
    }

    // A bulletin that could not be fetched is not marked as shown; the
    // bulletin request carries the number.
    void bulletinFetchFailsKeepsNumber() {
        Rig rig;
        rig.set("NovaprobeBulletin", QStringLiteral("6"));
        rig.page = "<!NEWVERSION>1.5.0010<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL><!MESSAGE><!/MESSAGE>"
                   "<!BULLETIN#>7<!/BULLETIN#>";
        rig.web->respond = [&rig](const QByteArray& request) -> QByteArray {
            if (request.contains("&bulletin="))
                return "HTTP/1.0 500 Server Error\r\n\r\n";
            return "HTTP/1.0 200 OK\r\n\r\n" + rig.page;
        };
        rig.probe.CheckVersion();
        QCOMPARE(rig.web->requests.size(), 2);
        QVERIFY(rig.web->requests.at(1).startsWith("GET /cgi-bin/novaprobe.cgi?productid=10110000001&bulletin=7 "));
        QCOMPARE(rig.value("NovaprobeBulletin"), QStringLiteral("6"));
        QVERIFY(!rig.events.contains(QStringLiteral("Their is a new bulletin for Tessaly 1.1")));
        QVERIFY(rig.events.contains(QStringLiteral("E:Keyword <!MESSAGE> not found.")));
    }

    // The library's own version and the server-file check's once-a-day rule.
    void serverVersionAndOwnVersion() {
        Rig rig;
        QCOMPARE(rig.probe.GetMyVersion(), QStringLiteral("1.1.0000"));
        rig.page = "<!SERVERDATE1>12/01/2026<!/SERVERDATE1><!SERVERDATE2>2026-11-01<!/SERVERDATE2>"
                   "<!SERVERFILE1>quotes1.dat<!/SERVERFILE1><!SERVERFILE2>quotes2.dat<!/SERVERFILE2>";
        QString f1, f2;
        QVERIFY(rig.probe.CheckServerVersion(QDate(2026, 11, 30), QDate(2026, 11, 1), f1, f2));
        QCOMPARE(f1, QStringLiteral("quotes1.dat"));
        QCOMPARE(f2, QStringLiteral("quotes2.dat"));
        QVERIFY(rig.web->requests.first().startsWith("GET /cgi-bin/novaprobe.cgi?productid=10110000001 "));
        QCOMPARE(rig.value("NovaprobeServer"), QStringLiteral("12/07/2026"));
        QVERIFY(!rig.probe.CheckServerVersion(QDate(2026, 11, 30), QDate(2026, 11, 1), f1, f2)); // same day
        QCOMPARE(rig.web->requests.size(), 1);
        rig.pump.advance(24 * 3600);
        QVERIFY(!rig.probe.CheckServerVersion(QDate(2026, 12, 1), QDate(2026, 11, 1), f1, f2));
        QCOMPARE(rig.events.last(), QStringLiteral("Your quote servers are up-to-date..."));
    }
};

QTEST_GUILESS_MAIN(TestNovaprobe)
#include "test_novaprobe.moc"
