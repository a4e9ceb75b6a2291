// The README's "complete set-up" run as written: its shell lines, with
// `tessly` being this build, in a private program directory and settings,
// against a private Dovecot and the SMTP sink. Only the example servers and
// ports are replaced by those peers; the timer line is left out (no user
// manager here). Three checks page each old message (or the count notice)
// once, a message that arrives later once more, and the line on a server
// without TLS is said once over all runs.

#include "tests/integration/dovecot.h"
#include "tests/integration/testcerts.h"
#include "tests/integration/latencyproxy.h"
#include "tests/integration/smtpsink.h"

#include <QRegularExpression>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QByteArray message(int n) {
    return QStringLiteral("Message-ID: <r%1@readme.test>\nFrom: ann@readme.test\nTo: me@readme.test\n"
                          "Subject: Readme %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nBody %1\n")
        .arg(n)
        .toUtf8();
}

// The README's set-up block: its command lines, continuations joined.
QStringList readmeSetup() {
    QFile f(QStringLiteral(TESSALY_SOURCE_DIR "/README.md"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    const qsizetype start = lines.indexOf(QStringLiteral("A complete set-up, paging by e-mail every ten minutes:"));
    if (start < 0)
        return {};
    QStringList commands;
    QString current;
    for (qsizetype i = start + 2; i < lines.size() && lines[i].startsWith(QLatin1String("    ")); ++i) {
        QString line = lines[i].trimmed();
        const bool more = line.endsWith(QLatin1Char('\\'));
        if (more)
            line.chop(1);
        current += line + QLatin1Char(' ');
        if (!more) {
            commands << current.trimmed();
            current.clear();
        }
    }
    return commands;
}

// The README's line that feeds --show-profile back to --set.
QString readmeRoundTrip() {
    QFile f(QStringLiteral(TESSALY_SOURCE_DIR "/README.md"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("    tessly --show-profile |")) && line.contains(QLatin1String("--set")))
            return line.trimmed();
    return {};
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestReadmeHeadless : public QObject {
    Q_OBJECT
    RealEventPump pump_;

    // Runs one shell line with `tessly` on the PATH; its output.
    QString sh(const QString& dir, const QString& line) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), dir + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
        env.insert(QStringLiteral("PATH"), dir + QStringLiteral("/bin:") + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), line});
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
        }
        return QString::fromUtf8(p.readAll());
    }

private slots:
    void threeChecks_data() {
        QTest::addColumn<bool>("headers");
        QTest::newRow("headers paged") << true;
        QTest::newRow("count notice") << false;
    }
    void threeChecks() {
        QFETCH(bool, headers);
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        const QStringList commands = readmeSetup();
        QVERIFY2(commands.size() >= 3, "the README's set-up block was not found");
        QVERIFY(commands.last().startsWith(QLatin1String("systemctl --user")));

        // TLS on both sides, the outgoing server asking for a login, as
        // providers have it; the test's own authority signs "localhost".
        TestCertificates certs;
        QVERIFY(certs.make());
        DovecotServer dovecot;
        SmtpSinkServer sink;
        QVERIFY(dovecot.start(pump_, {{QStringLiteral("me"), QStringLiteral("my secret")}}, certs.serverCert(),
                              certs.serverKey()));
        QVERIFY(dovecot.deliverAll(QStringLiteral("me"), {message(1), message(2)}));
        QVERIFY(sink.start(pump_, freeLowPort(),
                           {certs.serverCert(), certs.serverKey(), QStringLiteral("me:my secret")}));
        // The profile's ports are 16-bit values: Dovecot's TLS port is reached on a low port.
        LatencyProxy proxy;
        QVERIFY(proxy.start(dovecot.tlsPort(), 0, freeLowPort()));

        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("bin"))) &&
                QDir().mkpath(dir.filePath(QStringLiteral("config/tessaly"))));
        QVERIFY(QFile::link(QStringLiteral(TESSLY_BINARY), dir.filePath(QStringLiteral("bin/tessly"))));
        // The version check asks a closed local port, not the internet.
        QFile ini(dir.filePath(QStringLiteral("config/tessaly/tessaly.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Tessaly 1.1/Settings]\nUpdateServer=127.0.0.1:%1\n").arg(freePort()).toUtf8());
        ini.close();

        QString setup = commands.first();
        const QList<std::pair<QString, QString>> peers{
            {QStringLiteral("smtp.host_address=smtp.example.org"), QStringLiteral("smtp.host_address=localhost")},
            {QStringLiteral("smtp.port=25"), QStringLiteral("smtp.port=%1").arg(sink.port())},
            {QStringLiteral("account.1.server=pop.example.org"), QStringLiteral("account.1.server=localhost")},
            {QStringLiteral("account.1.port=995"), QStringLiteral("account.1.port=%1").arg(proxy.port())},
            {QStringLiteral("mail.page_headers=true"),
             QStringLiteral("mail.page_headers=") + QLatin1String(headers ? "true" : "false")}};
        for (const auto& [from, to] : peers) {
            QVERIFY2(setup.contains(from), qPrintable(from + QStringLiteral(" not in: ") + setup));
            setup.replace(from, to);
        }
        // Only the authority is the test's own; every other value is the README's.
        setup += QStringLiteral(" mail.ca_file=") + certs.ca();
        QString out = sh(dir.path(), setup);
        QVERIFY2(!out.contains(QLatin1String("tessly:")), qPrintable(setup + QLatin1Char('\n') + out));
        out = sh(dir.path(), commands[1]);
        QVERIFY2(out.contains(QStringLiteral("account.1.server = localhost")), qPrintable(out));

        // What --show-profile prints, fed back to --set, changes no byte.
        const QString profilePath = dir.filePath(QStringLiteral("home/DEFAULT.dat"));
        const QString iniPath = dir.filePath(QStringLiteral("config/tessaly/tessaly.ini"));
        const QByteArray profileBefore = fileBytes(profilePath), iniBefore = fileBytes(iniPath);
        QVERIFY(iniBefore.contains("Work=TLS") && iniBefore.contains("CAFile="));
        const QString roundTrip = readmeRoundTrip();
        QVERIFY2(!roundTrip.isEmpty(), "the README's round-trip line was not found");
        out = sh(dir.path(), roundTrip);
        QVERIFY2(!out.contains(QLatin1String("tessly:")), qPrintable(out));
        QCOMPARE(fileBytes(profilePath), profileBefore);
        QCOMPARE(fileBytes(iniPath), iniBefore);

        const QString check = commands[2];
        QVERIFY(check.contains(QLatin1String("--check")));
        const int notices[3] = {1, 1, 2}; // pages (of one or of two messages) after each run
        for (int run = 0; run < 3; ++run) {
            if (run == 2)
                QVERIFY(dovecot.deliver(QStringLiteral("me"), message(3)));
            // The first run shows its traffic: encrypted, and no secret in it.
            out = sh(dir.path(),
                     run == 0 ? QString(check).replace(QStringLiteral("--check"), QStringLiteral("--check --verbose"))
                              : check);
            QVERIFY2(out.contains(QStringLiteral("status 0")), qPrintable(out));
            if (run == 0) {
                QVERIFY2(out.contains(QStringLiteral(" encrypted: TLS 1.")), qPrintable(out));
                QVERIFY2(out.contains(QStringLiteral("SMTP Send: AUTH ")), qPrintable(out));
                for (const QByteArray& secret : {QByteArray("my secret"), QByteArray("my secret").toBase64(),
                                                 QByteArray("\0me\0my secret", 13).toBase64()})
                    QVERIFY2(!out.toUtf8().contains(secret), secret.constData());
            }
            const int expected = headers ? (run == 2 ? 3 : 2) : notices[run];
            QTRY_COMPARE_WITH_TIMEOUT(sink.received().size(), expected, 5000);
            QTest::qWait(300); // nothing more arrives
            QCOMPARE(sink.received().size(), expected);
        }
        QStringList bodies;
        for (const QJsonObject& m : sink.received())
            bodies << m.value(QStringLiteral("data")).toString();
        const QString all = bodies.join(QStringLiteral("\n----\n"));
        if (headers) {
            for (const char* subject : {"Readme 1", "Readme 2", "Readme 3"})
                QCOMPARE(all.count(QString::fromLatin1(subject), Qt::CaseInsensitive), 1);
        } else {
            QVERIFY2(bodies.first().contains(QStringLiteral("<EMAIL 2>")), qPrintable(all));
        }

        QFile log(dir.filePath(QStringLiteral("home/activity.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString activity = QString::fromUtf8(log.readAll());
        QVERIFY2(!activity.contains(QStringLiteral("offers no TLS")), qPrintable(activity));
        QVERIFY2(!activity.contains(QStringLiteral("my secret")), qPrintable(activity));
        // Offline, the version check (once a day, so in the first run) is one line.
        QCOMPARE(activity.count(QStringLiteral("Version check failed: ")), 1);
        QVERIFY2(!activity.contains(QStringLiteral("Keyword ")), qPrintable(activity));
    }
};

QTEST_GUILESS_MAIN(TestReadmeHeadless)
#include "test_readme_headless.moc"
