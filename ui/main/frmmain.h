#pragma once
// frmMain: the main window. It shows the program's state and forwards the
// user's commands; all behaviour lives in MainProgram and the subsystems.

#include "app/mainview.h"
#include "app/programcommands.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolBar;

namespace tessaly {

class FrmAbout;
class FrmIntro;
class FrmMessage;
class FrmOptions;
class FrmMail;
class FrmQuickNote;
class FrmTerminal;
class LinkFactory;
class MainProgram;

class FrmMain : public QMainWindow, public MainView {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    // MainView
    bool HasWindows() const override { return true; }
    void SetCaption(const QString& caption) override { setWindowTitle(caption); }
    void ShowWindow() override;
    void HideWindow() override { hide(); }
    bool IsMinimized() const override { return isMinimized(); }
    void SetSizeTwips(int heightTwips, int widthTwips) override;
    void MakeToolbarFlat() override;
    void ActivityChanged(const QString& text, const QString& line) override;
    void SetStatusPanel(const QString& key, const QString& text) override;
    void SetProfileMenusEnabled(bool enabled) override;
    bool ProfileMenusEnabled() const override;
    void SetDiagnostics(bool checked) override;
    void SetScheduleSwitch(bool checked) override;
    void SetPagingSwitch(bool checked) override;
    void SetScheduleMenuCheck(bool checked) override;
    void SetPagingMenuCheck(bool checked) override;
    void SetSettingsLabels(const QString& connection, const QString& email, const QString& paging) override;
    void SetCheckCommandsEnabled(bool enabled) override;
    bool IsWindowShown() const override { return isVisible(); }
    void RestoreWindow() override;
    void SetToolbarVisible(bool visible) override;
    void RepaintStatusBar() override;
    void ShowSplash(const QString& versionText) override;
    void CloseSplash() override;
    void UnloadWindows() override;
    void SetAlarm(const QString& text) override;
    void SetRecentPages(const QStringList& lines) override;

    // Named parts, for the subsystems that drive them.
    QAction* Action(const QString& objectName) const;
    QMenu* Menu(const QString& objectName) const;
    QMenu* PopupMenu() const { return mnuPopup_; }
    QToolBar* Toolbar() const { return tlbMain_; }
    FrmTerminal* TerminalWindow() const { return terminal_; }

    // Connects the window's commands to the program's logic.
    void Bind(MainProgram& program);
    // Opens the quick note window, or brings the open one to the front.
    // Its mail-sending control connects through `links` (default: TCP).
    FrmQuickNote* OpenQuickNote();
    FrmQuickNote* QuickNoteWindow() const;
    // Opens the options dialog (modal; it deletes itself when closed), or
    // brings the open one to the front.
    FrmOptions* OpenOptions();
    // Opens the immediate message window, or brings it to the front.
    FrmMessage* OpenImmediateMessage();
    // "Mail Viewer": the viewer, or none when the inbox is empty.
    FrmMail* OpenMailViewer();
    FrmMail* MailViewerWindow() const;
    FrmAbout* OpenAbout();
    // Tells in the status bar what came of "&Save" or "Save As...".
    void ReportSave(const ProgramCommands::SaveResult& result);
    // How long such a notice stays in the status bar.
    static constexpr int kNoticeMs = 5000;
    void SetLinkFactory(std::unique_ptr<LinkFactory> links);

signals:
    // A toolbar button was clicked; `key` is its key ("open", "checkmail", ...).
    void ToolbarCommand(const QString& key);
    void WindowMinimized();
    void WindowRestored();

protected:
    void changeEvent(QEvent* event) override;
    // Closing goes through the program's exit question.
    void closeEvent(QCloseEvent* event) override;

private:
    QMenu* addMenu(const QString& objectName, const QString& caption);
    QAction* addItem(QMenu* menu, const QString& objectName, const QString& caption);
    void buildMenus();
    void buildToolbar();
    void buildCentral();
    void buildStatusBar();
    void updateClock();
    void quitProgram();

    QHash<QString, QAction*> actions_;
    QHash<QString, QMenu*> menus_;
    QMenu* mnuPopup_ = nullptr;
    QToolBar* tlbMain_ = nullptr;
    QLabel* lblConnection_ = nullptr;
    QLabel* lblEmail_ = nullptr;
    QLabel* lblPaging_ = nullptr;
    QCheckBox* chkScheduleEnable_ = nullptr;
    QCheckBox* chkPageEnable_ = nullptr;
    QPlainTextEdit* txtStatus_ = nullptr;
    qsizetype activityShown_ = 0; // characters of the activity text the box shows
    QHash<QString, QLabel*> panels_;
    QTimer* clock_ = nullptr;
    FrmIntro* splash_ = nullptr;
    FrmTerminal* terminal_ = nullptr;
    MainProgram* program_ = nullptr;
    std::unique_ptr<LinkFactory> links_;
    QPointer<FrmQuickNote> quickNote_;
    QPointer<FrmOptions> options_;
    QPointer<FrmMessage> message_;
    QPointer<FrmMail> mailViewer_;
    QPointer<FrmAbout> about_;
    bool unloading_ = false;
};

} // namespace tessaly
