// The command line of the real program: --help, --version, the profile's
// text form, and the usage error (status 64) for what it does not understand.

#include <QProcess>
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
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "test_cli_options.moc"
