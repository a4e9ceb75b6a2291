// The command line of the real program: --help, --version, the profile's
// text form, and the usage error (status 64) for what it does not understand.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestCliOptions : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    struct Run {
        int status = -1;
        QString out, err;
    };
    Run tessly(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), dir_.path() + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path() + QStringLiteral("/config"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TESSLY_BINARY), args);
        Run r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    static QByteArray bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void statusAndOutput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stdoutHas");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tessly 1.1." << "";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--show-profile" << "";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 64 << "" << "Usage: tessly";
        QTest::newRow("unknown short option") << QStringList{"-x", "some.dat"} << 64 << "" << "unknown option -x";
        QTest::newRow("set without assignment") << QStringList{"--set"} << 64 << "" << "key=value";
        QTest::newRow("set with check") << QStringList{"--set", "paging.enabled=1", "--check"} << 64 << ""
                                        << "Usage: tessly";
        QTest::newRow("two profiles") << QStringList{"--show-profile", "a.dat", "b.dat"} << 64 << ""
                                      << "more than one profile";
        QTest::newRow("show and set") << QStringList{"--show-profile", "--set", "a=1"} << 64 << "" << "Usage: tessly";
        QTest::newRow("startup profile shown") << QStringList{"--show-profile"} << 0 << "pager.1.username = user1"
                                               << "";
        QTest::newRow("missing profile") << QStringList{"--show-profile", "nowhere.dat"} << 2 << ""
                                         << "no profile file at";
        QTest::newRow("unknown key") << QStringList{"--set", "paging.colour=red"} << 64 << ""
                                     << "paging.colour: unknown setting";
    }
    void statusAndOutput() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, stdoutHas);
        QFETCH(QString, stderrHas);
        const Run r = tessly(args);
        QVERIFY2(r.status == status, qPrintable(QStringLiteral("status %1: %2").arg(r.status).arg(r.err)));
        QVERIFY2(r.out.contains(stdoutHas), qPrintable(r.out));
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
    }

    // --set without a file changes the startup profile, which --check uses.
    void setChangesStartupProfile() {
        QCOMPARE(tessly({QStringLiteral("--set"), QStringLiteral("account.1.server=127.0.0.1"),
                         QStringLiteral("account.1.check=no")})
                     .status,
                 0);
        const Run shown = tessly({QStringLiteral("--show-profile")});
        QVERIFY(shown.out.contains(QStringLiteral("account.1.server = 127.0.0.1\n")));
        // No account is enabled: the check says so rather than checking.
        QCOMPARE(tessly({QStringLiteral("--headless"), QStringLiteral("--check")}).status, 3);
    }

    // Each network type and its service's values set from the command line:
    // shown again (the security code masked), kept in the settings file while
    // the profile keeps a classic type, and the shown lines set back change
    // no byte of either file.
    void networkPagerByCommandLine_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("stored"); // [Pager Types]
        QTest::newRow("wctp") << "wctp" << "https://wctp.example.com/wctp" << "WCTP";
        QTest::newRow("snpp") << "snpp" << "snpp.example.com:4444" << "SNPP";
        QTest::newRow("alpha-tcp") << "alpha-tcp" << "terminal.example.com:5000" << "TCP";
    }
    void networkPagerByCommandLine() {
        QFETCH(QString, type);
        QFETCH(QString, address);
        QFETCH(QString, stored);
        const QStringList values = {"pager.1.type=" + type,        "pager.1.id=4455",
                                    "service.1.address=" + address, "service.1.tls=true",
                                    "service.1.sender_id=gate-7",   "service.1.security_code=s3cur3",
                                    "service.1.receipts=true"};
        Run r = tessly(QStringList{QStringLiteral("--set")} + values);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        r = tessly({QStringLiteral("--show-profile")});
        QCOMPARE(r.status, 0);
        for (QString v : values)
            QVERIFY2(r.out.contains(v.replace(QStringLiteral("s3cur3"), QStringLiteral("********"))
                                        .replace(QLatin1Char('='), QStringLiteral(" = ")) +
                                    QLatin1Char('\n')),
                     qPrintable(v));
        QVERIFY(!r.out.contains(QStringLiteral("s3cur3")));

        const QString profilePath = dir_.filePath(QStringLiteral("home/DEFAULT.dat"));
        const QString iniPath = dir_.filePath(QStringLiteral("config/tessaly/tessaly.ini"));
        const QByteArray profile = bytes(profilePath), ini = bytes(iniPath);
        QVERIFY2(ini.contains("\nuser1=" + stored.toLatin1() + "\n"), ini.constData());
        for (const QByteArray& entry :
             {"Default.Address=" + address.toLatin1(), QByteArray("Default.Security Code=s3cur3"),
              QByteArray("Default.TLS=1"), QByteArray("Default.Receipts=1")})
            QVERIFY2(ini.contains(entry), entry.constData());
        QVERIFY(QString::fromLatin1(profile).contains(
            QRegularExpression(QStringLiteral("\n\"user1\",\"4455\",\"[^\"]*\",\"Default\",[0-2],"))));

        QStringList back;
        for (const QString& l : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!l.startsWith(QLatin1Char('#')))
                back << QString(l).replace(l.indexOf(QStringLiteral(" = ")), 3, QStringLiteral("="));
        r = tessly(QStringList{QStringLiteral("--set")} + back);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(bytes(profilePath), profile);
        QCOMPARE(bytes(iniPath), ini);
    }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "test_cli_options.moc"
