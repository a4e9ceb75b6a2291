// `tessly --check` killed (SIGKILL) at many moments of its paging, through
// the modem simulator and through the SMTP sink, against a real Dovecot: a
// run to completion afterwards pages every message, and no kill costs more
// than the one page that was on its way.

#include "app/mainprogram.h"
#include "features/paging/cpager.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/modemsim.h"
#include "tests/integration/smtpsink.h"

#include <QRegularExpression>
#include <csignal>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

constexpr int kMessages = 4;

QByteArray message(int n) {
    return QStringLiteral("Message-ID: <k%1@killed.test>\nFrom: ann@killed.test\nTo: me@killed.test\n"
                          "Subject: Alert %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nBody %1\n")
        .arg(n)
        .toUtf8();
}

// How often each message's page arrived, by message number.
QHash<int, int> countPages(const QStringList& pages) {
    static const QRegularExpression subject(QStringLiteral("Subject:\\s*alert (\\d+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    QHash<int, int> out;
    for (const QString& page : pages) {
        const auto m = subject.match(page);
        if (m.hasMatch())
            ++out[m.captured(1).toInt()];
    }
    return out;
}

} // namespace

class TestCheckKilled : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;
    SmtpSinkServer sink;
    int trial = 0;

    QProcessEnvironment environment(const QString& home) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    // A fresh program directory paging by `channel`.
    QString freshHome(const QString& channel) {
        const QString home = dir.path() + QStringLiteral("/run%1").arg(++trial);
        const QString profile = home + QStringLiteral("/killed.dat");
        if (!QDir().mkpath(home))
            return {};
        const quint16 smtpPort = sink.port();
        writeE2eProfile(home, profile, dovecot.port(), 200, [&](MainProgram& p) {
            if (channel != QLatin1String("smtp"))
                return;
            LiveSettings& s = p.Settings();
            s.smtpHostAddress = QStringLiteral("127.0.0.1");
            s.smtpPort = static_cast<std::int16_t>(smtpPort);
            s.domainName = QStringLiteral("client.test");
            s.maxPagesPerMessage = 0;
            CPager& pager = p.Pagers().Item(1);
            pager.SetPagerType(PagerAlphaSMTP);
            pager.SetEmailAddress(QStringLiteral("7654321@pager.test"));
            pager.SetFromAddress(QStringLiteral("me@client.test"));
        });
        if (!writeE2eSettings(home + QStringLiteral("/config/tessaly/tessaly.ini"), profile, sim.device()))
            return {};
        return home;
    }

    // Every page that arrived so far through `channel`.
    QStringList delivered(const QString& channel) {
        QStringList out;
        if (channel == QLatin1String("smtp")) {
            for (const QJsonObject& m : sink.received())
                out << m.value(QStringLiteral("data")).toString();
            return out;
        }
        return sim.goodBlocks();
    }

    void start(QProcess& p, const QString& home) {
        p.setProcessEnvironment(environment(home));
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--check")});
    }

    // Runs a check to its end; its output.
    QByteArray runToEnd(const QString& home, int* rc) {
        QProcess p;
        start(p, home);
        if (!p.waitForFinished(180000))
            p.kill();
        p.waitForFinished();
        *rc = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return p.readAll();
    }

    // Starts a check and kills it once `until` holds (or it ended).
    void runAndKill(const QString& home, const std::function<bool()>& until) {
        QProcess p;
        start(p, home);
        QVERIFY(p.waitForStarted(10000));
        QElapsedTimer t;
        t.start();
        while (p.state() == QProcess::Running && !until() && t.elapsed() < 120000)
            p.waitForFinished(5);
        if (p.state() == QProcess::Running)
            ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(10000);
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty() || !SmtpSinkServer::available())
            QSKIP("python3 and python3-aiosmtpd are needed for the modem simulator and the SMTP sink");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        QList<QByteArray> mail;
        for (int n = 1; n <= kMessages; ++n)
            mail << message(n);
        QVERIFY(dovecot.deliverAll(QStringLiteral("work"), mail));
        QVERIFY(sim.start());
        QVERIFY(sink.start(pump, freeLowPort())); // the profile keeps a 16-bit port
    }

    void cleanupTestCase() {
        sink.stop();
        sim.stop();
        dovecot.stop();
    }

    void killedCheckLosesNothingAndRepeatsAtMostOnePage_data() {
        QTest::addColumn<QString>("channel");
        QTest::newRow("modem") << QStringLiteral("modem");
        QTest::newRow("smtp") << QStringLiteral("smtp");
    }
    void killedCheckLosesNothingAndRepeatsAtMostOnePage() {
        QFETCH(QString, channel);
        // How long a whole check takes, for the kills by time.
        QElapsedTimer clock;
        qsizetype before = delivered(channel).size();
        QString home = freshHome(channel);
        QVERIFY(!home.isEmpty());
        clock.start();
        int rc = -1;
        QByteArray out = runToEnd(home, &rc);
        const qint64 whole = clock.elapsed();
        QVERIFY2(rc == 0, out.constData());
        QCOMPARE(countPages(delivered(channel).mid(before)).size(), kMessages);

        // Kills right after the k-th delivery (between it and the next page)
        // and at even steps of the whole run's time.
        QList<std::pair<QString, std::function<bool(qint64)>>> kills;
        for (int k = 0; k < kMessages; ++k)
            kills.append({QStringLiteral("after delivery %1").arg(k), [this, channel, k, &before](qint64) {
                              return delivered(channel).size() - before >= k;
                          }});
        constexpr int kSteps = 4;
        for (int step = 1; step <= kSteps; ++step)
            kills.append({QStringLiteral("at %1/%2 of the run").arg(step).arg(kSteps),
                          [whole, step](qint64 elapsed) { return elapsed >= whole * step / kSteps; }});

        for (const auto& [when, until] : kills) {
            before = delivered(channel).size();
            home = freshHome(channel);
            QVERIFY(!home.isEmpty());
            QElapsedTimer t;
            t.start();
            runAndKill(home, [&, until = until] { return until(t.elapsed()); });
            out = runToEnd(home, &rc);
            QVERIFY2(rc == 0, qPrintable(when + QLatin1Char('\n') + QString::fromLocal8Bit(out)));
            const QHash<int, int> pages = countPages(delivered(channel).mid(before));
            int duplicates = 0;
            for (int n = 1; n <= kMessages; ++n) {
                QVERIFY2(pages.value(n) >= 1, qPrintable(when + QStringLiteral(": message %1 never paged").arg(n)));
                duplicates += pages.value(n) - 1;
            }
            QVERIFY2(duplicates <= 1, qPrintable(when + QStringLiteral(": %1 pages sent twice").arg(duplicates)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCheckKilled)
#include "test_check_killed.moc"
