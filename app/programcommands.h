#pragma once
// The main window's commands that do not belong to one feature: opening and
// saving profiles, the startup-file question, help and the maker's web
// pages, the mail viewer's guard, and closing the program with its
// "Save File Before Exiting?" question and tear-down. The windows only
// forward the user's choice of command here.

#include <QString>
#include <functional>

namespace tessaly {

class MainProgram;

class ProgramCommands {
public:
    static inline const QString kProfileFilter = QStringLiteral("Tessaly Files (*.dat)|*.dat|All Files (*.*)|*.*");
    static inline const QString kSaveAsTitle = QStringLiteral("Save File As");
    static inline const QString kStartupQuestion = QStringLiteral("Do you want this to be your startup file?");
    static inline const QString kExitQuestion = QStringLiteral("Save File Before Exiting?");
    // The settings value that overrides the maker's web address.
    static inline const QString kWebAddressValue = QStringLiteral("WebAddress");
    static inline const QString kUpdatesPath = QStringLiteral("/tessaly/updates.html");
    static inline const QString kBugReportPath = QStringLiteral("/tessaly/bugreport.html");
    // The user manual, in the program directory.
    static inline const QString kManualContents = QStringLiteral("manual/index.html");
    static inline const QString kManualIndex = QStringLiteral("manual/keywords.html");

    explicit ProgramCommands(MainProgram& program);

    // "&Open": a profile chosen in the file dialog becomes the current one.
    void Open();
    // What came of a save, for the window to tell the user.
    struct SaveResult {
        enum class Outcome { Saved, Cancelled, Failed };
        Outcome outcome = Outcome::Cancelled;
        QString error; // when failed: the text the message box showed
    };
    // "&Save": in place, or under a new name when there is no current profile.
    SaveResult Save();
    // "Save As...": under a new name, then the startup-file question.
    SaveResult SaveAs();

    // Closing the main window, whichever way it is asked for. False when the
    // closing was refused (the cancel flag is then set); otherwise the
    // program is torn down and asked to end.
    bool CloseMainWindow();
    // "E&xit" and "Quit".
    void Exit();
    bool Unloaded() const { return unloaded_; }
    // What ends the program once it is torn down (default: leave every event
    // loop, without asking the remaining windows).
    void SetQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

    // Opens a web address or document through the desktop; reports failure.
    bool OpenURL(const QString& address);
    void HelpContents();
    void HelpSearch();
    void CheckForUpdates();
    void SubmitBugReport();
    // The maker's web address (no trailing "/"), from the settings when set there.
    QString WebAddress() const;

    // "Mail Viewer" / "View mail": false, after telling the user, when the
    // inbox is empty.
    bool MailViewerAllowed();

private:
    enum class SaveAsOutcome { Saved, Cancelled };
    // The save-under-a-new-name dialog and save; errors of saving reach the caller.
    SaveAsOutcome saveUnderNewName(const QString& filter, bool askStartup);
    void askStartupFile(const QString& path);
    bool queryUnload();
    void unload();
    void showError(const QString& text);

    MainProgram& program_;
    std::function<void()> quit_;
    bool unloaded_ = false;
};

} // namespace tessaly
