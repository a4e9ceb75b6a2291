// Novaprobe against a real local web server (tests/tools/http_test_server.py
// serving the version-check script's answers from files): what each answer
// makes of the activity, the per-user values in the settings file, and the
// requests the server saw; a daily check asks only once a day.

#include "platform/settingsstore.h"
#include "ground/textfmt.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/peers.h"

#include <novaprobe/cwebversion.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;
using novaprobe::CWebVersion;

namespace {

const QString kApp = QStringLiteral("Tessaly 1.1");
const QString kVersionQuery = QStringLiteral("/cgi-bin/novaprobe.cgi?productid=10110000001&version=1.5.0010");

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class TestNovaprobeHttp : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    PeerProcess server_;
    QTemporaryDir answers_;
    quint16 port_ = 0;

    QStringList requestsSeen() {
        QFile f(answers_.filePath(QStringLiteral("requests.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        port_ = startHttpTestServer(server_, pump_, {QStringLiteral("--novaprobe"), answers_.path()});
        QVERIFY2(port_ != 0, "the HTTP test server did not start");
    }

    void answers_data() {
        QTest::addColumn<QByteArray>("versionPage");
        QTest::addColumn<QByteArray>("bulletinPage"); // bulletin-7.txt
        QTest::addColumn<QStringList>("before");      // name=value pairs stored before
        QTest::addColumn<QString>("route");           // "direct", "proxy" or "down"
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("activity");    // errors marked "E:"
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QStringList>("after");       // name=value pairs stored after ("today" for the date)

        const QByteArray newer = "<html><body><!NEWVERSION>1.6.0002<!/NEWVERSION>\n"
                                 "<!DOWNLOADURL>http://www.tessaly.net/tessaly/updates.html<!/DOWNLOADURL>\n"
                                 "<!MESSAGE>Faster checks.<!/MESSAGE><!BULLETIN#>3<!/BULLETIN#></body></html>";
        const QStringList newerNotice{"Checking for version updates and bulletins...",
                                      "An updated version is available...",
                                      "Tessaly 1.1 has determined that a newer version is available for download.",
                                      "Your version: 1.5.0010, new version: 1.6.0002",
                                      "Download: http://www.tessaly.net/tessaly/updates.html",
                                      "Faster checks."};
        QTest::newRow("newer version") << newer << QByteArray() << QStringList() << "direct" << true << newerNotice
                                       << QStringList{kVersionQuery}
                                       << QStringList{"Novaprobe=today", "NovaprobeBulletin=", "NovaprobeIgnore="};
        QTest::newRow("ignored version")
            << newer << QByteArray() << QStringList{"NovaprobeIgnore=1.6.0002"} << "direct" << true
            << QStringList{"Checking for version updates and bulletins...",
                           "Your version 1.5.0010 is out of date: New version is 1.6.0002"}
            << QStringList{kVersionQuery} << QStringList{"Novaprobe=today", "NovaprobeIgnore=1.6.0002"};
        QTest::newRow("bulletin 7 over 6")
            << QByteArray("<!NEWVERSION>1.5.0010<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL>"
                          "<!MESSAGE><!/MESSAGE><!BULLETIN#>7<!/BULLETIN#>")
            << QByteArray("<!MESSAGE>Server move on Friday.\r\n\r\nExpect a short outage.<!/MESSAGE>")
            << QStringList{"NovaprobeBulletin=6"} << "direct" << false
            << QStringList{"Checking for version updates and bulletins...", "Your version is up-to-date...",
                           "Their is a new bulletin from Valdrin...", "Retrieving bulletin from Valdrin...",
                           "Their is a new bulletin for Tessaly 1.1", "Server move on Friday.",
                           "Expect a short outage."}
            << QStringList{kVersionQuery, "/cgi-bin/novaprobe.cgi?productid=10110000001&bulletin=7"}
            << QStringList{"Novaprobe=today", "NovaprobeBulletin=7"};
        QTest::newRow("missing closing tag")
            << QByteArray("<!NEWVERSION>1.5.0010<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL>"
                          "<!MESSAGE>Hello<!BULLETIN#>0<!/BULLETIN#>")
            << QByteArray() << QStringList() << "direct" << false
            << QStringList{"Checking for version updates and bulletins...", "E:Keyword <!/MESSAGE> not found.",
                           "Your version is up-to-date..."}
            << QStringList{kVersionQuery} << QStringList{"Novaprobe=today"};
        QTest::newRow("through a proxy")
            << newer << QByteArray() << QStringList{"NovaprobeIgnore=1.6.0002"} << "proxy" << true
            << QStringList{"Checking for version updates and bulletins...",
                           "Your version 1.5.0010 is out of date: New version is 1.6.0002"}
            << QStringList{"http://updates.invalid" + kVersionQuery} << QStringList{"Novaprobe=today"};
        // Nothing is said about the version, but the day is kept so a
        // server that is down is not asked again until the check is due.
        QTest::newRow("server down")
            << newer << QByteArray() << QStringList() << "down" << false
            << QStringList{"Checking for version updates and bulletins...",
                           "E:HTTP Winsock Error 61, WSAECONNREFUSED", "E:Keyword <!NEWVERSION> not found.",
                           "E:Keyword <!DOWNLOADURL> not found.", "E:Keyword <!MESSAGE> not found.",
                           "E:Keyword <!BULLETIN#> not found."}
            << QStringList() << QStringList{"Novaprobe=today", "NovaprobeBulletin="};
    }
    void answers() {
        QFETCH(QByteArray, versionPage);
        QFETCH(QByteArray, bulletinPage);
        QFETCH(QStringList, before);
        QFETCH(QString, route);
        QFile::remove(answers_.filePath(QStringLiteral("requests.log")));
        writeFile(answers_.filePath(QStringLiteral("version.txt")), versionPage);
        QFile::remove(answers_.filePath(QStringLiteral("bulletin-7.txt")));
        if (!bulletinPage.isEmpty())
            writeFile(answers_.filePath(QStringLiteral("bulletin-7.txt")), bulletinPage);

        QTemporaryDir config;
        const QString iniPath = config.filePath(QStringLiteral("tessaly.ini"));
        {
            IniSettingsStore ini(iniPath);
            for (const QString& pair : before)
                ini.write(kApp, QStringLiteral("Settings"), pair.section(QLatin1Char('='), 0, 0),
                          pair.section(QLatin1Char('='), 1));
        }
        IniSettingsStore store(iniPath);
        ScriptedPrompter prompter;
        CWebVersion probe(store, pump_, prompter);
        probe.SetUseWindows(false);
        probe.SetProductID(QStringLiteral("10110000001"));
        probe.SetProductName(kApp);
        probe.SetAppVersion(QStringLiteral("1.5.0010"));
        probe.SetDailyCheck(true);
        if (route == QLatin1String("direct")) {
            probe.SetCGIURL(QStringLiteral("127.0.0.1:%1/cgi-bin/novaprobe.cgi").arg(port_));
        } else if (route == QLatin1String("proxy")) {
            probe.SetCGIURL(QStringLiteral("updates.invalid/cgi-bin/novaprobe.cgi"));
            probe.SetUseProxy(true);
            probe.SetProxyAddress(QStringLiteral("127.0.0.1"));
            probe.SetProxyPort(static_cast<qint16>(port_));
        } else {
            probe.SetCGIURL(QStringLiteral("127.0.0.1:%1/cgi-bin/novaprobe.cgi").arg(freePort()));
        }
        QStringList activity;
        connect(&probe, &CWebVersion::NovaprobeActivity, this, [&](const QString& t) { activity << t; });
        connect(&probe, &CWebVersion::NovaprobeError, this, [&](const QString& t) {
            // The socket error's long text is the table's; its name is enough here.
            activity << QStringLiteral("E:") + (t.startsWith(QLatin1String("HTTP Winsock Error 61")) ? t.left(38) : t);
        });

        QTEST(probe.CheckVersion(), "result");
        QTEST(activity, "activity");
        QTEST(requestsSeen(), "requests");

        // The values as the settings file holds them.
        QFETCH(QStringList, after);
        IniSettingsStore reread(iniPath);
        const QString today = formatDateMDY(QDate::currentDate());
        for (const QString& pair : after) {
            const QString name = pair.section(QLatin1Char('='), 0, 0);
            QString expected = pair.section(QLatin1Char('='), 1);
            if (expected == QLatin1String("today"))
                expected = today;
            QCOMPARE(reread.read(kApp, QStringLiteral("Settings"), name, QString()), expected);
        }

        // The same day again: no request, nothing said.
        activity.clear();
        QVERIFY(!probe.CheckVersion());
        QVERIFY(activity.isEmpty());
        QTEST(requestsSeen(), "requests");
    }
};

QTEST_GUILESS_MAIN(TestNovaprobeHttp)
#include "test_novaprobe_http.moc"
