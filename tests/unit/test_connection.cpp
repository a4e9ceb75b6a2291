// The internet connection in virtual time: direct mode, an existing
// connection, dial attempts and retries, dial errors, cancel, a missing
// dial-up component; and the state and error name tables.

#include "state/commstatus.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "features/connection/connection.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakedialup.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {
struct Rig : ProgramRig {
    FakeDialupControl dialup{pump};
    Connection* connection = nullptr; // the program's own

    Rig() {
        startWithoutProfile({.dialup = &dialup});
        connection = &program->GetConnection();
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDialUp;
        s.dialUpEntry = QStringLiteral("My ISP");
        s.dialUpUser = QStringLiteral("ann");
        s.dialUpPassword = QStringLiteral("pw");
        s.dialTimeout = 60;
    }
};
} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void directModeOnlyReports() {
        Rig r;
        r.program->Settings().connectionType = ConnDirect;
        r.program->CancelFlag() = true;
        QVERIFY(r.connection->Connect());
        QVERIFY(!r.program->CancelFlag());
        QCOMPARE(r.program->Status().StatusLine(), QStringLiteral("Connecting"));
        r.connection->HangUp();
        QVERIFY(r.dialup.calls.isEmpty());
        QCOMPARE(r.pump.elapsedSeconds(), 0.0); // no waiting at all
    }

    void existingConnectionIsUsedAndEndedAfterwards() {
        Rig r;
        r.dialup.active = {QStringLiteral("Office VPN")};
        QVERIFY(r.connection->Connect());
        QCOMPARE(r.program->Status().StatusLine(), QStringLiteral("Connected to Office VPN"));
        QVERIFY(r.dialup.calls.isEmpty());
        r.connection->HangUp();
        QCOMPARE(r.dialup.calls, QStringList{QStringLiteral("hangup")});
    }

    void dialsAndReportsStates() {
        Rig r;
        QVERIFY(r.connection->Connect());
        QCOMPARE(r.dialup.calls.first(), QStringLiteral("dial My ISP ann pw"));
        QVERIFY(r.activity().contains(QStringLiteral("Connecting to My ISP")));
        QCOMPARE(r.program->Status().StatusLine(), QStringLiteral("Connected!"));
        const QString t = r.program->GetTerminal().Text();
        QVERIFY(t.contains(QStringLiteral("OpenPort\r\nConnectDevice\r\nAuthenticate\r\nConnected!\r\n")));
        r.connection->OnStateChanged(4096, 0);
        QVERIFY(r.program->GetTerminal().Text().endsWith(QStringLiteral("State = 4096\r\n")));
        QVERIFY(!r.connection->ConnectedFlag());
    }

    void fourAttemptsThirtySecondsApart() {
        Rig r;
        r.dialup.script = {}; // a line that never answers
        const double t0 = r.pump.elapsedSeconds();
        QVERIFY(!r.connection->Connect());
        QCOMPARE(r.dialup.calls.count(QStringLiteral("dial My ISP ann pw")), 4);
        QCOMPARE(r.dialup.calls.count(QStringLiteral("hangup")), 4);
        QCOMPARE(r.pump.elapsedSeconds() - t0, 4 * 60.0 + 3 * 30.0);
        QVERIFY(r.activity().contains(QStringLiteral("Unable to connect to the internet.")));
    }

    void dialErrorEndsTheWaitAndRetries() {
        Rig r;
        r.dialup.script = {{1.0, 2, 0}, {2.0, 2, 678}};
        bool& cancel = r.program->CancelFlag();
        // Cancel during the retry wait after the first failure.
        r.pump.schedule(10, [&] { cancel = true; });
        const double t0 = r.pump.elapsedSeconds();
        QVERIFY(!r.connection->Connect());
        QVERIFY(r.pump.elapsedSeconds() - t0 < 11); // the error ended the 60 s wait
        QVERIFY(r.activity().contains(QStringLiteral("Error: ERROR_NO_ANSWER")));
        QVERIFY(r.program->GetTerminal().Text().contains(QStringLiteral("Error: ERROR_NO_ANSWER\r\n")));
        QVERIFY(r.connection->DialErrorFlag());
        QCOMPARE(r.dialup.calls.count(QStringLiteral("dial My ISP ann pw")), 1);
        QVERIFY(!r.activity().contains(QStringLiteral("Unable to connect")));
    }

    void missingDialUpMeansDirect() {
        Rig r;
        r.dialup.notInstalled = true;
        r.program->SetProfileChanged(false);
        QVERIFY(!r.connection->Connect());
        QVERIFY(r.activity().contains(QStringLiteral("Error in RASDial:")));
        QCOMPARE(r.program->Settings().connectionType, std::int16_t(ConnDirect));
        QVERIFY(r.program->DialUpMissing());
        QVERIFY(r.program->ProfileChanged());
        // From now on the connection is direct.
        QVERIFY(r.connection->Connect());
    }

    void nameTables() {
        QCOMPARE(Connection::StateName(0), QStringLiteral("OpenPort"));
        QCOMPARE(Connection::StateName(23), QStringLiteral("Connected"));
        QCOMPARE(Connection::StateName(25), QString());
        QCOMPARE(Connection::StateName(8192), QString());
        QCOMPARE(Connection::DialErrorName(0), QStringLiteral("SUCCESS"));
        QCOMPARE(Connection::DialErrorName(600), QStringLiteral("PENDING"));
        QCOMPARE(Connection::DialErrorName(676), QStringLiteral("ERROR_LINE_BUSY"));
        QCOMPARE(Connection::DialErrorName(678), QStringLiteral("ERROR_NO_ANSWER"));
        QCOMPARE(Connection::DialErrorName(691), QStringLiteral("ERROR_AUTHENTICATION_FAILURE"));
        QCOMPARE(Connection::DialErrorName(750), QStringLiteral("ERROR_WRONG_MODULE"));
        QCOMPARE(Connection::DialErrorName(751), QString());
        QCOMPARE(Connection::DialErrorName(599), QString());
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "test_connection.moc"
