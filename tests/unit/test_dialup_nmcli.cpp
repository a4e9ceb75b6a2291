// The NetworkManager dial-up control, run against a stand-in nmcli script
// (tests/tools/fake-nmcli), and without any nmcli at all.

#include "ground/tessalyerror.h"
#include "platform/dialupcontrol.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {

const QString kFakeNmcli = QStringLiteral(TESSALY_TOOLS_DIR "/fake-nmcli");

template <typename F> int raised(F&& f) {
    try {
        f();
    } catch (const TessalyError& e) {
        return e.number();
    }
    return 0;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestDialupNmcli : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    QTemporaryDir dir_;

private slots:
    void initTestCase() { qputenv("FAKE_NMCLI_DIR", dir_.path().toLocal8Bit()); }

    void withoutNetworkManagerEveryMemberRaisesNotInstalled() {
        NmcliDialupControl ras(pump_, dir_.path() + QStringLiteral("/no-such-nmcli"));
        ras.SetEntryName(QStringLiteral("My ISP"));
        QCOMPARE(raised([&] { ras.ActiveConnections(); }), DialupControl::NotInstalled);
        QCOMPARE(raised([&] { ras.EntryList(); }), DialupControl::NotInstalled);
        QCOMPARE(raised([&] { ras.EntryCredentials(QStringLiteral("My ISP")); }), DialupControl::NotInstalled);
        QCOMPARE(raised([&] { ras.Dial(); }), DialupControl::NotInstalled);
        QCOMPARE(raised([&] { ras.HangUp(); }), DialupControl::NotInstalled);
    }

    void entriesDialAndHangUp() {
        NmcliDialupControl ras(pump_, kFakeNmcli);
        QList<QPair<int, int>> states;
        connect(&ras, &DialupControl::stateChanged, this, [&](int s, int e) { states << qMakePair(s, e); });

        // Only modem-like profiles are entries; nmcli's "\:" escape is undone.
        QCOMPARE(ras.EntryList(), (QStringList{"My ISP", "DSL:Home"}));
        QCOMPARE(ras.ActiveConnections(), QStringList{});
        const auto credentials = ras.EntryCredentials(QStringLiteral("My ISP"));
        QCOMPARE(credentials.user, QStringLiteral("alice"));
        QCOMPARE(credentials.password, QStringLiteral("pw1"));

        ras.SetEntryName(QStringLiteral("My ISP"));
        ras.SetUser(QStringLiteral("bob"));
        ras.SetPassword(QStringLiteral("pw2"));
        ras.Dial();
        QVERIFY(pump_.waitUntil([&] { return !states.isEmpty() && states.last().first >= 8192; }, 10, nullptr));
        QCOMPARE(states, (QList<QPair<int, int>>{{0, 0}, {2, 0}, {DialupControl::StateConnected, 0}}));
        QCOMPARE(ras.ActiveConnections(), QStringList{QStringLiteral("My ISP")});
        const QByteArray calls = readFile(dir_.path() + QStringLiteral("/calls"));
        QVERIFY(calls.contains("connection modify id My ISP gsm.username bob\n"));
        // The password travelled in a file, not on the command line, and the file is gone.
        QCOMPARE(readFile(dir_.path() + QStringLiteral("/secret")), QByteArray("gsm.password:pw2\n"));
        QVERIFY(!calls.contains("pw2"));

        ras.HangUp();
        QVERIFY(readFile(dir_.path() + QStringLiteral("/calls")).contains("connection down id My ISP\n"));
        QCOMPARE(ras.ActiveConnections(), QStringList{});
    }

    void dialingAnUnknownEntryReportsAnError() {
        NmcliDialupControl ras(pump_, kFakeNmcli);
        QList<QPair<int, int>> states;
        connect(&ras, &DialupControl::stateChanged, this, [&](int s, int e) { states << qMakePair(s, e); });
        ras.SetEntryName(QStringLiteral("Nowhere"));
        ras.Dial();
        QVERIFY(pump_.waitUntil([&] { return !states.isEmpty() && states.last().first >= 8192; }, 10, nullptr));
        QCOMPARE(states.last(), qMakePair(int(DialupControl::StateDisconnected), int(DialupControl::ErrorCannotFindEntry)));
    }
};

QTEST_GUILESS_MAIN(TestDialupNmcli)
#include "test_dialup_nmcli.moc"
