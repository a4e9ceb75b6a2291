#include "app/programcommands.h"

#include "app/maincycle.h"
#include "app/mainprogram.h"
#include "app/mainview.h"
#include "app/profile.h"
#include "app/statusdisplay.h"
#include "ground/tessalyerror.h"
#include "platform/eventpump.h"
#include "platform/prompter.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"
#include "platform/sounddevice.h"
#include "state/appinfo.h"
#include "state/commstatus.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace tessaly {

namespace {
QString errorText(const std::exception& e) {
    if (const auto* t = dynamic_cast<const TessalyError*>(&e))
        return t->description();
    return QString::fromLocal8Bit(e.what());
}

// Runs one step of the tear-down; a failing step does not stop the others.
template <typename F> void passOver(F&& step) {
    try {
        step();
    } catch (...) {
    }
}
} // namespace

ProgramCommands::ProgramCommands(MainProgram& program) : program_(program), quit_([] { QCoreApplication::exit(0); }) {}

void ProgramCommands::showError(const QString& text) { program_.Platform().prompter.messageBox(text, MsgButtons::OK); }

void ProgramCommands::Open() {
    Timer& minute = program_.MinuteTimer();
    minute.stop();
    const QString path = program_.Platform().prompter.openFileName(FileDialogRequest{
        QStringLiteral("Open File"), program_.Platform().programDir, kProfileFilter, QStringLiteral("dat"), QString()});
    if (!path.isEmpty()) {
        program_.SetCurrentProfileName(path);
        program_.LoadProfile(path);
        program_.Cycle().SyncSwitches();
    }
    minute.start();
}

void ProgramCommands::askStartupFile(const QString& path) {
    // The registry value is only written on Yes.
    if (program_.Platform().prompter.messageBox(kStartupQuestion, MsgButtons::YesNo) == MsgAnswer::Yes)
        program_.Platform().store.write(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), path);
}

ProgramCommands::SaveAsOutcome ProgramCommands::saveUnderNewName(const QString& filter, bool askStartup) {
    const QString path = program_.Platform().prompter.saveFileName(FileDialogRequest{
        kSaveAsTitle, program_.Platform().programDir, filter, QStringLiteral("dat"), QStringLiteral("*.dat")});
    if (path.isEmpty())
        return SaveAsOutcome::Cancelled;
    program_.SetCurrentProfileName(path);
    program_.SaveProfile(path);
    program_.View().SetCaption(QStringLiteral("Tessaly - ") + path);
    if (askStartup)
        askStartupFile(path);
    return SaveAsOutcome::Saved;
}

ProgramCommands::SaveResult ProgramCommands::Save() {
    using Outcome = SaveResult::Outcome;
    try {
        const QString current = program_.CurrentProfileName();
        if (!current.isEmpty()) {
            program_.SaveProfile(current);
            return {Outcome::Saved, {}};
        }
        if (saveUnderNewName(QStringLiteral("*.dat"), false) == SaveAsOutcome::Saved)
            return {Outcome::Saved, {}};
        return {Outcome::Cancelled, {}};
    } catch (const std::exception& e) {
        const QString text = errorText(e);
        showError(text);
        return {Outcome::Failed, text};
    }
}

ProgramCommands::SaveResult ProgramCommands::SaveAs() {
    using Outcome = SaveResult::Outcome;
    Timer& minute = program_.MinuteTimer();
    minute.stop();
    SaveResult result;
    try {
        if (saveUnderNewName(kProfileFilter, true) == SaveAsOutcome::Saved)
            result.outcome = Outcome::Saved;
    } catch (const std::exception& e) {
        result = {Outcome::Failed, errorText(e)};
        showError(result.error);
    }
    minute.start();
    return result;
}

// The question before closing. True when the closing goes on.
bool ProgramCommands::queryUnload() {
    bool& cancel = program_.CancelFlag();
    SoundDevice& sound = program_.Platform().sound;
    cancel = false;
    passOver([&] { sound.Close(); });
    if (!program_.ProfileChanged())
        return true;

    const bool canRefuse = program_.View().HasWindows();
    auto refuse = [&] {
        cancel = true;
        passOver([&] { sound.Open(); });
        return false;
    };
    const MsgAnswer answer =
        program_.Platform().prompter.messageBox(kExitQuestion, MsgButtons::YesNoCancel, MsgIcon::Question);
    if (answer == MsgAnswer::Cancel)
        return refuse();
    if (answer != MsgAnswer::Yes)
        return true;

    const QString current = program_.CurrentProfileName();
    try {
        if (current.isEmpty() || IsShippedProfile(program_, current)) {
            // Without windows nobody can pick a name; the run still ends.
            if (saveUnderNewName(QStringLiteral("*.dat"), true) == SaveAsOutcome::Cancelled && canRefuse)
                return refuse();
        } else {
            program_.SaveProfile(current);
        }
    } catch (const std::exception& e) {
        showError(errorText(e));
        // The changes would be lost: the program stays so the user can save
        // them elsewhere or answer No next time.
        if (canRefuse)
            return refuse();
    }
    return true;
}

void ProgramCommands::unload() {
    unloaded_ = true;
    passOver([&] { program_.MinuteTimer().stop(); });
    passOver([&] { program_.BlinkTimer().stop(); });
    passOver([&] {
        if (program_.Settings().trayFlag)
            program_.Display().TrayRemove();
    });
    // The manual opens in the desktop's browser, which is not ours to close.
    passOver([&] {
        if (program_.Status().IsLoaded())
            program_.Status().Close();
    });
    passOver([&] { program_.View().UnloadWindows(); });
    passOver([&] { program_.ReleaseObjects(); });
    passOver([&] {
        if (quit_)
            quit_();
    });
}

bool ProgramCommands::CloseMainWindow() {
    if (unloaded_)
        return true;
    if (!queryUnload())
        return false;
    unload();
    return true;
}

void ProgramCommands::Exit() {
    CloseMainWindow();
    program_.CancelFlag() = false;
}

bool ProgramCommands::OpenURL(const QString& address) {
    Shell* shell = program_.Platform().shell;
    bool opened = false;
    try {
        opened = shell && shell->Open(address);
    } catch (const std::exception&) {
        opened = false;
    }
    if (!opened)
        showError(QStringLiteral("Error opening URL ") + address +
                  QStringLiteral(". Your browser may not be set up to automatically open."));
    return opened;
}

void ProgramCommands::HelpContents() {
    QString contents = program_.HelpFile();
    if (contents.isEmpty())
        contents = QDir(program_.Platform().programDir).filePath(kManualContents);
    OpenURL(QUrl::fromLocalFile(contents).toString());
}

void ProgramCommands::HelpSearch() {
    OpenURL(QUrl::fromLocalFile(QDir(program_.Platform().programDir).filePath(kManualIndex)).toString());
}

QString ProgramCommands::WebAddress() const {
    QString address =
        program_.Platform().store.read(kAppTitle, kSettingsSection, kWebAddressValue, kMakerServer).trimmed();
    if (address.isEmpty())
        address = kMakerServer;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address;
}

void ProgramCommands::CheckForUpdates() { OpenURL(WebAddress() + kUpdatesPath); }

void ProgramCommands::SubmitBugReport() { OpenURL(WebAddress() + kBugReportPath); }

bool ProgramCommands::MailViewerAllowed() {
    if (program_.GetInbox().Count() > 0)
        return true;
    showError(QStringLiteral("Mailbox is empty"));
    return false;
}

} // namespace tessaly
