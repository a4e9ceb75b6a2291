// The activity log: naming, roll-over, line format and every failure path.

#include "log/clogfile.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class MemoryTextBox : public LogTextBox {
public:
    QString Text() const override { return text; }
    void SetText(const QString& t) override {
        if (refuse)
            throw TessalyError(7, QStringLiteral("Out of memory"));
        text = t;
    }
    QString text;
    bool refuse = false;
};

} // namespace

class TestCLogFile : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    VirtualEventPump clock{QDateTime(QDate(1999, 12, 6), QTime(10, 15, 2))};

    std::unique_ptr<CLogFile> makeLog(const QString& name = QStringLiteral("activity.txt")) {
        auto log = std::make_unique<CLogFile>(prompter, clock);
        log->SetLogFileName(name);
        log->SetPath(dir.path());
        return log;
    }
    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

private slots:
    void init() {
        prompter.clear();
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    void oldLogNameComesFromTextBeforeTheFirstDot() {
        CLogFile log(prompter, clock);
        const QList<QPair<QString, QString>> cases = {
            {QStringLiteral("activity.txt"), QStringLiteral("activity.old")},
            {QStringLiteral("a.b.txt"), QStringLiteral("a.old")},
            {QStringLiteral("log"), QStringLiteral("log.old")},
            {QStringLiteral(".hidden"), QStringLiteral(".old")},
        };
        for (const auto& [name, old] : cases) {
            log.SetLogFileName(name);
            QCOMPARE(log.OldLogFileName(), old);
        }
        log.SetPath(QStringLiteral("/tmp/x/"));
        log.SetLogFileName(QStringLiteral("activity.txt"));
        // The separator is inserted even when the folder already ends with one.
        QCOMPARE(log.FullLogPath(), QStringLiteral("/tmp/x//activity.txt"));
    }

    void enablingRollsOverOnlyOnOffToOn() {
        writeFile(path("activity.txt"), "current\r\n");
        writeFile(path("activity.old"), "older\r\n");
        auto log = makeLog();
        log->SetLogEnable(true);
        QCOMPARE(readAll(path("activity.old")), QByteArray("current\r\n"));
        QCOMPARE(readAll(path("activity.txt")), QByteArray());

        log->LogMessage(QStringLiteral("one"));
        log->SetLogEnable(true); // on to on: nothing happens to the files
        QVERIFY(readAll(path("activity.txt")).startsWith("one "));
        QCOMPARE(readAll(path("activity.old")), QByteArray("current\r\n"));

        log->SetLogEnable(false);
        log->LogMessage(QStringLiteral("dropped"));
        QVERIFY(!readAll(path("activity.txt")).contains("dropped"));
        log->SetLogEnable(true); // off to on again: a new log
        QVERIFY(readAll(path("activity.old")).startsWith("one "));
        QCOMPARE(readAll(path("activity.txt")), QByteArray());
        QVERIFY(prompter.messages().isEmpty());
    }

    void continuingKeepsTheCurrentLog() {
        writeFile(path("activity.txt"), "earlier\r\n");
        auto log = makeLog();
        log->ContinueLog();
        log->LogMessage(QStringLiteral("more"));
        QVERIFY(readAll(path("activity.txt")).startsWith("earlier\r\nmore "));
        QVERIFY(!QFile::exists(path("activity.old")));
        log->SetLogEnable(true); // already on: still no roll-over
        QVERIFY(!QFile::exists(path("activity.old")));
    }

    void enablingWithoutLogCreatesEmptyLogAndNoOldLog() {
        auto log = makeLog(QStringLiteral("log"));
        log->SetLogEnable(true);
        QVERIFY(QFile::exists(path("log")));
        QCOMPARE(readAll(path("log")), QByteArray());
        QVERIFY(!QFile::exists(path("log.old")));
    }

    void enablingWithEmptyNamesIsRefused() {
        CLogFile log(prompter, clock);
        log.SetLogFileName(QStringLiteral("activity.txt"));
        log.SetLogEnable(true); // path not set yet
        QCOMPARE(prompter.messageTexts(), QStringList{QStringLiteral("Invalid path or filename in LogFile Class")});
        QCOMPARE(prompter.messages().first().buttons, MsgButtons::OK);
        QCOMPARE(prompter.messages().first().icon, MsgIcon::None);
        QVERIFY(!log.LogEnable());
        log.SetPath(dir.path());
        log.LogMessage(QStringLiteral("x"));
        QVERIFY(!QFile::exists(path("activity.txt")));
        // Once both names are there, the first enabling is still an off-to-on switch.
        log.SetLogEnable(true);
        QVERIFY(log.LogEnable());
        QVERIFY(QFile::exists(path("activity.txt")));
    }

    void lineIsMessageBlankDateTimeCrLfInLatin1() {
        auto log = makeLog();
        log->SetLogEnable(true);
        MemoryTextBox box;
        box.text = QStringLiteral("before\r\n");
        log->LogMessage(QStringLiteral("Checking mail"), &box);
        clock.advance(61);
        log->LogMessage(QStringLiteral("Caf\u00e9 \u20ac"));
        QCOMPARE(readAll(path("activity.txt")),
                 QByteArray("Checking mail 12/6/1999 10:15:02 AM\r\n"
                            "Caf\xe9 ? 12/6/1999 10:16:03 AM\r\n"));
        QCOMPARE(box.text, QStringLiteral("before\r\nChecking mail 12/6/1999 10:15:02 AM\r\n"));
    }

    void disabledLogTouchesNothing() {
        auto log = makeLog();
        MemoryTextBox box;
        box.text = QStringLiteral("keep");
        log->LogMessage(QStringLiteral("x"), &box);
        QCOMPARE(box.text, QStringLiteral("keep"));
        QVERIFY(!QFile::exists(path("activity.txt")));
        QVERIFY(!log->ReadLogFile(&box));
        QCOMPARE(box.text, QStringLiteral("keep"));
    }

    void msgBoxLogShowsThenLogs() {
        auto log = makeLog();
        log->SetLogEnable(true);
        log->MsgBoxLog(42);
        QCOMPARE(prompter.messageTexts(), QStringList{QStringLiteral("42")});
        QVERIFY(readAll(path("activity.txt")).startsWith("42 12/6/1999"));
        log->ClearLogFile();
        QVERIFY(readAll(path("activity.txt")).startsWith("42 12/6/1999"));
    }

    void failedRollOverWarnsAndLeavesFilesAlone() {
        writeFile(path("activity.txt"), "current\r\n");
        // An old-log path that cannot be deleted: a directory with content.
        QDir().mkpath(path("activity.old/inner"));
        auto log = makeLog();
        log->SetLogEnable(true);
        QCOMPARE(prompter.messages().size(), 1);
        QCOMPARE(prompter.messages().first().icon, MsgIcon::Warning);
        QCOMPARE(prompter.messages().first().buttons, MsgButtons::OK);
        QVERIFY(!prompter.messages().first().text.isEmpty());
        QCOMPARE(readAll(path("activity.txt")), QByteArray("current\r\n"));
        // Logging is on all the same; lines are appended to the existing log.
        log->LogMessage(QStringLiteral("next"));
        QVERIFY(readAll(path("activity.txt")).startsWith("current\r\nnext "));
    }

    void failedOpenWarnsButStillFillsTextBox() {
        auto log = makeLog();
        log->SetLogEnable(true);
        QFile::remove(path("activity.txt"));
        QDir().mkpath(path("activity.txt")); // cannot be opened for writing
        MemoryTextBox box;
        log->LogMessage(QStringLiteral("line"), &box);
        QCOMPARE(prompter.messages().size(), 1);
        QCOMPARE(prompter.messages().first().icon, MsgIcon::Warning);
        QCOMPARE(box.text, QStringLiteral("line") + CLogFile::LineSuffix(clock.now()));
    }

    void failedWriteAsksRetryOrCancel() {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("needs /dev/full to make writes fail");
        auto log = makeLog();
        log->SetLogEnable(true);
        QFile::remove(path("activity.txt"));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path("activity.txt")));
        prompter.queueAnswer(MsgAnswer::Retry);
        prompter.queueAnswer(MsgAnswer::Retry);
        prompter.queueAnswer(MsgAnswer::Cancel);
        MemoryTextBox box;
        log->LogMessage(QStringLiteral("line"), &box);
        QCOMPARE(prompter.messages().size(), 3); // first failure, two retries
        for (const auto& m : prompter.messages()) {
            QCOMPARE(m.buttons, MsgButtons::RetryCancel);
            QCOMPARE(m.icon, MsgIcon::Critical);
        }
        // Cancel abandons the file write; the next line tries again.
        prompter.clear();
        prompter.queueAnswer(MsgAnswer::Cancel);
        log->LogMessage(QStringLiteral("again"));
        QCOMPARE(prompter.messages().size(), 1);
    }

    void textBoxFailureIsReportedNotThrown() {
        auto log = makeLog();
        log->SetLogEnable(true);
        MemoryTextBox box;
        box.refuse = true;
        log->LogMessage(QStringLiteral("line"), &box);
        QCOMPARE(prompter.messageTexts(),
                 QStringList{QStringLiteral("Log Message Error in LogFile Class: Out of memory")});
        QVERIFY(readAll(path("activity.txt")).startsWith("line "));
    }
};

QTEST_GUILESS_MAIN(TestCLogFile)
#include "test_clogfile.moc"
