// The main window's profile, help and exit commands, driven through the
// window's own menus and toolbar with scripted answers.

#include "app/mainprogram.h"
#include "app/programcommands.h"
#include "app/shippedresources.h"
#include "features/mail/cmail.h"
#include "features/mail/mailviewer.h"
#include "platform/programdir.h"
#include "platform/settingsstore.h"
#include "tests/fakes/programrig.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmmain.h"
#include "ui/mail/frmmail.h"
#include "ui/paging/frmquicknote.h"
#include "ui/paging/frmterminal.h"
#include "ui/platform/qtprompter.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>
#include <QtTest>

using namespace tessaly;

namespace {

const QDateTime kNine(QDate(2026, 12, 7), QTime(9, 0));

// A started program in its main window. With `shippedProfile` the program
// directory holds the shipped DEFAULT.dat, which start-up loads.
struct Fixture {
    FrmMain w;
    ProgramRig rig{kNine};
    MainProgram* program = nullptr;
    int quits = 0;

    explicit Fixture(bool shippedProfile = false) {
        initShippedResources();
        if (shippedProfile)
            prepareProgramDirectory(rig.dir.path());
        else
            rig.noStartupProfile();
        program = &rig.create({}, &w);
        program->SetDialUpAvailable([] { return false; });
        w.Bind(*program);
        program->Commands().SetQuitHandler([this] { ++quits; });
        program->Startup(QString());
        rig.prompter.clear();
    }
    QAction* command(const QString& name) const {
        return name.startsWith(QLatin1String("tlb_")) ? w.Toolbar()->findChild<QAction*>(name) : w.Action(name);
    }
    QString path(const char* name) const { return rig.dir.filePath(QString::fromLatin1(name)); }
    QString defaultFile() const {
        return rig.store.read(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), QStringLiteral("(unset)"));
    }
    void addMail(const QString& id, const QString& subject) {
        auto m = std::make_unique<CMail>();
        m->SetID(id);
        m->SetSubject(subject);
        m->SetNewMessage(true);
        program->GetInbox().Add(std::move(m), id);
    }
};

QString manualUrl(const Fixture& f, const char* page) {
    return QUrl::fromLocalFile(f.rig.dir.filePath(QStringLiteral("manual/") + QLatin1String(page))).toString();
}

} // namespace

class TestProgramCommands : public QObject {
    Q_OBJECT
private slots:
    void everyCommandIsEnabledAndReachesItsAction() {
        struct Row {
            const char* name;
            std::function<void(Fixture&)> prepare;
            std::function<bool(Fixture&)> done;
        };
        auto lastDialog = [](Fixture& f, const char* title, bool save) {
            const auto& d = f.rig.prompter.fileDialogs();
            return !d.isEmpty() && d.last().request.title == QLatin1String(title) && d.last().save == save;
        };
        auto opened = [](Fixture& f, const QString& target) { return f.rig.shell.opened == QStringList{target}; };
        const QList<Row> rows = {
            {"mnuOpen", {}, [&](Fixture& f) { return lastDialog(f, "Open File", false); }},
            {"tlb_open", {}, [&](Fixture& f) { return lastDialog(f, "Open File", false); }},
            {"mnuSave", [](Fixture& f) { f.program->SetCurrentProfileName(f.path("a.dat")); },
             [](Fixture& f) { return QFile::exists(f.path("a.dat")); }},
            {"tlb_save", [](Fixture& f) { f.program->SetCurrentProfileName(f.path("b.dat")); },
             [](Fixture& f) { return QFile::exists(f.path("b.dat")); }},
            {"mnuSaveAs", {}, [&](Fixture& f) { return lastDialog(f, "Save File As", true); }},
            {"mnuExit", {}, [](Fixture& f) { return f.quits == 1; }},
            {"mnuQuitPopup", {}, [](Fixture& f) { return f.quits == 1; }},
            {"mnuHelpContents", {}, [&](Fixture& f) { return opened(f, manualUrl(f, "index.html")); }},
            {"tlb_help", {}, [&](Fixture& f) { return opened(f, manualUrl(f, "index.html")); }},
            {"mnuHelpSearch", {}, [&](Fixture& f) { return opened(f, manualUrl(f, "keywords.html")); }},
            {"mnuAbout", {}, [](Fixture& f) {
                 auto* about = f.w.findChild<FrmAbout*>(QStringLiteral("frmAbout"));
                 return about && about->isVisible();
             }},
            {"mnuCheckUpdates", {}, [&](Fixture& f) { return opened(f, QStringLiteral("http://www.tessaly.net/tessaly/updates.html")); }},
            {"mnuBug", {}, [&](Fixture& f) { return opened(f, QStringLiteral("http://www.tessaly.net/tessaly/bugreport.html")); }},
            {"mnuDiagnostics", {}, [](Fixture& f) { return f.w.TerminalWindow()->isVisible(); }},
            {"mnuMailViewer", [](Fixture& f) { f.addMail(QStringLiteral("<1@x>"), QStringLiteral("hi")); },
             [](Fixture& f) { return f.w.MailViewerWindow() && f.w.MailViewerWindow()->isVisible(); }},
            {"mnuviewMail", [](Fixture& f) { f.addMail(QStringLiteral("<1@x>"), QStringLiteral("hi")); },
             [](Fixture& f) { return f.w.MailViewerWindow() && f.w.MailViewerWindow()->isVisible(); }},
            {"tlb_mail", [](Fixture& f) { f.addMail(QStringLiteral("<1@x>"), QStringLiteral("hi")); },
             [](Fixture& f) { return f.w.MailViewerWindow() && f.w.MailViewerWindow()->isVisible(); }},
            {"mnuQuickNote", {}, [](Fixture& f) { return f.w.QuickNoteWindow() && f.w.QuickNoteWindow()->isVisible(); }},
            {"mnuQuickNotePopUp", {}, [](Fixture& f) { return f.w.QuickNoteWindow() && f.w.QuickNoteWindow()->isVisible(); }},
            {"tlb_quicknote", {}, [](Fixture& f) { return f.w.QuickNoteWindow() && f.w.QuickNoteWindow()->isVisible(); }},
        };
        for (const Row& row : rows) {
            Fixture f;
            if (row.prepare)
                row.prepare(f);
            QAction* a = f.command(QString::fromLatin1(row.name));
            QVERIFY2(a, row.name);
            QVERIFY2(a->isEnabled(), row.name);
            a->trigger();
            QVERIFY2(row.done(f), row.name);
            // Commands without changes ask nothing and report no error.
            QVERIFY2(f.rig.prompter.messages().isEmpty(), row.name);
        }
        // Sending a page by hand and the options open their own windows (their
        // tests drive them); here they only have to be enabled.
        Fixture f;
        for (const char* name : {"mnuSend", "tlb_page", "mnuOptions", "mnuOptionsPopup", "tlb_options"})
            QVERIFY2(f.command(QString::fromLatin1(name))->isEnabled(), name);
    }

    void exitWithChangesOnTheShippedProfileSavesUnderANewName() {
        Fixture f(true);
        QVERIFY(f.program->ProfileChanged());
        const QString mine = f.path("mine.dat");
        f.rig.prompter.queueAnswer(MsgAnswer::Yes); // save before exiting
        f.rig.prompter.queueFileName(mine);
        f.rig.prompter.queueAnswer(MsgAnswer::Yes); // startup file
        f.w.Action(QStringLiteral("mnuExit"))->trigger();

        const auto& asked = f.rig.prompter.messages();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].text, QStringLiteral("Save File Before Exiting?"));
        QCOMPARE(asked[0].buttons, MsgButtons::YesNoCancel);
        QCOMPARE(asked[0].icon, MsgIcon::Question);
        QCOMPARE(asked[1].text, QStringLiteral("Do you want this to be your startup file?"));
        QCOMPARE(asked[1].buttons, MsgButtons::YesNo);
        const auto& dialog = f.rig.prompter.fileDialogs();
        QCOMPARE(dialog.size(), 1);
        QVERIFY(dialog[0].save);
        QCOMPARE(dialog[0].request.title, QStringLiteral("Save File As"));
        QCOMPARE(dialog[0].request.filter, QStringLiteral("*.dat"));
        QCOMPARE(dialog[0].request.defaultExtension, QStringLiteral("dat"));
        QCOMPARE(dialog[0].request.directory, f.rig.dir.path());
        QVERIFY(QFile::exists(mine));
        QCOMPARE(f.defaultFile(), mine);
        // The program is torn down and ends.
        QCOMPARE(f.quits, 1);
        QVERIFY(!f.w.isVisible());
        QVERIFY(!f.rig.sound.opened);
        QVERIFY(!f.program->Log());
        QVERIFY(!f.program->MinuteTimer().isActive());
    }

    void refusedExitKeepsRunningAndAsksAgain() {
        Fixture f(true);
        // Cancel at the question, then Cancel in the Save As dialog.
        f.rig.prompter.queueAnswer(MsgAnswer::Cancel);
        f.w.Action(QStringLiteral("mnuExit"))->trigger();
        f.rig.prompter.queueAnswer(MsgAnswer::Yes);
        f.rig.prompter.queueFileName(QString());
        f.w.Action(QStringLiteral("mnuQuitPopup"))->trigger();
        // The close box asks the same question.
        f.rig.prompter.queueAnswer(MsgAnswer::Cancel);
        f.w.close();
        QVERIFY(f.program->CancelFlag()); // the refused closing
        QCOMPARE(f.quits, 0);
        QVERIFY(f.w.isVisible());
        QVERIFY(f.rig.sound.opened);
        QCOMPARE(f.rig.prompter.messageTexts(), QStringList(3, QStringLiteral("Save File Before Exiting?")));
        QCOMPARE(f.defaultFile(), QStringLiteral("(unset)"));

        // No: the program ends without saving.
        f.rig.prompter.queueAnswer(MsgAnswer::No);
        f.w.Action(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(f.quits, 1);
        QCOMPARE(f.rig.prompter.messages().size(), 4);
        QCOMPARE(QDir(f.rig.dir.path()).entryList({QStringLiteral("*.dat")}), QStringList{QStringLiteral("DEFAULT.dat")});
    }

    void exitSavesANamedProfileInPlaceOrStaysWhenThatFails() {
        Fixture f;
        const QString named = f.path("named.dat");
        f.program->SetCurrentProfileName(named);
        f.program->SetProfileChanged(true);
        // A profile that cannot be written: the reason is shown and nothing is lost.
        const QString unwritable = f.path("missing-folder/x.dat");
        f.program->SetCurrentProfileName(unwritable);
        f.rig.prompter.queueAnswer(MsgAnswer::Yes);
        f.w.Action(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(f.quits, 0);
        QCOMPARE(f.rig.prompter.messageTexts(),
                 (QStringList{QStringLiteral("Save File Before Exiting?"), QStringLiteral("Path/File access error")}));
        QVERIFY(f.program->ProfileChanged());
        QVERIFY(f.rig.sound.opened);

        f.program->SetCurrentProfileName(named);
        f.rig.prompter.queueAnswer(MsgAnswer::Yes);
        f.w.Action(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(f.quits, 1);
        QVERIFY(QFile::exists(named));
        QVERIFY(f.rig.prompter.fileDialogs().isEmpty());
        QCOMPARE(f.defaultFile(), QString()); // as the fixture left it
    }

    void exitKeepsWhatTheViewerMarkedAsRead() {
        Fixture f;
        f.addMail(QStringLiteral("<1@x>"), QStringLiteral("hi"));
        MailViewer(f.program->MailViewerServices()).DisplayMessage(1);
        f.w.Action(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(f.quits, 1);
        QCOMPARE(f.program->GetInbox().Count(), 0); // released
        QVERIFY(f.program->RememberInbox()); // as after the event loop: the file stays
        QFile state(f.program->InboxStatePath());
        QVERIFY(state.open(QIODevice::ReadOnly));
        const QJsonArray messages = QJsonDocument::fromJson(state.readAll()).object().value(QStringLiteral("messages")).toArray();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].toObject().value(QStringLiteral("id")).toString(), QStringLiteral("<1@x>"));
        QCOMPARE(messages[0].toObject().value(QStringLiteral("new")).toBool(true), false);
    }

    void saveWithoutAProfileAsksForANameButNotForTheStartupFile() {
        Fixture f;
        const QString chosen = f.path("first.dat");
        f.program->SetProfileChanged(true);
        f.rig.prompter.queueFileName(chosen);
        f.w.Action(QStringLiteral("mnuSave"))->trigger();
        QVERIFY(QFile::exists(chosen));
        QCOMPARE(f.program->CurrentProfileName(), chosen);
        QCOMPARE(f.w.windowTitle(), QStringLiteral("Tessaly - ") + chosen);
        QVERIFY(!f.program->ProfileChanged());
        QVERIFY(f.rig.prompter.messages().isEmpty());
        QCOMPARE(f.rig.prompter.fileDialogs().size(), 1);
        QCOMPARE(f.rig.prompter.fileDialogs()[0].request.filter, QStringLiteral("*.dat"));
        QCOMPARE(f.rig.prompter.fileDialogs()[0].request.fileName, QStringLiteral("*.dat"));
        // The next Save writes in place without a dialog.
        f.w.Action(QStringLiteral("mnuSave"))->trigger();
        QCOMPARE(f.rig.prompter.fileDialogs().size(), 1);
    }

    void saveAsAndOpenStopTheTimerOnlyWhileTheyRun() {
        Fixture f;
        QVERIFY(f.program->MinuteTimer().isActive());
        // Cancelled: nothing saved, the timer runs again.
        f.w.Action(QStringLiteral("mnuSaveAs"))->trigger();
        QVERIFY(f.program->MinuteTimer().isActive());
        QCOMPARE(f.program->CurrentProfileName(), QString());
        QCOMPARE(f.rig.prompter.fileDialogs()[0].request.filter, ProgramCommands::kProfileFilter);

        const QString other = f.path("other.dat");
        f.rig.prompter.queueFileName(other);
        f.rig.prompter.queueAnswer(MsgAnswer::No);
        f.w.Action(QStringLiteral("mnuSaveAs"))->trigger();
        QVERIFY(QFile::exists(other));
        QCOMPARE(f.rig.prompter.messageTexts(), QStringList{ProgramCommands::kStartupQuestion});
        QCOMPARE(f.defaultFile(), QString()); // No: unchanged
        QVERIFY(f.program->MinuteTimer().isActive());

        // Open loads the chosen profile; the switches follow it.
        f.program->Settings().scheduleEnabled = true;
        f.program->SaveProfile(other);
        f.program->Settings().scheduleEnabled = false;
        f.rig.prompter.queueFileName(other);
        f.w.Action(QStringLiteral("mnuOpen"))->trigger();
        const auto& open = f.rig.prompter.fileDialogs().last();
        QVERIFY(!open.save);
        QCOMPARE(open.request.title, QStringLiteral("Open File"));
        QCOMPARE(open.request.filter, QStringLiteral("Tessaly Files (*.dat)|*.dat|All Files (*.*)|*.*"));
        QCOMPARE(open.request.directory, f.rig.dir.path());
        QCOMPARE(f.w.windowTitle(), QStringLiteral("Tessaly: ") + other);
        QVERIFY(f.program->Settings().scheduleEnabled);
        QVERIFY(f.w.Action(QStringLiteral("mnuEnableSchedule"))->isChecked());
        QVERIFY(f.program->MinuteTimer().isActive());
    }

    void emptyMailboxAndUnopenableAddresses() {
        Fixture f;
        f.w.Action(QStringLiteral("mnuMailViewer"))->trigger();
        QCOMPARE(f.rig.prompter.messageTexts(), QStringList{QStringLiteral("Mailbox is empty")});
        QVERIFY(!f.w.MailViewerWindow());

        f.rig.prompter.clear();
        f.rig.shell.openSucceeds = false;
        f.rig.store.write(kAppTitle, kSettingsSection, ProgramCommands::kWebAddressValue,
                          QStringLiteral("https://example.org/"));
        f.w.Action(QStringLiteral("mnuBug"))->trigger();
        QCOMPARE(f.rig.prompter.messageTexts(),
                 QStringList{QStringLiteral("Error opening URL https://example.org/tessaly/bugreport.html. "
                                            "Your browser may not be set up to automatically open.")});
    }

    void theManualIsShippedWholeAndKeptUpToDate() {
        initShippedResources();
        QTemporaryDir dir;
        QVERIFY(prepareProgramDirectory(dir.path()).isEmpty());
        const QDir manual(dir.filePath(QStringLiteral("manual")));
        QVERIFY(manual.exists(QStringLiteral("index.html")));
        QVERIFY(manual.exists(QStringLiteral("keywords.html")));
        // Every link between the pages leads to a page that is there.
        const QRegularExpression link(QStringLiteral("href=\"([^\"#]+)"));
        int links = 0;
        for (const QString& page : manual.entryList({QStringLiteral("*.html")})) {
            QFile f(manual.filePath(page));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(f.readAll());
            for (const auto& m : link.globalMatch(html)) {
                ++links;
                QVERIFY2(manual.exists(m.captured(1)), qPrintable(page + QStringLiteral(" -> ") + m.captured(1)));
            }
        }
        QVERIFY(links > 20);

        // The user's profile stays as the user left it; the manual is the program's.
        auto overwrite = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write("changed") == 7;
        };
        QVERIFY(overwrite(dir.filePath(QStringLiteral("DEFAULT.dat"))));
        QVERIFY(overwrite(manual.filePath(QStringLiteral("index.html"))));
        QVERIFY(prepareProgramDirectory(dir.path()).isEmpty());
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("DEFAULT.dat"))).size(), 7);
        QVERIFY(QFileInfo(manual.filePath(QStringLiteral("index.html"))).size() > 7);
    }

    void fileDialogFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("qt");
        QTest::newRow("pairs") << ProgramCommands::kProfileFilter
                               << QStringList{"Tessaly Files (*.dat)", "All Files (*)"};
        QTest::newRow("one pattern") << QStringLiteral("*.dat") << QStringList{"*.dat"};
        QTest::newRow("several patterns") << QStringLiteral("Sounds|*.wav;*.WAV")
                                          << QStringList{"Sounds (*.wav *.WAV)"};
    }
    void fileDialogFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, qt);
        QCOMPARE(QtPrompter::nameFilters(filter), qt);
    }

    void aRunWithoutWindowsEndsEvenWhenNoNameCanBeChosen() {
        ProgramRig rig(kNine);
        initShippedResources();
        prepareProgramDirectory(rig.dir.path());
        MainProgram& program = rig.create();
        program.SetDialUpAvailable([] { return false; });
        int quits = 0;
        program.Commands().SetQuitHandler([&] { ++quits; });
        program.Startup(QString());
        QVERIFY(program.ProfileChanged());
        // Nobody answers: the default Yes, then a cancelled file dialog.
        program.Commands().Exit();
        QCOMPARE(quits, 1);
        QCOMPARE(rig.prompter.messageTexts().last(), QStringLiteral("Save File Before Exiting?"));
        QCOMPARE(rig.prompter.fileDialogs().size(), 1);
    }
};

QTEST_MAIN(TestProgramCommands)
#include "test_programcommands.moc"
