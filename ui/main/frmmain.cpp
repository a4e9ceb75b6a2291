#include "ui/main/frmmain.h"

#include "state/appinfo.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmintro.h"
#include "ui/mail/frmmail.h"
#include "app/programcommands.h"
#include "app/maincycle.h"
#include "app/mainprogram.h"
#include "app/statusdisplay.h"
#include "ui/options/frmoptions.h"
#include "ui/paging/frmmessage.h"
#include "ui/paging/frmquicknote.h"
#include "ui/paging/frmterminal.h"
#include "platform/bytelink.h"
#include "platform/smtpcontrol.h"
#include "ui/platform/icons.h"
#include "ui/resize/twips.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QKeySequence>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace tessaly {

FrmMain::FrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowCaption);
    setWindowIcon(windowIcon());
    buildMenus();
    buildToolbar();
    buildCentral();
    buildStatusBar();
    terminal_ = new FrmTerminal(this);
}

FrmMain::~FrmMain() { delete splash_; }

QMenu* FrmMain::addMenu(const QString& objectName, const QString& caption) {
    QMenu* menu = menuBar()->addMenu(caption);
    menu->setObjectName(objectName);
    menu->menuAction()->setObjectName(objectName);
    menus_.insert(objectName, menu);
    return menu;
}

QAction* FrmMain::addItem(QMenu* menu, const QString& objectName, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(objectName);
    actions_.insert(objectName, action);
    return action;
}

void FrmMain::buildMenus() {
    QMenu* file = addMenu(QStringLiteral("mnuFile"), QStringLiteral("&File"));
    addItem(file, QStringLiteral("mnuOpen"), QStringLiteral("&Open"))->setShortcut(QKeySequence::Open);
    addItem(file, QStringLiteral("mnuSave"), QStringLiteral("&Save"))->setShortcut(QKeySequence::Save);
    addItem(file, QStringLiteral("mnuSaveAs"), QStringLiteral("Save As..."));
    file->addSeparator();
    // The desktop's key for quitting, Ctrl+Q where it names none.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys = {QKeySequence(Qt::CTRL | Qt::Key_Q)};
    addItem(file, QStringLiteral("mnuExit"), QStringLiteral("E&xit"))->setShortcuts(quitKeys);

    QMenu* edit = addMenu(QStringLiteral("mnuEdit"), QStringLiteral("&Edit"));
    edit->menuAction()->setVisible(false);

    QMenu* paging = addMenu(QStringLiteral("mnuPaging"), QStringLiteral("&Paging"));
    addItem(paging, QStringLiteral("mnuSend"), QStringLiteral("&Send Immediate Message"));
    addItem(paging, QStringLiteral("mnuAcknowledgeAlarm"), QStringLiteral("&Acknowledge Alarm"))->setEnabled(false);

    QMenu* mail = addMenu(QStringLiteral("mnuMail"), QStringLiteral("&Mail"));
    addItem(mail, QStringLiteral("mnuCheckMail"), QStringLiteral("Check Mail Now"));
    addItem(mail, QStringLiteral("mnuMailViewer"), QStringLiteral("Mail Viewer"));
    addItem(mail, QStringLiteral("mnuQuickNote"), QStringLiteral("Quick Note"));

    QMenu* settings = addMenu(QStringLiteral("mnuSettings"), QStringLiteral("&Settings"));
    addItem(settings, QStringLiteral("mnuOptions"), QStringLiteral("&Options"));

    QMenu* help = addMenu(QStringLiteral("mnuHelp"), QStringLiteral("&Help"));
    addItem(help, QStringLiteral("mnuHelpContents"), QStringLiteral("&Contents"));
    addItem(help, QStringLiteral("mnuHelpSearch"), QStringLiteral("&Search for help on..."));
    help->addSeparator();
    addItem(help, QStringLiteral("mnuAbout"), QStringLiteral("About Tessaly"));
    addItem(help, QStringLiteral("mnuCheckUpdates"), QStringLiteral("Check for Updates"));
    addItem(help, QStringLiteral("mnuBug"), QStringLiteral("Submit a Bug Report"));
    help->addSeparator();
    QAction* diag = addItem(help, QStringLiteral("mnuDiagnostics"), QStringLiteral("Show Terminal Window"));
    diag->setCheckable(true);

    // The tray pop-up menu is not part of the menu bar.
    mnuPopup_ = new QMenu(this);
    mnuPopup_->setObjectName(QStringLiteral("mnuPopup"));
    menus_.insert(QStringLiteral("mnuPopup"), mnuPopup_);
    addItem(mnuPopup_, QStringLiteral("mnuCheckMailNow"), QStringLiteral("Check for mail"));
    addItem(mnuPopup_, QStringLiteral("mnuviewMail"), QStringLiteral("View mail"));
    addItem(mnuPopup_, QStringLiteral("mnuQuickNotePopUp"), QStringLiteral("Quick Note"));
    mnuPopup_->addSeparator();
    addItem(mnuPopup_, QStringLiteral("mnuEnableSchedule"), QStringLiteral("Enable Schedule"))->setCheckable(true);
    addItem(mnuPopup_, QStringLiteral("mnuEnablePaging"), QStringLiteral("Enable Paging"))->setCheckable(true);
    mnuPopup_->addSeparator();
    addItem(mnuPopup_, QStringLiteral("mnuOptionsPopup"), QStringLiteral("Options"));
    addItem(mnuPopup_, QStringLiteral("mnuAcknowledgeAlarmPopup"), QStringLiteral("Acknowledge Alarm"))
        ->setEnabled(false);
    mnuPopup_->addSeparator();
    addItem(mnuPopup_, QStringLiteral("mnuQuitPopup"), QStringLiteral("Quit"));
    for (const char* name : {"mnuExit", "mnuQuitPopup"})
        connect(actions_.value(QString::fromLatin1(name)), &QAction::triggered, this, &FrmMain::quitProgram);

    // The commands are enabled when the window is bound to the program.
    for (const char* name :
         {"mnuOpen", "mnuSave", "mnuSaveAs", "mnuSend", "mnuCheckMail", "mnuMailViewer", "mnuQuickNote", "mnuOptions",
          "mnuHelpContents", "mnuHelpSearch", "mnuAbout", "mnuCheckUpdates", "mnuBug", "mnuCheckMailNow", "mnuviewMail",
          "mnuQuickNotePopUp", "mnuEnableSchedule", "mnuEnablePaging", "mnuOptionsPopup"})
        actions_.value(QString::fromLatin1(name))->setEnabled(false);
}

void FrmMain::buildToolbar() {
    tlbMain_ = addToolBar(QStringLiteral("Main"));
    tlbMain_->setObjectName(QStringLiteral("tlbMain"));
    tlbMain_->setMovable(false);
    struct Button {
        const char* key;
        const char* tip;
        QStyle::StandardPixmap icon;
    };
    const Button buttons[] = {
        {"open", "Open An Existing File", QStyle::SP_DialogOpenButton},
        {"save", "Save File", QStyle::SP_DialogSaveButton},
        {"checkmail", "Check for Email", QStyle::SP_BrowserReload},
        {"mail", "View Email", QStyle::SP_FileDialogContentsView},
        {"quicknote", "Send a QuickNote", QStyle::SP_FileDialogNewFolder},
        {"page", "Send A Page", QStyle::SP_MessageBoxInformation},
        {"options", "Tessaly Options", QStyle::SP_FileDialogDetailedView},
        {"help", "Online Help", QStyle::SP_DialogHelpButton},
    };
    for (const Button& b : buttons) {
        const QString key = QString::fromLatin1(b.key);
        QAction* action = tlbMain_->addAction(style()->standardIcon(b.icon), QString::fromLatin1(b.tip));
        action->setObjectName(QStringLiteral("tlb_") + key);
        action->setData(key);
        action->setToolTip(QString::fromLatin1(b.tip));
        action->setEnabled(false);
        connect(action, &QAction::triggered, this, [this, key] { emit ToolbarCommand(key); });
    }
}

void FrmMain::buildCentral() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* frame = new QGroupBox(QStringLiteral("Current Settings"), central);
    frame->setObjectName(QStringLiteral("fraSettings"));
    auto* grid = new QGridLayout(frame);
    auto pair = [&](int row, const char* caption, const char* name) {
        grid->addWidget(new QLabel(QString::fromLatin1(caption), frame), row, 0);
        auto* value = new QLabel(frame);
        value->setObjectName(QString::fromLatin1(name));
        grid->addWidget(value, row, 1);
        return value;
    };
    lblConnection_ = pair(0, "Connection:", "lblConnection");
    lblEmail_ = pair(1, "Email:", "lblEmail");
    lblPaging_ = pair(2, "Paging:", "lblPaging");
    grid->setColumnStretch(1, 1);

    auto* switches = new QVBoxLayout;
    chkScheduleEnable_ = new QCheckBox(QStringLiteral("Run Schedule"), central);
    chkScheduleEnable_->setObjectName(QStringLiteral("chkScheduleEnable"));
    chkPageEnable_ = new QCheckBox(QStringLiteral("Activate Paging"), central);
    chkPageEnable_->setObjectName(QStringLiteral("chkPageEnable"));
    switches->addWidget(chkScheduleEnable_);
    switches->addWidget(chkPageEnable_);
    switches->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(frame, 1);
    top->addLayout(switches);
    layout->addLayout(top);

    auto* activityLabel = new QLabel(QStringLiteral("Tessaly Activity:"), central);
    activityLabel->setObjectName(QStringLiteral("lblActivity"));
    layout->addWidget(activityLabel);
    txtStatus_ = new QPlainTextEdit(central);
    txtStatus_->setObjectName(QStringLiteral("txtStatus"));
    txtStatus_->setReadOnly(true);
    layout->addWidget(txtStatus_, 1);
    setCentralWidget(central);
}

void FrmMain::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("stbMain"));
    for (const char* key : {"messages", "alarm", "pages", "date", "time"}) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString::fromLatin1(key));
        if (QLatin1String(key) == QLatin1String("alarm")) {
            panel->setStyleSheet(QStringLiteral("QLabel { color: white; background: #b00000; padding: 0 4px; }"));
            panel->hide();
        }
        if (QLatin1String(key) == QLatin1String("messages"))
            bar->addWidget(panel, 1);
        else
            bar->addPermanentWidget(panel);
        panels_.insert(QString::fromLatin1(key), panel);
    }
    clock_ = new QTimer(this);
    clock_->setSingleShot(true);
    connect(clock_, &QTimer::timeout, this, &FrmMain::updateClock);
    updateClock();
}

// The date and time panels change once a minute; the timer wakes at the next
// minute boundary rather than polling.
void FrmMain::updateClock() {
    const QDateTime now = QDateTime::currentDateTime();
    panels_.value(QStringLiteral("date"))->setText(now.date().toString(QStringLiteral("M/d/yyyy")));
    panels_.value(QStringLiteral("time"))->setText(now.time().toString(QStringLiteral("h:mm AP")));
    clock_->start(60000 - now.time().second() * 1000 - now.time().msec() + 50);
}

// The window may be hidden in the tray, so closing it alone would not end
// the program: the program's exit ends it.
void FrmMain::quitProgram() {
    if (program_) {
        program_->Commands().Exit();
        return;
    }
    close();
    QCoreApplication::quit();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (program_ && !unloading_ && !program_->Commands().CloseMainWindow()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void FrmMain::UnloadWindows() {
    unloading_ = true;
    if (mailViewer_)
        mailViewer_->close();
    if (quickNote_)
        quickNote_->close();
    if (about_)
        about_->close();
    terminal_->close();
    close();
}

void FrmMain::ShowWindow() {
    show();
    update();
}

void FrmMain::SetSizeTwips(int heightTwips, int widthTwips) {
    resize(twipsToPixelsX(widthTwips), twipsToPixelsY(heightTwips));
}

// Qt draws toolbar buttons flat already; the style is set explicitly so a
// platform theme cannot raise them.
void FrmMain::MakeToolbarFlat() {
    tlbMain_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px; }"
                                           "QToolButton:hover { border: 1px solid palette(mid); }"));
    tlbMain_->update();
}

void FrmMain::ActivityChanged(const QString& text, const QString& line) {
    // Usually one line is added at the end; only after the oldest text was
    // dropped is the whole box set again. The box shows LF line ends.
    QString shownLine = line;
    if (shownLine.endsWith(QLatin1String("\r\n")))
        shownLine.chop(2);
    if (text.size() == activityShown_ + line.size()) {
        txtStatus_->appendPlainText(shownLine);
    } else {
        QString shown = text;
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (shown.endsWith(QLatin1Char('\n')))
            shown.chop(1);
        txtStatus_->setPlainText(shown);
    }
    activityShown_ = text.size();
    txtStatus_->moveCursor(QTextCursor::End);
    txtStatus_->verticalScrollBar()->setValue(txtStatus_->verticalScrollBar()->maximum());
}

void FrmMain::SetStatusPanel(const QString& key, const QString& text) {
    if (QLabel* panel = panels_.value(key))
        panel->setText(text);
}

void FrmMain::SetAlarm(const QString& text) {
    QLabel* panel = panels_.value(QStringLiteral("alarm"));
    panel->setText(text.isEmpty() ? QString() : QStringLiteral("ALARM: ") + text.left(80));
    panel->setToolTip(text);
    panel->setVisible(!text.isEmpty());
    for (const char* name : {"mnuAcknowledgeAlarm", "mnuAcknowledgeAlarmPopup"})
        actions_.value(QString::fromLatin1(name))->setEnabled(!text.isEmpty() && program_);
}

void FrmMain::SetRecentPages(const QStringList& lines) {
    QLabel* panel = panels_.value(QStringLiteral("pages"));
    panel->setText(lines.isEmpty() ? QString() : QStringLiteral("Last page: ") + lines.last());
    panel->setToolTip(lines.join(QLatin1Char('\n')));
}

void FrmMain::SetProfileMenusEnabled(bool enabled) {
    for (const char* name : {"mnuEdit", "mnuPaging", "mnuSettings"})
        menus_.value(QString::fromLatin1(name))->menuAction()->setEnabled(enabled);
}

bool FrmMain::ProfileMenusEnabled() const {
    return menus_.value(QStringLiteral("mnuSettings"))->menuAction()->isEnabled();
}

void FrmMain::SetDiagnostics(bool checked) {
    actions_.value(QStringLiteral("mnuDiagnostics"))->setChecked(checked);
    terminal_->setVisible(checked);
}

// setChecked() does not emit clicked(), so a state set by the program never
// comes back as a user's click.
void FrmMain::SetScheduleSwitch(bool checked) { chkScheduleEnable_->setChecked(checked); }
void FrmMain::SetPagingSwitch(bool checked) { chkPageEnable_->setChecked(checked); }

void FrmMain::SetScheduleMenuCheck(bool checked) {
    actions_.value(QStringLiteral("mnuEnableSchedule"))->setChecked(checked);
}

void FrmMain::SetPagingMenuCheck(bool checked) {
    actions_.value(QStringLiteral("mnuEnablePaging"))->setChecked(checked);
}

void FrmMain::SetSettingsLabels(const QString& connection, const QString& email, const QString& paging) {
    lblConnection_->setText(connection);
    lblEmail_->setText(email);
    lblPaging_->setText(paging);
}

void FrmMain::SetCheckCommandsEnabled(bool enabled) {
    for (const char* name : {"mnuCheckMail", "mnuCheckMailNow"})
        actions_.value(QString::fromLatin1(name))->setEnabled(enabled);
    for (QAction* a : tlbMain_->actions())
        if (a->data().toString() == QLatin1String("checkmail"))
            a->setEnabled(enabled);
}

// Back from the tray or the taskbar, or only to the front when the window
// is open behind others (a maximised window stays maximised).
void FrmMain::RestoreWindow() {
    if (isMinimized() || !isVisible())
        showNormal();
    raise();
    activateWindow();
}

void FrmMain::ReportSave(const ProgramCommands::SaveResult& result) {
    using Outcome = ProgramCommands::SaveResult::Outcome;
    switch (result.outcome) {
    case Outcome::Saved: statusBar()->showMessage(QStringLiteral("Profile saved"), kNoticeMs); break;
    case Outcome::Failed:
        statusBar()->showMessage(QStringLiteral("Profile not saved: ") + result.error, kNoticeMs);
        break;
    case Outcome::Cancelled: break;
    }
}

void FrmMain::SetToolbarVisible(bool visible) { tlbMain_->setVisible(visible); }

void FrmMain::RepaintStatusBar() { statusBar()->repaint(); }

void FrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const auto* e = static_cast<QWindowStateChangeEvent*>(event);
        if (isMinimized())
            emit WindowMinimized();
        else if (e->oldState() & Qt::WindowMinimized)
            emit WindowRestored();
    }
    QMainWindow::changeEvent(event);
}

void FrmMain::Bind(MainProgram& program) {
    program.GetTerminal().Attach(terminal_);
    QAction* diagnostics = actions_.value(QStringLiteral("mnuDiagnostics"));
    connect(diagnostics, &QAction::triggered, this, [this](bool on) { SetDiagnostics(on); });
    connect(terminal_, &FrmTerminal::Closed, this, [diagnostics] { diagnostics->setChecked(false); });
    MainCycle& cycle = program.Cycle();
    StatusDisplay& display = program.Display();
    connect(chkScheduleEnable_, &QCheckBox::clicked, this, [&cycle](bool on) { cycle.ScheduleCheckBoxClicked(on); });
    connect(chkPageEnable_, &QCheckBox::clicked, this, [&cycle](bool on) { cycle.PagingCheckBoxClicked(on); });
    QAction* enableSchedule = actions_.value(QStringLiteral("mnuEnableSchedule"));
    QAction* enablePaging = actions_.value(QStringLiteral("mnuEnablePaging"));
    enableSchedule->setEnabled(true);
    enablePaging->setEnabled(true);
    connect(enableSchedule, &QAction::triggered, this, [&cycle] { cycle.EnableScheduleChosen(); });
    connect(enablePaging, &QAction::triggered, this, [&cycle] { cycle.EnablePagingChosen(); });
    connect(actions_.value(QStringLiteral("mnuCheckMail")), &QAction::triggered, this,
            [&cycle] { cycle.CheckMailNow(); });
    connect(actions_.value(QStringLiteral("mnuCheckMailNow")), &QAction::triggered, this,
            [&cycle] { cycle.TrayCheckMail(); });
    program_ = &program;
    ProgramCommands& commands = program.Commands();
    connect(this, &FrmMain::ToolbarCommand, this, [this, &cycle, &commands](const QString& key) {
        if (key == QLatin1String("checkmail"))
            cycle.ToolbarCheckMail();
        else if (key == QLatin1String("quicknote"))
            OpenQuickNote();
        else if (key == QLatin1String("options"))
            OpenOptions();
        else if (key == QLatin1String("page"))
            OpenImmediateMessage();
        else if (key == QLatin1String("open"))
            commands.Open();
        else if (key == QLatin1String("save"))
            ReportSave(commands.Save());
        else if (key == QLatin1String("mail"))
            OpenMailViewer();
        else if (key == QLatin1String("help"))
            commands.HelpContents();
    });
    // The sending of pages by hand and the options dialog come with their windows.
    for (const char* key : {"open", "save", "mail", "help"})
        tlbMain_->findChild<QAction*>(QStringLiteral("tlb_") + QLatin1String(key))->setEnabled(true);
    const std::pair<const char*, std::function<void()>> commandItems[] = {
        {"mnuOpen", [&commands] { commands.Open(); }},
        {"mnuSave", [this, &commands] { ReportSave(commands.Save()); }},
        {"mnuSaveAs", [this, &commands] { ReportSave(commands.SaveAs()); }},
        {"mnuHelpContents", [&commands] { commands.HelpContents(); }},
        {"mnuHelpSearch", [&commands] { commands.HelpSearch(); }},
        {"mnuAbout", [this] { OpenAbout(); }},
        {"mnuCheckUpdates", [&commands] { commands.CheckForUpdates(); }},
        {"mnuBug", [&commands] { commands.SubmitBugReport(); }},
        {"mnuMailViewer", [this] { OpenMailViewer(); }},
        {"mnuviewMail", [this] { OpenMailViewer(); }},
    };
    for (const auto& [name, run] : commandItems) {
        QAction* a = actions_.value(QString::fromLatin1(name));
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, run);
    }
    // From now on the program ends through its exit, not when its last
    // window closes (the main window may be hidden in the tray).
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);
    // The toolbar button arrives through ToolbarCommand above.
    for (const char* name : {"mnuQuickNote", "mnuQuickNotePopUp"}) {
        QAction* a = actions_.value(QString::fromLatin1(name));
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, [this] { OpenQuickNote(); });
    }
    for (const char* name : {"mnuOptions", "mnuOptionsPopup"}) {
        QAction* a = actions_.value(QString::fromLatin1(name));
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, [this] { OpenOptions(); });
    }
    for (const char* name : {"mnuAcknowledgeAlarm", "mnuAcknowledgeAlarmPopup"}) {
        QAction* a = actions_.value(QString::fromLatin1(name));
        a->setEnabled(program.Alarm().Set());
        connect(a, &QAction::triggered, this, [&program] { program.AcknowledgeUndeliverable(); });
    }
    QAction* send = actions_.value(QStringLiteral("mnuSend"));
    send->setEnabled(true);
    connect(send, &QAction::triggered, this, [this] { OpenImmediateMessage(); });
    for (const char* name : {"tlb_quicknote", "tlb_options", "tlb_page"})
        if (QAction* button = tlbMain_->findChild<QAction*>(QString::fromLatin1(name)))
            button->setEnabled(true);
    connect(this, &FrmMain::WindowMinimized, this, [&display] { display.WindowMinimized(); });
    connect(this, &FrmMain::WindowRestored, this, [&display] { display.WindowRestored(); });
}

void FrmMain::ShowSplash(const QString& versionText) {
    delete splash_;
    splash_ = new FrmIntro(versionText);
    splash_->show();
    splash_->repaint();
}

void FrmMain::CloseSplash() {
    if (splash_) {
        splash_->close();
        splash_->deleteLater();
        splash_ = nullptr;
    }
}

void FrmMain::SetLinkFactory(std::unique_ptr<LinkFactory> links) { links_ = std::move(links); }

FrmQuickNote* FrmMain::QuickNoteWindow() const { return quickNote_; }

FrmQuickNote* FrmMain::OpenQuickNote() {
    if (!program_)
        return nullptr;
    if (!quickNote_) {
        if (!links_)
            links_ = std::make_unique<TcpLinkFactory>();
        // The note has its own control, so it never disturbs a page being sent.
        quickNote_ = new FrmQuickNote(program_->QuickNoteServices(),
                                      std::make_unique<SmtpClient>(program_->Platform().pump, *links_), this);
    }
    quickNote_->show();
    quickNote_->raise();
    quickNote_->activateWindow();
    return quickNote_;
}

FrmOptions* FrmMain::OpenOptions() {
    if (!program_)
        return nullptr;
    if (!options_) {
        options_ = new FrmOptions(program_->OptionsServices(), program_->ManualPageServices(),
                                  program_->ModemServices(), this);
        options_->setAttribute(Qt::WA_DeleteOnClose);
        options_->open();
    }
    options_->raise();
    options_->activateWindow();
    return options_;
}

FrmMessage* FrmMain::OpenImmediateMessage() {
    if (!program_)
        return nullptr;
    if (!message_) {
        message_ = new FrmMessage(program_->ManualPageServices(), this);
        message_->setAttribute(Qt::WA_DeleteOnClose);
    }
    message_->show();
    message_->raise();
    message_->activateWindow();
    return message_;
}

FrmMail* FrmMain::MailViewerWindow() const { return mailViewer_; }

FrmMail* FrmMain::OpenMailViewer() {
    if (!program_ || !program_->Commands().MailViewerAllowed())
        return nullptr;
    if (!mailViewer_) {
        mailViewer_ = new FrmMail(program_->MailViewerServices(), this);
        mailViewer_->SetReplyHandler([this](const MailViewer::Reply& reply) {
            FrmQuickNote* note = OpenQuickNote();
            if (!note)
                return;
            note->txtTo()->setText(reply.to);
            note->txtSubject()->setText(reply.subject);
            note->txtFrom()->setText(reply.from);
        });
    }
    mailViewer_->show();
    mailViewer_->raise();
    mailViewer_->activateWindow();
    return mailViewer_;
}

FrmAbout* FrmMain::OpenAbout() {
    if (!program_)
        return nullptr;
    if (!about_) {
        ProgramCommands& commands = program_->Commands();
        about_ = new FrmAbout(
            commands.WebAddress(), [&commands](const QString& url) { commands.OpenURL(url); }, this);
    }
    about_->show();
    about_->raise();
    return about_;
}

QAction* FrmMain::Action(const QString& objectName) const { return actions_.value(objectName); }
QMenu* FrmMain::Menu(const QString& objectName) const { return menus_.value(objectName); }

} // namespace tessaly
