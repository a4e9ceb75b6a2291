#pragma once
// What the main program's logic needs from its main window. The desktop
// program implements it with frmMain; a headless run with HeadlessMainView.

#include <QString>
#include <QStringList>

namespace tessaly {

class MainView {
public:
    virtual ~MainView() = default;
    // False for a run without windows: nothing is shown and nothing waits on the screen.
    virtual bool HasWindows() const = 0;

    virtual void SetCaption(const QString& caption) = 0;
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual bool IsMinimized() const = 0;
    virtual void SetSizeTwips(int heightTwips, int widthTwips) = 0;
    virtual void MakeToolbarFlat() = 0;

    // The activity box holds `text`, caret at its end; `line` was just added.
    virtual void ActivityChanged(const QString& text, const QString& line) = 0;
    virtual void SetStatusPanel(const QString& key, const QString& text) = 0;
    // mnuEdit, mnuPaging and mnuSettings together.
    virtual void SetProfileMenusEnabled(bool enabled) = 0;
    virtual bool ProfileMenusEnabled() const = 0;
    // "Show Terminal Window" check mark and the terminal window.
    virtual void SetDiagnostics(bool checked) = 0;
    // The "Run Schedule" and "Activate Paging" check boxes show this state
    // (setting them here never runs their click behaviour).
    virtual void SetScheduleSwitch(bool checked) = 0;
    virtual void SetPagingSwitch(bool checked) = 0;
    // The check marks of the tray menu's "Enable Schedule" and "Enable Paging".
    virtual void SetScheduleMenuCheck(bool checked) = 0;
    virtual void SetPagingMenuCheck(bool checked) = 0;
    // The three "Current Settings" labels.
    virtual void SetSettingsLabels(const QString& connection, const QString& email, const QString& paging) = 0;
    // The mail-check commands (menu, tray menu, toolbar) can be used.
    virtual void SetCheckCommandsEnabled(bool enabled) = 0;

    virtual bool IsWindowShown() const = 0;
    // Back to a normal, shown window (from minimised or hidden in the tray).
    virtual void RestoreWindow() = 0;
    virtual void SetToolbarVisible(bool visible) = 0;
    virtual void RepaintStatusBar() = 0;

    virtual void ShowSplash(const QString& versionText) = 0;
    virtual void CloseSplash() = 0;

    // The alarm that a page could not be delivered, with the way to
    // acknowledge it; empty: none.
    virtual void SetAlarm(const QString& text) { (void)text; }
    // The last pages delivered, newest last, with their delays.
    virtual void SetRecentPages(const QStringList& lines) { (void)lines; }
    // The program is ending: close the other windows and the main window
    // without asking again.
    virtual void UnloadWindows() {}
};

} // namespace tessaly
