// End to end: `tessly --check` reads a UTF-8 multipart message with encoded
// header words from a real Dovecot and pages its readable text, once through
// the modem simulator (mapped to ASCII) and once through a real SMTP server
// (as UTF-8). Two program homes see the same mailbox, one per pager type.

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "ground/mimetext.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/modemsim.h"
#include "tests/integration/smtpsink.h"

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

// As a current mail program sends it: QP text, base64 HTML, folded subject.
const QByteArray kMessage =
    "Message-ID: <mime@e2e.test>\n"
    "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <jm@e2e.test>\n"
    "To: tester@e2e.test\n"
    "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\n"
    " =?UTF-8?Q?_=E2=80=93_heute?=\n"
    "Date: Mon, 7 Dec 2026 10:00:00 +0000\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/alternative; boundary=\"==alt==\"\n"
    "\n"
    "--==alt==\n"
    "Content-Type: text/plain; charset=UTF-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Sch=C3=B6ne Gr=C3=BC=C3=9Fe,\n"
    "J=C3=B6rg\n"
    "--==alt==\n"
    "Content-Type: text/html; charset=UTF-8\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "PHA+U2Now7ZuZSBHcsO8w59lLDwvcD4=\n"
    "--==alt==--\n";

} // namespace

class TestMimeE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    RealEventPump pump;
    DovecotServer dovecot;
    ModemSimulator sim;
    SmtpSinkServer sink;

    // A program home whose profile pages entry 1 of the pager list as
    // `pagerType`, with the body.
    bool makeHome(const QString& name, int pagerType) {
        const QString home = dir.path() + QLatin1Char('/') + name;
        const QString profile = home + QStringLiteral("/mime.dat");
        if (!QDir().mkpath(home))
            return false;
        writeE2eProfile(home, profile, dovecot.port(), 220, [&](MainProgram& p) {
            LiveSettings& s = p.Settings();
            s.pageBody = true;
            s.smtpHostAddress = QStringLiteral("127.0.0.1");
            s.smtpPort = static_cast<std::int16_t>(sink.port());
            s.domainName = QStringLiteral("e2e.test");
            CPager& pager = p.Pagers().Item(1);
            pager.SetPagerType(static_cast<std::int16_t>(pagerType));
            pager.SetEmailAddress(QStringLiteral("pager@carrier.test"));
        });
        return writeE2eSettings(dir.path() + QStringLiteral("/config-") + name + QStringLiteral("/tessaly/tessaly.ini"),
                                profile, sim.device());
    }

    int runCheck(const QString& name, QByteArray& output) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), dir.path() + QLatin1Char('/') + name);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config-") + name);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--check")});
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (ModemSimulator::python().isEmpty() || !SmtpSinkServer::available())
            QSKIP("python3 and python3-aiosmtpd are needed (scripts/setup-deps.sh --tests)");
        QVERIFY(dovecot.start(pump, {{QStringLiteral("work"), QStringLiteral("w0rk")}}));
        QVERIFY(dovecot.deliver(QStringLiteral("work"), kMessage));
        QVERIFY(sim.start());
        QVERIFY(sink.start(pump, freeLowPort())); // the port setting is a 16-bit number
        QVERIFY(makeHome(QStringLiteral("modem"), 0));
        QVERIFY(makeHome(QStringLiteral("mail"), 1));
    }

    void cleanupTestCase() {
        sim.stop();
        sink.stop();
        dovecot.stop();
    }

    void modemPagerGetsReadableAscii() {
        QByteArray out;
        QVERIFY2(runCheck(QStringLiteral("modem"), out) == 0, out.constData());
        QCOMPARE(sim.goodBlocks(),
                 QStringList{QStringLiteral("7654321:mon, 7 dec 2026 10:00:00 +0000|From:jorg muller <jm@e2e.test>"
                                            "|Subject:grusse aus koln - heute|Schone Grusse, Jorg")});
    }

    void mailPagerGetsUtf8() {
        QByteArray out;
        QVERIFY2(runCheck(QStringLiteral("mail"), out) == 0, out.constData());
        const QList<QJsonObject> received = sink.received();
        QVERIFY2(received.size() == 1, out.constData());
        const QByteArray data = received.first().value(QStringLiteral("data")).toString().toLatin1();
        const qsizetype blank = data.indexOf("\r\n\r\n");
        const QByteArray head = data.left(blank);
        QVERIFY(head.contains("\r\nMIME-Version: 1.0\r\n"));
        QVERIFY(head.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
        QVERIFY(head.contains("\r\nContent-Transfer-Encoding: quoted-printable"));
        for (const char c : data)
            QVERIFY(static_cast<unsigned char>(c) < 0x80); // passes 7-bit servers
        const QString body = QString::fromUtf8(mimetext::DecodeQuotedPrintable(data.mid(blank + 4)));
        QCOMPARE(body, QStringLiteral(u"mon, 7 dec 2026 10:00:00 +0000|From:jörg müller <jm@e2e.test>"
                                      u"|Subject:grüße aus köln – heute|Schöne Grüße,\r\nJörg\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestMimeE2E)
#include "test_mime_e2e.moc"
