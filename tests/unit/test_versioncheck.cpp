// The program's version check in virtual time: what start-up gives the
// Novaprobe object, and where the mail check's request goes (the server
// setting, the proxy settings, the update-check setting).

#include "state/appinfo.h"
#include "features/mail/checksession.h"
#include "features/version/versioncheck.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"

#include <novaprobe/cwebversion.h>

#include <QtTest>

using namespace tessaly;

namespace {

struct Rig : ProgramRig {
    ScriptedNet net{pump};
    SocketRegistry sockets;
    Pop3Client pop{pump, net, sockets};
    TcpControl tcp{sockets};
    std::shared_ptr<Pop3Mailbox> box = std::make_shared<Pop3Mailbox>();
    std::shared_ptr<HttpResponder> web = std::make_shared<HttpResponder>();

    // `settings`: name=value pairs stored before start-up.
    Rig(const QStringList& settings, const QString& webHost, quint16 webPort) {
        for (const QString& pair : settings)
            store.write(kAppTitle, kSettingsSection, pair.section(QLatin1Char('='), 0, 0),
                        pair.section(QLatin1Char('='), 1));
        net.listen(QStringLiteral("pop.example.org"), 110, [this] { return makePop3Script(box); });
        web->respond = [](const QByteArray&) -> QByteArray {
            return "HTTP/1.0 200 OK\r\n\r\n<!NEWVERSION>1.2.0000<!/NEWVERSION><!DOWNLOADURL>"
                   "http://www.tessaly.net/tessaly/updates.html<!/DOWNLOADURL><!MESSAGE><!/MESSAGE>"
                   "<!BULLETIN#>0<!/BULLETIN#>";
        };
        auto w = web;
        net.listen(webHost, webPort, [w] { return makeHttpScript(w); });
        startWithoutProfile({.pop = &pop, .tcp = &tcp, .links = &net});
        program->Settings().connectionType = ConnDirect;
        program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                                   QStringLiteral("user"), QStringLiteral("secret"), true);
    }
};

} // namespace

class TestVersionCheck : public QObject {
    Q_OBJECT
private slots:
    void startupGivesTheProgramsIdentity() {
        Rig rig({}, QStringLiteral("www.tessaly.net"), 80);
        novaprobe::CWebVersion* probe = rig.program->Versions()->Novaprobe();
        QVERIFY(probe);
        QCOMPARE(probe->CGIURL(), QStringLiteral("www.tessaly.net/cgi-bin/novaprobe.cgi"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{11}$")).match(probe->ProductID()).hasMatch());
        QCOMPARE(probe->ProductName(), kAppTitle);
        QCOMPARE(probe->AppVersion(), VersionString());
        QVERIFY(probe->DailyCheck());
        QVERIFY(!probe->ShowTerminal());
        QVERIFY(!probe->UseWindows()); // the rig runs without windows
        QVERIFY(!probe->UseProxy());

        // A run without network links has no version check.
        ProgramRig bare;
        bare.startWithoutProfile();
        QVERIFY(!bare.program->Versions());
    }

    void mailCheckAsksOnceConnected_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("host"); // where the request must go
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("requestLine"); // empty: no request
        const QByteArray path = "/cgi-bin/novaprobe.cgi?productid=" + kProductId.toLatin1() + "&version=" +
                                VersionString().toLatin1();
        QTest::newRow("the maker's server") << QStringList() << "www.tessaly.net" << 80
                                            << "GET " + path + " HTTP/1.0";
        QTest::newRow("server setting") << QStringList{"UpdateServer=http://updates.example:8080/"}
                                        << "updates.example" << 8080 << "GET " + path + " HTTP/1.0";
        QTest::newRow("proxy")
            << QStringList{"UseProxy=1", "ProxyHostAddress=proxy.example", "ProxyPort=3128", "ProxyHostName="}
            << "proxy.example" << 3128 << "GET http://www.tessaly.net" + path + " HTTP/1.0";
        QTest::newRow("proxy values, proxy off") << QStringList{"UseProxy=0", "ProxyHostAddress=proxy.example"}
                                                 << "www.tessaly.net" << 80 << "GET " + path + " HTTP/1.0";
        QTest::newRow("update check off") << QStringList{"CheckUpdates=False"} << "www.tessaly.net" << 80
                                          << QByteArray();
    }
    void mailCheckAsksOnceConnected() {
        QFETCH(QStringList, settings);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QByteArray, requestLine);
        Rig rig(settings, host, static_cast<quint16>(port));
        rig.program->Session().Check(true, false);
        QCOMPARE(rig.web->requests.size(), requestLine.isEmpty() ? 0 : 1);
        // The notice of a run without windows sits between connecting and reading mail.
        const QString log = rig.activity();
        const qsizetype notice = log.indexOf(QStringLiteral("Your version: 1.1.0000, new version: 1.2.0000"));
        QVERIFY(log.indexOf(QStringLiteral("Checking email in Work")) > log.indexOf(QStringLiteral("Connection established")));
        if (requestLine.isEmpty()) {
            QCOMPARE(notice, -1);
            return;
        }
        QVERIFY2(rig.web->requests.first().startsWith(requestLine + "\r\n"), rig.web->requests.first().constData());
        QVERIFY(notice > log.indexOf(QStringLiteral("Connection established")) &&
                notice < log.indexOf(QStringLiteral("Checking email in Work")));
    }

    // A request that fails is one line; a page lacking a value still says so.
    void failedCheckIsOneLine_data() {
        QTest::addColumn<QString>("host"); // where the web server listens
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("lines"); // the version check's lines, in order
        QTest::newRow("no server") << "elsewhere.example" << QByteArray()
                                   << QStringList{"Version check failed: "};
        QTest::newRow("page without a closing tag")
            << "www.tessaly.net"
            << QByteArray("<!NEWVERSION>1.1.0000<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL><!MESSAGE>x<!BULLETIN#>0"
                          "<!/BULLETIN#>")
            << QStringList{"Checking for version updates and bulletins...", "Keyword <!/MESSAGE> not found.",
                           "Your version is up-to-date..."};
    }
    void failedCheckIsOneLine() {
        QFETCH(QString, host);
        QFETCH(QByteArray, page);
        QFETCH(QStringList, lines);
        Rig rig({}, host, 80);
        rig.web->respond = [page](const QByteArray&) { return "HTTP/1.0 200 OK\r\n\r\n" + page; };
        rig.program->Session().Check(true, false);
        const QString log = rig.activity();
        const qsizetype from = log.indexOf(QStringLiteral("Connection established"));
        const qsizetype to = log.indexOf(QStringLiteral("Checking email in Work"));
        QVERIFY(from >= 0 && to > from);
        QStringList got;
        for (const QString& line : log.mid(from, to - from).split(QStringLiteral("\r\n")).mid(1))
            if (!line.isEmpty())
                got << line.left(line.lastIndexOf(QLatin1String("   "))); // without its date and time
        QCOMPARE(got.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(got[i].startsWith(lines[i]), qPrintable(got.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestVersionCheck)
#include "test_versioncheck.moc"
