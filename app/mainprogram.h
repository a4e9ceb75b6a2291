#pragma once
// The main program: owns the live settings, the long-lived objects and the
// activity log, runs the start-up sequence and reports activity. It knows its
// window only through MainView, so it runs the same headless and under test.

#include "state/appstate.h"
#include "app/checkrecord.h"
#include "features/connection/connection.h"
#include "features/mail/mailcontext.h"
#include "features/mail/mailviewer.h"
#include "features/paging/quicknote.h"
#include "features/filters/cfilter.h"
#include "features/mail/cmail.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/carrierpage.h"
#include "state/terminal.h"
#include "features/mail/cpopaccount.h"
#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/smtpevents.h"
#include "features/remote/countdown.h"
#include "features/paging/manualpage.h"
#include "features/paging/pageledger.h"
#include "features/paging/escalation.h"
#include "features/signin/tokensource.h"
#include "platform/secretstore.h"
#include "features/paging/proofoflife.h"
#include "features/options/modemsettings.h"
#include "features/options/options.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

namespace tessaly {

class CLogFile;
class EventPump;
class MainView;
class Prompter;
class SettingsStore;
class SoundDevice;
class Timer;
class TrayIcon;
class SerialControl;
class TcpTerminalLink;
class DialupControl;
class PopControl;
class TcpControl;
class SmtpControl;
class MainCycle;
class StatusDisplay;
class StatusWindow;
class Comm;
class Connection;
class CheckSession;
struct CheckOutcome;
class RemoteCommands;
class SessionControl;
class LinkFactory;
class ImapWatch;
class ProgramCommands;
class Shell;
class VersionCheck;

struct PlatformServices {
    EventPump& pump;
    Prompter& prompter;
    SettingsStore& store;
    SoundDevice& sound;
    QString programDir;
    QSize screenTwips;        // screen size for default window positions
    TrayIcon* tray = nullptr; // none: no tray icon service
    // The controls of the main window; none where a run has no such device.
    SerialControl* serial = nullptr;
    DialupControl* dialup = nullptr;
    PopControl* pop = nullptr;
    TcpControl* tcp = nullptr;
    SmtpControl* smtp = nullptr;
    // The sockets of the version check's web requests; none: no version check.
    LinkFactory* links = nullptr;
    // Opens web addresses and documents, starts programs; none: nothing opens.
    Shell* shell = nullptr;
    // Remote commands: powering off or restarting the computer, and the
    // countdown's view (standard output when none).
    SessionControl* session = nullptr;
    CountdownViewFactory countdownView = {};
    // Posts WCTP operations to a service's endpoint; none: the program's own
    // poster over HTTP(S), set up from the service and the settings file.
    CarrierPaging::PosterFactory wctpPosters = {};
};

class MainProgram : public QObject, public ActivityLog {
    Q_OBJECT
public:
    MainProgram(PlatformServices services, MainView& view);
    ~MainProgram() override;

    // The start-up sequence. `commandLine` is the whole command line given
    // to the program (without options); empty when there was none.
    void Startup(const QString& commandLine);
    // A one-shot run adds its lines to the activity log instead of starting
    // a new one (set before Startup).
    void SetContinueLog(bool on) { continueLog_ = on; }
    // False for a run that makes one check and exits: its check record
    // names no next scheduled check.
    void SetResident(bool on) { resident_ = on; }
    // A dry run (set before Startup): checks read the mailboxes, filter and
    // compose the pages as always, but `dryRunSink` gets each message's
    // verdict and each page with its blocks instead of the page going out;
    // nothing is written (activity log, state, ledger, check record) and no
    // remote command runs.
    void SetDryRun(std::function<void(const QString&)> dryRunSink) { dryRunSink_ = std::move(dryRunSink); }
    bool DryRun() const { return static_cast<bool>(dryRunSink_); }
    // Told after each check (or check that could not run) with what was
    // recorded of it in LastCheckPath().
    void SetCheckRecordSink(std::function<void(const CheckRecord&)> sink) { checkRecordSink_ = std::move(sink); }

    // Appends the text with date and time to the activity box and writes it
    // to the activity log.
    void LogActivity(const QString& text) override;

    // Reads a profile into the settings and lists; reports problems itself.
    void LoadProfile(const QString& path);
    // Writes the current profile; errors reach the caller.
    void SaveProfile(const QString& path);
    // Refreshes the "Current Settings" labels and the two switches.
    void UpdateSettings();
    // Ends the program the way "Exit" does, with its question about unsaved
    // changes (a remote "quit", "shutdown" or "reboot" comes here); during a
    // mail check, once the check has finished and its state is saved. A test
    // may put its own action in place.
    void Quit();
    void SetQuitAction(std::function<void()> action) { quitAction_ = std::move(action); }

    PagerList& Pagers() { return pagers_; }
    const PagerList& Pagers() const { return pagers_; }
    ServiceList& Services() { return services_; }
    const ServiceList& Services() const { return services_; }
    Filters& GetFilters() { return filters_; }
    Inbox& GetInbox() { return inbox_; }
    CheckSession& Session() { return *session_; }
    // The version check (g_Novaprobe's owner); none before start-up or in a
    // run without network links.
    VersionCheck* Versions() { return versionCheck_.get(); }
    POPAccountList& POPAccounts() { return popAccounts_; }
    const POPAccountList& POPAccounts() const { return popAccounts_; }

    // Whether the dial-up component can be used. The program asks the
    // system (NetworkManager's nmcli on the PATH); tests set their answer.
    bool DialUpAvailable() const { return dialUpAvailable_ ? dialUpAvailable_() : false; }
    void SetDialUpAvailable(std::function<bool()> check) { dialUpAvailable_ = std::move(check); }

    // The state the features share.
    AppState& State() { return state_; }
    LiveSettings& Settings() { return state_.settings; }
    const LiveSettings& Settings() const { return state_.settings; }
    const PlatformServices& Platform() const { return platform_; }
    MainView& View() { return view_; }

    QString CurrentProfileName() const { return currentProfile_; }
    void SetCurrentProfileName(const QString& path) { currentProfile_ = path; }
    bool ProfileChanged() const { return state_.profileChanged; }
    void SetProfileChanged(bool changed) { state_.profileChanged = changed; }
    bool& CancelFlag() { return state_.cancel; }
    // Set when the dial-up component turned out to be missing during the run.
    bool DialUpMissing() const { return state_.dialUpMissing; }
    // True when the last profile load ended in an error (missing or unreadable file).
    bool ProfileLoadFailed() const { return profileLoadFailed_; }
    void SetProfileLoadFailed(bool failed) { profileLoadFailed_ = failed; }

    CLogFile* Log() override { return log_.get(); }
    QString ActivityText() const { return activity_; }
    QString HelpFile() const { return helpFile_; }
    MainCycle& Cycle() { return *cycle_; }
    Terminal& GetTerminal() { return state_.terminal; }
    StatusDisplay& Display() { return *display_; }
    StatusWindow& Status() { return *status_; }
    Timer& MinuteTimer() { return *tmrMinute_; }
    Timer& BlinkTimer() { return *tmrBlink_; }

    // The internet connection (direct or dial-up) used by checks and e-mail pages.
    Connection& GetConnection() { return *connection_; }
    // The page queue; SendQueue() sends and empties it.
    MessageQueue& Queue() { return queue_; }
    // Sends every queued page with the main window's controls and empties the
    // queue. E-mail pages without a sender go out from pager 1's address. A
    // page naming an unknown service raises the keyed list's error.
    // `outcome` hears whether each page was delivered; `told` every activity
    // line the sending writes.
    void SendQueue(const MessageQueue::PageOutcome& outcome = {}, const MessageQueue::PageStart& starting = {},
                   const std::function<void(const QString&)>& told = {});
    // The fallback chain, the failure notice's address and the daily test
    // page's time, as the settings file held them at the profile's load.
    EscalationSettings& Escalation() { return escalation_; }
    const EscalationSettings& Escalation() const { return escalation_; }
    // The alarm that a page could not be delivered on any pager; it stays
    // (across restarts) until acknowledged.
    UndeliverableAlarm Alarm() const;
    void AcknowledgeUndeliverable();
    // OAuth 2.0 sign-ins of the mail accounts and the outgoing server; none
    // in a run without sockets.
    TokenSource* Tokens() { return tokens_.get(); }
    // Where tokens and client secrets are kept, opened when first needed.
    SecretStore& Secrets();
    // How the user signs `who` in from the command line:
    // "tessly --sign-in account.2", "tessly --sign-in smtp".
    QString SignInCommand(const SignInTarget& who) const;
    // The mail accounts (and the outgoing server) that must sign in again:
    // "account Work", "the outgoing server".
    QStringList SignInsNeeded() const;
    // Shows the alarm and the sign-ins needed in the status bar and the tray.
    void ShowNotices();
    // Pages no pager of the chain delivered: the failure notice, the alarm.
    void PagesUndeliverable(const QList<UndeliveredPage>& pages);
    // The daily test page through every pager of the chain, one each,
    // marked as a test and recorded in the ledger; true when all arrived.
    bool SendProofOfLife();
    ProofOfLife& DailyTest() { return *proofOfLife_; }
    // How a mail check run by RunCheck ended.
    // CannotRecord: the page ledger could not be written, so nothing was checked.
    enum class CheckRun { Done, LockBusy, StateNotSaved, CannotRecord };
    // One mail check under the check lock that the resident program and
    // one-shot checks share. The marks of the inbox state file are folded
    // into the inbox before the check and the inbox's marks written back
    // after it, so no run pages what another run (or an earlier start of
    // the program) paged. When another check holds the lock this waits at
    // most CheckLockWait() seconds, then skips the check with a log line.
    CheckRun RunCheck(bool download, bool page);
    QString PageLedgerPath() const { return ledger_.Path(); }
    QString LastCheckPath() const;
    // A file of the program directory.
    QString ProgramFile(const QString& name) const;
    // The exit status `tessly --check` gives for a check that ended so.
    static int CheckExitStatus(CheckRun run, const CheckOutcome& outcome);
    // Folds in the state file and writes it back (at exit: keeps what the
    // viewer marked as read since the last check). False when not written.
    bool RememberInbox();
    QString InboxStatePath() const;
    QString CheckLockPath() const;
    double CheckLockWait() const { return kCheckLockWait; }
    static constexpr double kCheckLockWait = 120;
    static constexpr double kExitLockWait = 10;

    // Set when a socket error was reported during the mail check.
    bool InternetError() const { return state_.internetError; }
    // Where a mail-sending control's events go: terminal, activity, internet error.
    SmtpEventSinks SmtpSinks();
    // What a quick note window's logic works with.
    QuickNoteContext QuickNoteServices();
    // What the options dialog, the modem window and the pages sent by hand work with.
    OptionsContext OptionsServices();
    ModemContext ModemServices();
    ManualPageContext ManualPageServices();
    // What the mail viewer's logic works with.
    MailViewerContext MailViewerServices();
    // Open, save, help, web pages and closing the program.
    ProgramCommands& Commands() { return *commands_; }
    // The last step of closing: writes the inbox state, empties the lists
    // and closes the activity log. Nothing is written after it.
    void ReleaseObjects();

    // The activity box keeps at most this many characters before a new line
    // drops the oldest `kActivityTrim`.
    static constexpr int kActivityLimit = 16384;
    static constexpr int kActivityTrim = 4096;

private:
    void guardedStep(const std::function<void()>& step);
    void applyStartupRegistry();
    void applyPopDeadlines();
    void mergeInboxState();
    bool saveInboxState();

    PlatformServices platform_;
    MainView& view_;
    AppState state_;
    PagerList pagers_;
    ServiceList services_;
    POPAccountList popAccounts_;
    // Class defaults used to seed empty pager and service lists at start-up.
    std::unique_ptr<CPager> sparePager_;
    std::unique_ptr<CPagerService> spareService_;
    std::function<bool()> dialUpAvailable_;
    std::unique_ptr<CLogFile> log_;
    std::unique_ptr<Timer> tmrMinute_;
    std::unique_ptr<Timer> tmrBlink_;
    std::unique_ptr<MainCycle> cycle_;
    std::unique_ptr<StatusDisplay> display_;
    std::unique_ptr<StatusWindow> status_;
    Filters filters_;
    Inbox inbox_;
    PageLedger ledger_;
    EscalationSettings escalation_;
    std::unique_ptr<ProofOfLife> proofOfLife_;
    MessageQueue queue_;
    std::unique_ptr<Comm> comm_;
    std::unique_ptr<CarrierPaging> carriers_;
    // The IMAP accounts' push connections (a resident program with links only).
    std::unique_ptr<ImapWatch> imapWatch_;
    std::unique_ptr<SecretStore> secrets_;
    std::unique_ptr<TokenSource> tokens_;
    std::unique_ptr<Timer> tmrWatchStart_; // the first refresh, once start-up is done
    void refreshImapWatch();
    // The line to paging terminals on a TCP port; made when first needed.
    std::unique_ptr<TcpTerminalLink> terminalLink_;
    SerialControl* terminalFor(CPagerService& service, PagingContext& ctx);
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<CheckSession> session_;
    std::unique_ptr<RemoteCommands> remote_;
    std::function<void()> quitAction_;
    std::unique_ptr<VersionCheck> versionCheck_;
    std::unique_ptr<ProgramCommands> commands_;
    bool released_ = false;
    bool rememberedAtRelease_ = false;
    QString currentProfile_;
    QString helpFile_;
    QString activity_;
    bool profileLoadFailed_ = false;
    bool continueLog_ = false;
    bool checkRunning_ = false;
    bool quitPending_ = false; // a quit asked for during a check
    bool resident_ = true;
    std::function<void(const CheckRecord&)> checkRecordSink_;
    std::function<void(const QString&)> dryRunSink_;
    // Shows the page queue as a dry run, and empties it.
    void showQueue();
    // Asks the carriers for the receipts the ledger still awaits and records
    // those that came.
    void collectReceipts();
    std::unique_ptr<wctp::Poster> wctpPoster(const CPagerService& service);
    PagingContext pagingContext(const std::function<void(const QString&)>& told);

    void recordCheck(CheckRun run, const QDateTime& started);
};

} // namespace tessaly
