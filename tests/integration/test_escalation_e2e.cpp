// End to end: `tessly --check` against a real Dovecot, pager 1 a paging
// terminal (the modem simulator) that refuses every block, and a fallback
// pager by e-mail to a real SMTP sink. The page arrives by the fallback and
// the ledger shows both attempts; with the fallback refused too, the failure
// notice arrives at its address, the check exits 1 and the alarm stands in
// `tessly --status` until `tessly --acknowledge`.

#include "app/mainprogram.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/keptledgers.h"
#include "tests/integration/modemsim.h"
#include "tests/integration/smtpsink.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QByteArray message(const char* id, const char* subject) {
    return QByteArray("Message-ID: <") + id + "@esc.test>\n"
           "From: Ann Lee <ann@esc.test>\n"
           "To: tester@esc.test\n"
           "Subject: " + subject + "\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0000\n\nbody\n";
}

} // namespace

class TestEscalationE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    KeptLedgers keptLedgers{dir};
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;
    SmtpSinkServer sink;
    QString home, config, profile;

    int run(const QStringList& args, QByteArray* output = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (output)
            *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // The ledger's lines about pages (not "opened" or "recorded").
    QList<QJsonObject> pageLines() const {
        QList<QJsonObject> out;
        QFile f(home + QStringLiteral("/page-ledger.jsonl"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                const QString event = o.value(QStringLiteral("event")).toString();
                if (!o.isEmpty() && event != QLatin1String("opened") && event != QLatin1String("recorded"))
                    out << o;
            }
        return out;
    }
    QList<QJsonObject> mailTo(const QString& address) const {
        QList<QJsonObject> out;
        for (const QJsonObject& m : sink.received())
            if (m.value(QStringLiteral("rcpt_tos")).toArray().contains(address))
                out << m;
        return out;
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty() || !SmtpSinkServer::available())
            QSKIP("python3 and python3-aiosmtpd are needed for the simulator and the SMTP sink");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        // The paging terminal answers every good block with NAK.
        QVERIFY(sim.start({QStringLiteral("--bad-checksum-answers"), QStringLiteral("100000")}));
        qputenv("SMTP_SINK_REFUSE", "refused@pager.esc.test");
        QVERIFY(sink.start(pump, freeLowPort()));
        home = dir.path() + QStringLiteral("/home");
        config = dir.path() + QStringLiteral("/config");
        profile = home + QStringLiteral("/esc.dat");
        QVERIFY(QDir().mkpath(home));
        const quint16 smtpPort = sink.port();
        writeE2eProfile(home, profile, dovecot.port(), 200, [&](MainProgram& p) {
            LiveSettings& s = p.Settings();
            s.smtpHostAddress = QStringLiteral("127.0.0.1");
            s.smtpPort = static_cast<std::int16_t>(smtpPort);
            s.domainName = QStringLiteral("esc.test");
            p.Pagers().Item(1).SetFromAddress(QStringLiteral("gate@esc.test"));
        });
        QVERIFY(writeE2eSettings(config + QStringLiteral("/tessaly/tessaly.ini"), profile, sim.device()));
        // The fallback pager and the notice's address, set as a user would.
        QByteArray out;
        QVERIFY2(run({QStringLiteral("--set"), QStringLiteral("pager.2.username=backup"),
                      QStringLiteral("pager.2.type=alpha-smtp"), QStringLiteral("pager.2.email=backup@pager.esc.test"),
                      QStringLiteral("escalation.fallback=2"), QStringLiteral("escalation.notify=oncall@esc.test"),
                      profile},
                     &out) == 0,
                 out.constData());
        QVERIFY(run({QStringLiteral("--show-profile"), profile}, &out) == 0);
        QVERIFY2(out.contains("escalation.fallback = backup\n"), out.constData());
    }

    void cleanupTestCase() {
        sim.stop();
        sink.stop();
        dovecot.stop();
    }

    void pageArrivesByTheFallback() {
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("one", "Ward 3 alert")));
        QByteArray out;
        QVERIFY2(run({QStringLiteral("--check")}, &out) == 0, out.constData());
        QVERIFY(sim.goodBlocks().size() >= 1); // the terminal saw the page and refused it
        const QList<QJsonObject> pages = mailTo(QStringLiteral("backup@pager.esc.test"));
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages.first().value(QStringLiteral("data")).toString().contains(QStringLiteral("ward 3 alert")));
        QVERIFY(mailTo(QStringLiteral("oncall@esc.test")).isEmpty());
        // Both attempts on the ledger, each with its pager and the journey.
        QStringList events;
        for (const QJsonObject& o : pageLines())
            events << QStringLiteral("%1 %2 %3")
                          .arg(o.value(QStringLiteral("event")).toString(), o.value(QStringLiteral("user")).toString())
                          .arg(o.value(QStringLiteral("attempt")).toInt());
        QCOMPARE(events, (QStringList{"sending pager 1 1", "failed pager 1 1", "sending backup 2", "delivered backup 2"}));
        const QJsonObject delivered = pageLines().last();
        const QDateTime seen = QDateTime::fromString(delivered.value(QStringLiteral("seen")).toString(), Qt::ISODate);
        const QDateTime at = QDateTime::fromString(delivered.value(QStringLiteral("at")).toString(), Qt::ISODate);
        QVERIFY(seen.isValid() && seen <= at);
        QCOMPARE(delivered.value(QStringLiteral("date")).toString(), QStringLiteral("2026-12-07T10:00:00Z"));
        QVERIFY(delivered.contains(QStringLiteral("queued")));
        QVERIFY2(run({QStringLiteral("--status")}, &out) == 0, out.constData());
        QVERIFY2(out.contains("Last pages delivered:\n") && out.contains(" backup (fallback 1), "), out.constData());
        QVERIFY(out.contains("Alarm: none\n"));
        // A later check pages it on no pager again.
        QVERIFY(run({QStringLiteral("--check")}) == 0);
        QCOMPARE(mailTo(QStringLiteral("backup@pager.esc.test")).size(), 1);
        QCOMPARE(pageLines().size(), 4);
    }

    void noPagerTakesItThenNoticeAndAlarm() {
        QByteArray out;
        QVERIFY(run({QStringLiteral("--set"), QStringLiteral("pager.2.email=refused@pager.esc.test"), profile}, &out) ==
                0);
        QVERIFY(dovecot.deliver(QStringLiteral("work"), message("two", "Ward 5 alert")));
        QCOMPARE(run({QStringLiteral("--check")}, &out), 1);
        const QList<QJsonObject> notices = mailTo(QStringLiteral("oncall@esc.test"));
        QCOMPARE(notices.size(), 1);
        const QString notice = notices.first().value(QStringLiteral("data")).toString();
        QVERIFY2(notice.contains(QStringLiteral("Subject: Tessaly: a page could not be delivered")), qPrintable(notice));
        QVERIFY(notice.contains(QStringLiteral("ward 5 alert")));
        QVERIFY(notice.contains(QStringLiteral("Tried: pager 1 (modem 7654321): not delivered")));
        QVERIFY(notice.contains(QStringLiteral("Tried: backup (e-mail refused@pager.esc.test): not delivered")));
        QCOMPARE(pageLines().last().value(QStringLiteral("event")).toString(), QStringLiteral("given-up"));
        QCOMPARE(run({QStringLiteral("--status")}, &out), 1);
        QVERIFY2(out.contains("ALARM: A page could not be delivered on any pager ("), out.constData());
        // The alarm stays through later checks until it is acknowledged.
        QCOMPARE(run({QStringLiteral("--check")}), 0);
        QCOMPARE(mailTo(QStringLiteral("oncall@esc.test")).size(), 1);
        QCOMPARE(run({QStringLiteral("--status")}, &out), 1);
        QVERIFY(out.contains("ALARM: "));
        QCOMPARE(run({QStringLiteral("--acknowledge")}, &out), 0);
        QVERIFY(out.contains("tessly: alarm acknowledged"));
        QCOMPARE(run({QStringLiteral("--status")}, &out), 0);
        QVERIFY2(out.contains("Alarm: none\n"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestEscalationE2E)
#include "test_escalation_e2e.moc"
