#include "app/mainprogram.h"

#include "state/appinfo.h"
#include "state/proxysettings.h"
#include "platform/terminallink.h"
#include "app/maincycle.h"
#include "app/mainview.h"
#include "app/statusdisplay.h"
#include "app/statusreport.h"
#include "state/commstatus.h"
#include "state/mailsecurity.h"
#include "app/profile.h"
#include "app/programcommands.h"
#include "app/registry.h"
#include "features/mail/checksession.h"
#include "features/mail/imapwatch.h"
#include "features/mail/inboxstate.h"
#include "features/connection/connection.h"
#include "features/paging/comm.h"
#include "features/paging/failurenotice.h"
#include "features/paging/pagingcontext.h"
#include "features/paging/smtpevents.h"
#include "features/remote/remotecommands.h"
#include "features/remote/remoteguard.h"
#include "ground/remotetext.h"
#include "features/version/versioncheck.h"
#include "log/clogfile.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/dialupcontrol.h"
#include "platform/eventpump.h"
#include "platform/filelock.h"
#include "platform/serialcontrol.h"
#include "platform/smtpcontrol.h"
#include "platform/popcontrol.h"
#include "platform/prompter.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"
#include "platform/sounddevice.h"

#include <QNetworkProxy>
#include <QUrl>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace tessaly {

namespace {
constexpr int kMainHeightTwips = 4908;

// Stands in for the serial port on a computer without one: it cannot be opened.
class NoSerialPort : public SerialControl {
public:
    bool PortOpen() const override { return false; }
    void SetPortOpen(bool open) override {
        if (open)
            throw TessalyError(PortUnavailable, QStringLiteral("Port unavailable"));
    }
    int InBufferCount() const override { return 0; }
    void SetInBufferCount(int) override {}
    QString Input() override { return {}; }
    void SetOutput(const QString&) override {}
};

constexpr int kMainWidthTwips = 6768;
// Held by whichever run of the program is checking mail.
const QString kCheckLockFile = QStringLiteral("tessly.lock");
constexpr double kSplashSeconds = 2.2;
} // namespace

MainProgram::MainProgram(PlatformServices services, MainView& view)
    : platform_(std::move(services)), view_(view),
      ledger_(ProgramFile(kPageLedgerFile), [this] { return platform_.pump.now(); }) {
    tmrMinute_ = platform_.pump.createTimer();
    tmrMinute_->setInterval(60000);
    tmrBlink_ = platform_.pump.createTimer();
    tmrBlink_->setInterval(1500);
    cycle_ = std::make_unique<MainCycle>(*this);
    display_ = std::make_unique<StatusDisplay>(*this, platform_.tray);
    status_ = std::make_unique<StatusWindow>(platform_.store, platform_.screenTwips, state_.cancel);
    comm_ = std::make_unique<Comm>(platform_.pump, platform_.prompter, state_.terminal, *status_, state_.settings,
                                   state_.cancel);
    carriers_ = std::make_unique<CarrierPaging>(
        platform_.pump, platform_.links,
        platform_.wctpPosters ? platform_.wctpPosters
                              : [this](const CPagerService& service) { return wctpPoster(service); });
    carriers_->SetTerminal([this](const QString& line) { state_.terminal.Append(line); });
    connection_ = std::make_unique<Connection>(
        ConnectionContext{.pump = platform_.pump, .state = state_, .status = *status_, .activity = *this},
        platform_.dialup);
    session_ = std::make_unique<CheckSession>(MailContext{
        .pump = platform_.pump,
        .pop = platform_.pop,
        .tcp = platform_.tcp,
        .state = state_,
        .status = *status_,
        .activity = *this,
        .connection = *connection_,
        .inbox = inbox_,
        .filters = filters_,
        .accounts = popAccounts_,
        .pagers = pagers_,
        .queue = queue_,
        .minuteTimer = *tmrMinute_,
        .sendQueue = [this](const MessageQueue::PageOutcome& outcome,
                            const MessageQueue::PageStart& starting) { SendQueue(outcome, starting); },
        .updateSettings = [this] { UpdateSettings(); },
        .updateEmailDisplay = [this](int total) { display_->UpdateEmailDisplay(total); },
        .checkVersion =
            [this] {
                if (versionCheck_)
                    versionCheck_->Check();
            },
        .store = &platform_.store,
        .ledger = &ledger_,
        .clearTextNoticeDue =
            [this](const QString& who, const QString& server) {
                return ClearTextNoticeDue(platform_.store, who, server);
            },
        .dryRun = [this] { return DryRun(); },
        .verdict =
            [this](const QString& account, int number, const QString& verdict) {
                if (dryRunSink_)
                    dryRunSink_(QStringLiteral("%1 message #%2: %3").arg(account).arg(number).arg(verdict));
            },
        .pagerChain = [this] { return PagerChain(pagers_, escalation_.fallback); },
        .undeliverable = [this](const QList<UndeliveredPage>& pages) { PagesUndeliverable(pages); },
        .links = platform_.links,
        .bearerFor =
            [this](const QString& account) {
                return tokens_ ? tokens_->For(SignInTarget{account}) : sasl::BearerSource();
            },
        .signInNeeded = [this](const QString& account) { return SignInNeeded(platform_.store, SignInTarget{account}); },
    });
    if (platform_.links)
        tokens_ = std::make_unique<TokenSource>(TokenSourceContext{
            .pump = platform_.pump,
            .links = *platform_.links,
            .store = platform_.store,
            .secrets = [this]() -> SecretStore& { return Secrets(); },
            .logActivity = [this](const QString& line) { LogActivity(line); },
            .caFile = [this] { return LoadMailSecurity(platform_.store).caFile; },
            .signInCommand = [this](const SignInTarget& who) { return SignInCommand(who); },
            .signInStateChanged = [this] { ShowNotices(); },
            .cancel = &state_.cancel,
        });
    if (platform_.smtp)
        platform_.smtp->SetBearerLookup(
            [this] { return tokens_ ? tokens_->For(SignInTarget{}) : sasl::BearerSource(); });
    proofOfLife_ = std::make_unique<ProofOfLife>(ProofOfLifeContext{
        .pump = platform_.pump,
        .store = platform_.store,
        .now = [this] { return platform_.pump.now(); },
        .time = [this] { return escalation_.proofOfLife; },
        .send =
            [this] {
                if (checkRunning_ || session_->Running() || (platform_.serial && platform_.serial->PortOpen()))
                    return ProofOfLifeContext::Sent::Busy;
                return SendProofOfLife() ? ProofOfLifeContext::Sent::All : ProofOfLifeContext::Sent::NotAll;
            },
        .logActivity = [this](const QString& line) { LogActivity(line); },
    });
    commands_ = std::make_unique<ProgramCommands>(*this);
    remote_ = std::make_unique<RemoteCommands>(RemoteContext{
        .pump = platform_.pump,
        .settings = state_.settings,
        .activity = *this,
        .shell = platform_.shell,
        .session = platform_.session,
        .countdownView = platform_.countdownView,
        .saveProfile = [this] { SaveProfile(currentProfile_); },
        .quit = [this] { Quit(); },
        .beforeSessionEnds = [this] { saveInboxState(); },
        .store = &platform_.store,
        .statePath = ProgramFile(RemoteGuard::kFileName),
        .showStatus = [this](const QString& text) { status_->SetStatusLine(text); },
    });
    inbox_.SetRemoteCommandHandler([this](const CMail& mail, QString& body) {
        // The commands are the lines after the header block; what the inbox
        // keeps of a command message (and may show, page or store) never
        // holds the password.
        const QString commands = CheckSession::BodyAfterHeaders(body);
        const QString header = body.left(body.size() - commands.size());
        const QString subject = mail.Subject();
        if (RemoteCommands::IsRemoteSubject(subject))
            body = HideRemotePassword(body, state_.settings.remotePassword);
        remote_->CheckRemoteMessage(RemoteMailOf(subject, header, commands, mail.Transport()));
    });
    display_->SetNewMailCounter([this] { return inbox_.NewMailCount(); });
    display_->SetTotalCounter([this] { return inbox_.Count(); });
    if (platform_.pop && platform_.tcp)
        cycle_->SetCheckEntry([this](bool download, bool page) { RunCheck(download, page); });
    if (platform_.smtp)
        AttachSmtpEvents(*platform_.smtp, this, SmtpSinks());
    connect(tmrMinute_.get(), &Timer::timeout, this, [this] {
        cycle_->OnMinuteTick();
        refreshImapWatch();
    });
    if (platform_.links)
        imapWatch_ = std::make_unique<ImapWatch>(ImapWatchContext{
            .pump = platform_.pump,
            .links = *platform_.links,
            .activity = *this,
            .accounts = popAccounts_,
            .store = &platform_.store,
            // Push mail goes with scheduled paging: a resident program on a
            // direct connection, paging and the schedule on, inside its window.
            .wanted =
                [this] {
                    const LiveSettings& s = state_.settings;
                    return resident_ && !dryRunSink_ && s.pagingEnabled && s.scheduleEnabled &&
                           s.connectionType == ConnDirect && cycle_->GetScheduler().InWindow(platform_.pump.now());
                },
            .checkNow =
                [this] {
                    if (checkRunning_ || session_->Running())
                        return false;
                    RunCheck(state_.settings.downloadFlag, state_.settings.pagingEnabled);
                    return true;
                },
            .terminal = [this](const QString& line) { state_.terminal.Append(line); },
        });
    tmrWatchStart_ = platform_.pump.createTimer();
    tmrWatchStart_->setInterval(0);
    connect(tmrWatchStart_.get(), &Timer::timeout, this, [this] {
        tmrWatchStart_->stop();
        refreshImapWatch();
    });
    connect(tmrBlink_.get(), &Timer::timeout, this, [this] { display_->OnBlinkTick(); });
    // The dial-up component is there when its control answers; a missing
    // one fails with "not installed" the first time it is used.
    dialUpAvailable_ = [this] {
        if (!platform_.dialup)
            return false;
        try {
            platform_.dialup->EntryList();
            return true;
        } catch (const TessalyError& e) {
            return e.number() != DialupControl::NotInstalled;
        }
    };
    if (platform_.serial) {
        cycle_->SetPortBusyTest([this] { return platform_.serial->PortOpen(); });
        // Line settings the device could not take are noted in the transcript;
        // a hang-up and a device that refuses its settings also in the log.
        connect(platform_.serial, &SerialControl::terminalLine, this,
                [this](const QString& line) { state_.terminal.Append(line + QLatin1Char('\r')); });
        connect(platform_.serial, &SerialControl::deviceFault, this,
                [this](const QString& line) { LogActivity(line); });
    }
}

void MainProgram::LoadProfile(const QString& path) {
    tessaly::LoadProfile(*this, path);
    if (!profileLoadFailed_)
        NoteRemoteControlOff(*this);
}

void MainProgram::SaveProfile(const QString& path) { tessaly::SaveProfile(*this, path); }

void MainProgram::Quit() {
    if (quitAction_) {
        quitAction_();
        return;
    }
    // Closing releases the inbox and the lists a running check still walks:
    // a quit asked for during a check (a remote "quit", or the end of a
    // shutdown countdown) waits for the check to finish.
    if (checkRunning_) {
        quitPending_ = true;
        return;
    }
    commands_->Exit();
}

void MainProgram::UpdateSettings() {
    QString paging;
    if (!state_.settings.pagingEnabled) {
        paging = QStringLiteral("None");
    } else if (pagers_.Count() > 0) {
        switch (pagers_.Item(1).PagerType()) {
        case PagerAlphaDialUp: paging = QStringLiteral("Direct Dial"); break;
        case PagerAlphaSMTP: paging = QStringLiteral("SMTP Paging"); break;
        case PagerNumeric: paging = QStringLiteral("Numeric"); break;
        case PagerWCTP: paging = QStringLiteral("WCTP"); break;
        case PagerSNPP: paging = QStringLiteral("SNPP"); break;
        case PagerAlphaTCP: paging = QStringLiteral("TCP Terminal"); break;
        }
    }

    QString connection;
    switch (state_.settings.connectionType) {
    case ConnDialUp: connection = state_.settings.dialUpEntry; break;
    case ConnDirect: connection = QStringLiteral("Direct"); break;
    case ConnExternalDialer: connection = QStringLiteral("External Dialer"); break;
    default: break;
    }

    QString email;
    if (!state_.settings.checkMailFlag)
        email.clear();
    else if (!state_.settings.downloadFlag)
        email = QStringLiteral("Notify Only");
    else if (!state_.settings.pagingEnabled)
        email = QStringLiteral("Download Messages");
    else if (state_.settings.pageHeaders)
        email = QStringLiteral("Download, Page MSG Header");
    else
        email = QStringLiteral("Download and Notify");

    view_.SetSettingsLabels(connection, email, paging);
    cycle_->SetScheduleCheckBox(state_.settings.scheduleEnabled);
    cycle_->SetPagingCheckBox(state_.settings.pagingEnabled);
}

MainProgram::~MainProgram() = default;

void MainProgram::refreshImapWatch() {
    if (imapWatch_)
        imapWatch_->Refresh();
}

void MainProgram::ReleaseObjects() {
    if (released_)
        return;
    // What the viewer marked as read must reach the state file before the
    // inbox goes.
    rememberedAtRelease_ = RememberInbox();
    released_ = true;
    queue_.ClearQueue();
    inbox_.Clear();
    popAccounts_.Clear();
    filters_.Clear();
    pagers_.Clear();
    services_.Clear();
    versionCheck_.reset();
    log_.reset();
}

QuickNoteContext MainProgram::QuickNoteServices() {
    return {
        .pump = platform_.pump,
        .prompter = platform_.prompter,
        .state = state_,
        .status = *status_,
        .activity = *this,
        .pagers = pagers_,
        .connection = *connection_,
        .sinks = SmtpSinks(),
        .mailSecurity = [this] { return LoadMailSecurity(platform_.store); },
    };
}

OptionsContext MainProgram::OptionsServices() {
    return {
        .settings = state_.settings,
        .profileChanged = state_.profileChanged,
        .accounts = popAccounts_,
        .filters = filters_,
        .pagers = pagers_,
        .services = services_,
        .store = platform_.store,
        .prompter = platform_.prompter,
        .activity = *this,
        .minuteTimer = *tmrMinute_,
        .serial = platform_.serial,
        .dialup = platform_.dialup,
        .connection = connection_.get(),
        .updateSettings = [this] { UpdateSettings(); },
        .showMainWindow = [this] { view_.RestoreWindow(); },
        .defaultStartupFile = defaultProfilePath(platform_.programDir),
        .escalation = &escalation_,
        .hasClientSecret = [this](const SignInTarget& who) { return HasClientSecret(Secrets(), who); },
        .keepClientSecret =
            [this](const SignInTarget& who, const QString& secret) {
                QString why;
                return KeepClientSecret(Secrets(), who, secret, &why) ? QString() : why;
            },
        .signIn =
            tokens_ ? std::function<OAuthResult(const SignInTarget&, bool, const QString&, const TokenSource::Unsaved&,
                                                const TokenSource::Prompts&, const bool*)>(
                          [this](const SignInTarget& who, bool imap, const QString& user,
                                 const TokenSource::Unsaved& unsaved, const TokenSource::Prompts& prompts,
                                 const bool* cancel) {
                              return tokens_->SignIn(who, imap, user, prompts, std::nullopt, &unsaved, cancel);
                          })
                    : nullptr,
        .openUrl =
            [this](const QString& url) {
                if (platform_.shell)
                    platform_.shell->Open(url);
            },
    };
}

ModemContext MainProgram::ModemServices() {
    return {.settings = state_.settings,
            .profileChanged = state_.profileChanged,
            .prompter = platform_.prompter,
            .serial = platform_.serial};
}

ManualPageContext MainProgram::ManualPageServices() {
    return {
        .settings = state_.settings,
        .pagers = pagers_,
        .queue = queue_,
        .status = *status_,
        .prompter = platform_.prompter,
        .connection = connection_.get(),
        .sendQueue = [this](const MessageQueue::PageOutcome& outcome,
                            const ManualPageContext::LineSink& told) { SendQueue(outcome, {}, told); },
        .logActivity = [this](const QString& line) { LogActivity(line); },
        .cancel = &state_.cancel,
    };
}

MailViewerContext MainProgram::MailViewerServices() {
    return {
        .inbox = inbox_,
        .prompter = platform_.prompter,
        .shell = platform_.shell,
        .emailClientPath = [this] { return state_.settings.emailClientPath; },
        .updateEmailDisplay = [this](int total) { display_->UpdateEmailDisplay(total); },
    };
}

SmtpEventSinks MainProgram::SmtpSinks() {
    return {
        .terminalAppend = [this](const QString& text) { state_.terminal.Append(text); },
        .logActivity = [this](const QString& line) { LogActivity(line); },
        .internetError = [this] { state_.internetError = true; },
        .clearTextNoticeDue =
            [this](const QString& who, const QString& server) {
                return ClearTextNoticeDue(platform_.store, who, server);
            },
    };
}

PagingContext MainProgram::pagingContext(const std::function<void(const QString&)>& told) {
    return PagingContext{
        .comm = *comm_,
        .settings = state_.settings,
        .status = *status_,
        .logActivity =
            [this, told](const QString& line) {
                LogActivity(line);
                if (told)
                    told(line);
            },
        .connectInternet = [this] { return connection_->Connect(); },
        .mailSecurity = [this] { return LoadMailSecurity(platform_.store); },
    };
}

void MainProgram::collectReceipts() {
    // A copy: recording a receipt takes it off the ledger's list.
    const QList<PageLedger::Awaited> awaited = ledger_.AwaitedReceipts();
    if (awaited.isEmpty() || state_.settings.connectionType != ConnDirect)
        return;
    PagingContext ctx = pagingContext({});
    QHash<QString, QStringList> byService; // receipts' message IDs, by service
    for (const PageLedger::Awaited& a : awaited)
        for (const QString& id : a.receipt.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            byService[a.service] << id;
    QHash<QString, wctp::Delivery> found;
    for (auto it = byService.cbegin(); it != byService.cend(); ++it) {
        CPagerService* service = services_.Find(it.key());
        if (!service || service->Address().trimmed().isEmpty())
            continue;
        found.insert(carriers_->PollReceipts(ctx, *service, it.value()));
    }
    // A page reached the pager when every part of it did; it failed when any part failed.
    for (const PageLedger::Awaited& a : awaited) {
        const QStringList ids = a.receipt.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool failed = false;
        bool all = !ids.isEmpty();
        for (const QString& id : ids) {
            const wctp::Delivery d = found.value(id, wctp::Delivery::Unknown);
            failed = failed || d == wctp::Delivery::Failed;
            all = all && d == wctp::Delivery::ToHandset;
        }
        if (!failed && !all)
            continue;
        QString why;
        if (!ledger_.Append(failed ? PageLedger::Event::ReceiptFailed : PageLedger::Event::Handset, a.ids, a.pager,
                            a.service, a.receipt, &why)) {
            LogActivity(QStringLiteral("Page ledger not updated: %1").arg(why));
            return;
        }
        LogActivity(failed ? QStringLiteral("WCTP: the carrier could not deliver the page to %1").arg(a.pager)
                           : QStringLiteral("WCTP: the page to %1 reached the pager").arg(a.pager));
    }
}

SerialControl* MainProgram::terminalFor(CPagerService& service, PagingContext& ctx) {
    QString host;
    int port = 0;
    if (!service.HostAndPort(host, port, 0) || port == 0) {
        ctx.logActivity(
            QStringLiteral("Pager: the paging service \"%1\" has no terminal address (host:port)").arg(service.Name()));
        return nullptr;
    }
    if (!platform_.links) {
        ctx.logActivity(QStringLiteral("Pager: no network connection is available"));
        return nullptr;
    }
    if (!terminalLink_) {
        terminalLink_ = std::make_unique<TcpTerminalLink>(platform_.pump, *platform_.links);
        connect(terminalLink_.get(), &SerialControl::terminalLine, this,
                [this](const QString& line) { state_.terminal.Append(line + QLatin1Char('\r')); });
        connect(terminalLink_.get(), &SerialControl::deviceFault, this,
                [this](const QString& line) { LogActivity(line); });
        terminalLink_->SetCancelFlag(&state_.cancel);
    }
    // An open link carries the call of this service (the queue ends a call
    // before it pages another service): the next page goes on it.
    if (!terminalLink_->PortOpen())
        terminalLink_->SetAddress(host, port, service.UseTls(), LoadMailSecurity(platform_.store).caFile);
    return terminalLink_.get();
}

std::unique_ptr<wctp::Poster> MainProgram::wctpPoster(const CPagerService& service) {
    auto sender = std::make_unique<wctp::WctpSender>();
    sender->SetEndpoint(QUrl(service.Address().trimmed()));
    sender->SetCaFile(LoadMailSecurity(platform_.store).caFile);
    const ProxySettings proxy = LoadProxySettings(platform_.store);
    const QString host = proxy.hostAddress.isEmpty() ? proxy.hostName : proxy.hostAddress;
    if (proxy.use && !host.isEmpty())
        sender->SetProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, static_cast<quint16>(proxy.port)));
    return sender;
}

void MainProgram::SendQueue(const MessageQueue::PageOutcome& outcome, const MessageQueue::PageStart& starting,
                            const std::function<void(const QString&)>& told) {
    if (dryRunSink_) {
        showQueue();
        return;
    }
    PagingContext ctx = pagingContext(told);
    // SNPP over TLS trusts the settings file's extra certificates too, read
    // as each round starts (as the WCTP poster and the mail clients do).
    carriers_->SetCaFile(LoadMailSecurity(platform_.store).caFile);
    NoSerialPort noPort;
    SerialControl& port = platform_.serial ? *platform_.serial : static_cast<SerialControl&>(noPort);
    MessageQueue::SmtpSender smtp;
    if (platform_.smtp) {
        // A login refused in an earlier round may work with new values.
        platform_.smtp->ClearRefusedForGood();
        smtp = [this, &ctx](CPagerService& service, const QString& recipient, const QString& message,
                            const QString& from, const QString& subject, int number) {
            // Pages made from incoming mail carry no sender, and most servers
            // refuse an empty MAIL FROM: those go out from the user's own address.
            QString sender = from;
            if (sender.trimmed().isEmpty() && pagers_.Count() > 0)
                sender = pagers_.Item(1).FromAddress();
            service.SendSMTPPage(ctx, *platform_.smtp, recipient, message, sender, subject, number);
        };
    }
    MessageQueue::Channels channels{
        .port = port,
        .smtp = smtp,
        .carrier = [this, &ctx](CPagerService& service, CPagerMessage& page,
                                int number) { return carriers_->Send(ctx, service, page, number); },
        .terminal = [this, &ctx](CPagerService& service) { return terminalFor(service, ctx); },
    };
    queue_.SendQueue(
        ctx, [this](const QString& name) -> CPagerService& { return services_.Item(name); }, channels, outcome,
        starting);
}

void MainProgram::showQueue() {
    for (int i = 1; i <= queue_.Count(); ++i) {
        const CPagerMessage& page = queue_.Item(i);
        const QString head = QStringLiteral("page %1 to %2 by %3 (service %4): ").arg(i).arg(page.PagerID());
        CPagerService* service = services_.Find(page.Service());
        switch (page.PagerType()) {
        case PagerAlphaDialUp:
        case PagerAlphaTCP: {
            const bool tcp = page.PagerType() == PagerAlphaTCP;
            const QString by = !tcp      ? QStringLiteral("modem")
                               : service ? QStringLiteral("TCP terminal %1").arg(service->Address())
                                         : QStringLiteral("TCP terminal");
            dryRunSink_(head.arg(by, page.Service()) + page.Message());
            if (!service)
                break;
            const QList<QByteArray> frames =
                service->PlannedFrames(page.PagerID(), page.Message(), state_.settings.maxPagesPerMessage);
            for (qsizetype f = 0; f < frames.size(); ++f)
                dryRunSink_(QStringLiteral("  block %1 of %2: %3")
                                .arg(f + 1)
                                .arg(frames.size())
                                .arg(Terminal::Printable(QString::fromLatin1(frames[f])).trimmed()));
            break;
        }
        case PagerAlphaSMTP: {
            dryRunSink_(head.arg(QStringLiteral("e-mail"), page.Service()) + page.Message());
            if (!service)
                break;
            service->SplitMessage(page.Message(), state_.settings.maxPagesPerMessage);
            for (int b = 1; b <= service->BlockCount(); ++b)
                dryRunSink_(
                    QStringLiteral("  mail %1 of %2: %3").arg(b).arg(service->BlockCount()).arg(service->Block(b)));
            break;
        }
        case PagerNumeric:
            dryRunSink_(head.arg(QStringLiteral("numeric dial"), page.Service()) + page.Message());
            break;
        case PagerWCTP:
        case PagerSNPP: {
            const QString kind = page.PagerType() == PagerWCTP ? QStringLiteral("WCTP") : QStringLiteral("SNPP");
            dryRunSink_(
                head.arg(service ? QStringLiteral("%1 %2").arg(kind, service->Address()) : kind, page.Service()) +
                page.Message());
            break;
        }
        }
    }
    queue_.ClearQueue();
}

QString MainProgram::ProgramFile(const QString& name) const { return platform_.programDir + QLatin1Char('/') + name; }

QString MainProgram::InboxStatePath() const { return ProgramFile(kInboxStateFile); }

QString MainProgram::CheckLockPath() const { return ProgramFile(kCheckLockFile); }

void MainProgram::mergeInboxState() {
    QString error;
    if (!MergeInboxState(inbox_, InboxStatePath(), &error))
        LogActivity(QStringLiteral("Inbox state ignored (%1): %2").arg(InboxStatePath(), error));
}

bool MainProgram::saveInboxState() {
    QString error;
    if (SaveInboxState(inbox_, InboxStatePath(), &error))
        return true;
    LogActivity(QStringLiteral("Inbox state not saved (%1): %2").arg(InboxStatePath(), error));
    return false;
}

MainProgram::CheckRun MainProgram::RunCheck(bool download, bool page) {
    if (!platform_.pop || !platform_.tcp || checkRunning_ || session_->Running())
        return CheckRun::Done; // no mail controls, or a check is already on its way
    checkRunning_ = true;
    const QDateTime started = platform_.pump.now();
    // The minute tick and the check commands must not start another check
    // while this one waits for the lock.
    const bool ticking = tmrMinute_->isActive();
    tmrMinute_->stop();
    // A check that does not run gives the tick back.
    auto notRun = [&](CheckRun why) {
        if (ticking)
            tmrMinute_->start();
        checkRunning_ = false;
        recordCheck(why, started);
        return why;
    };
    FileLock lock(CheckLockPath());
    if (!lock.Lock(platform_.pump, kCheckLockWait, nullptr)) {
        if (lock.Error().isEmpty()) {
            LogActivity(QStringLiteral("Mail check skipped: another mail check still holds %1 after %2 seconds")
                            .arg(lock.Path())
                            .arg(kCheckLockWait));
            return notRun(CheckRun::LockBusy);
        }
        // A lock that cannot be had at all (say, a read-only directory) must
        // not stop every check.
        LogActivity(
            QStringLiteral("Check lock %1 not available (%2); checking without it").arg(lock.Path(), lock.Error()));
    }
    mergeInboxState();
    if (page && !dryRunSink_) {
        // Pages that cannot be recorded would go out again at every check.
        QString why;
        if (!ledger_.Open(&why)) {
            LogActivity(QStringLiteral("Mail check not run: its pages cannot be recorded (%1)").arg(why));
            lock.Unlock();
            return notRun(CheckRun::CannotRecord);
        }
        // Delivered by a run that ended before it saved the inbox state.
        for (const QString& id : ledger_.Settled())
            inbox_.Remember(id, MailMark{.newMessage = true, .paged = true});
    }
    session_->Check(download, page);
    if (ledger_.IsOpen())
        collectReceipts();
    // A dry run leaves every file as it was.
    const bool saved = dryRunSink_ ? true : saveInboxState();
    if (saved && ledger_.IsOpen()) {
        QString why;
        if (!ledger_.Recorded(&why))
            LogActivity(QStringLiteral("Page ledger not updated: %1").arg(why));
    }
    ledger_.Close();
    lock.Unlock();
    checkRunning_ = false;
    const CheckRun run = saved ? CheckRun::Done : CheckRun::StateNotSaved;
    recordCheck(run, started);
    if (view_.HasWindows())
        view_.SetRecentPages(RecentPageLines(PageLedgerPath()));
    if (std::exchange(quitPending_, false)) {
        commands_->Exit();
        return run;
    }
    refreshImapWatch();
    return run;
}

UndeliverableAlarm MainProgram::Alarm() const { return LoadAlarm(platform_.store); }

SecretStore& MainProgram::Secrets() {
    if (!secrets_)
        secrets_ = OpenSecretStore(platform_.pump, ProgramFile(QStringLiteral("oauth-tokens")));
    return *secrets_;
}

QString MainProgram::SignInCommand(const SignInTarget& who) const {
    if (who.Outgoing())
        return QStringLiteral("tessly --sign-in smtp");
    for (int i = 1; i <= popAccounts_.Count(); ++i)
        if (popAccounts_.Item(i).Name() == who.account)
            return QStringLiteral("tessly --sign-in account.%1").arg(i);
    return {};
}

QStringList MainProgram::SignInsNeeded() const {
    QStringList out;
    for (const CPOPAccount& a : popAccounts_)
        if (!SignInNeeded(platform_.store, SignInTarget{a.Name()}).isEmpty())
            out << SignInTarget{a.Name()}.Text();
    if (!SignInNeeded(platform_.store, SignInTarget{}).isEmpty())
        out << SignInTarget{}.Text();
    return out;
}

void MainProgram::ShowNotices() {
    QStringList notices;
    if (const UndeliverableAlarm alarm = Alarm(); alarm.Set())
        notices << alarm.text;
    if (const QStringList signIns = SignInsNeeded(); !signIns.isEmpty())
        notices << QStringLiteral("sign in again: ") + signIns.join(QStringLiteral(", "));
    display_->ShowAlarm(notices.join(QStringLiteral("; ")));
}

void MainProgram::AcknowledgeUndeliverable() {
    if (!Alarm().Set())
        return;
    if (const QString why = AcknowledgeAlarm(platform_.store); !why.isEmpty())
        LogActivity(QStringLiteral("The alarm could not be cleared: %1").arg(why));
    else
        LogActivity(QStringLiteral("Alarm acknowledged"));
    ShowNotices();
}

void MainProgram::PagesUndeliverable(const QList<UndeliveredPage>& pages) {
    if (pages.isEmpty() || dryRunSink_)
        return;
    const QDateTime now = platform_.pump.now();
    const QString alarm = AlarmText(pages, now);
    LogActivity(QStringLiteral("ALARM: ") + alarm);
    if (const QString why = RaiseAlarm(platform_.store, alarm, now); !why.isEmpty())
        LogActivity(QStringLiteral("The alarm could not be saved: %1").arg(why));
    ShowNotices();
    const QString to = escalation_.notify;
    if (to.isEmpty()) {
        LogActivity(QStringLiteral("No failure notice sent: no address is set for it"));
        return;
    }
    if (!platform_.smtp) {
        LogActivity(QStringLiteral("Failure notice to %1 not sent: no mail-sending control").arg(to));
        return;
    }
    NoticeContext ctx{
        .pump = platform_.pump,
        .settings = state_.settings,
        .smtp = *platform_.smtp,
        .logActivity = [this](const QString& line) { LogActivity(line); },
        .connectInternet = [this] { return connection_->Connect(); },
        .mailSecurity = [this] { return LoadMailSecurity(platform_.store); },
    };
    SendFailureNotice(ctx, to, pagers_.Count() > 0 ? pagers_.Item(1).FromAddress() : QString(), pages);
}

bool MainProgram::SendProofOfLife() {
    const QList<const CPager*> chain = PagerChain(pagers_, escalation_.fallback);
    if (chain.isEmpty() || dryRunSink_)
        return true;
    FileLock lock(CheckLockPath());
    if (!lock.Lock(platform_.pump, kExitLockWait, nullptr) && lock.Error().isEmpty()) {
        LogActivity(QStringLiteral("Daily test page not sent: a mail check holds %1").arg(lock.Path()));
        return false;
    }
    QString why;
    const bool recorded = ledger_.Open(&why);
    if (!recorded)
        LogActivity(QStringLiteral("Daily test page not recorded: %1").arg(why));
    const QDateTime now = platform_.pump.now();
    const QString text =
        QStringLiteral("Tessaly daily test page %1").arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    QStringList failed;
    bool online = false;
    for (int step = 0; step < chain.size(); ++step) {
        const CPager& pager = *chain[step];
        QString address = pager.ID();
        QString message = text;
        switch (pager.PagerType()) {
        case PagerAlphaDialUp:
        case PagerWCTP:
        case PagerSNPP:
        case PagerAlphaTCP: break;
        case PagerAlphaSMTP: address = pager.EmailAddress(); break;
        case PagerNumeric:
            address = pager.DigitalNumber();
            message = state_.settings.numericPagePrefix + QStringLiteral("0#");
            break;
        }
        const bool modem = pager.PagerType() == PagerAlphaDialUp || pager.PagerType() == PagerNumeric;
        if (modem && online) {
            connection_->HangUp();
            online = false;
        } else if (!modem && !online) {
            online = connection_->Connect();
        }
        queue_.Add(pager.ServiceName(), address, message, true, pager.PagerType(),
                   pager.PagerType() == PagerAlphaSMTP ? std::optional<QString>(pager.FromAddress()) : std::nullopt,
                   pager.PagerType() == PagerAlphaSMTP ? std::optional<QString>(QStringLiteral("Tessaly daily test"))
                                                       : std::nullopt);
        const QString name = pager.Username().isEmpty() ? QStringLiteral("pager %1").arg(step + 1) : pager.Username();
        PageLedger::Journey journey{.queued = now, .attempt = step + 1, .pagerName = name, .test = true};
        const QString where = pager.ServiceName() + QLatin1Char(' ') + address;
        auto note = [&](PageLedger::Event event) {
            if (recorded)
                ledger_.Append(event, {}, where, pager.ServiceName(), {}, nullptr, journey);
        };
        bool delivered = false;
        guardedStep([&] {
            SendQueue([&](int, bool ok) { delivered = ok; },
                      [&](int) {
                          note(PageLedger::Event::Sending);
                          return true;
                      });
        });
        queue_.ClearQueue();
        note(delivered ? PageLedger::Event::Delivered : PageLedger::Event::Failed);
        LogActivity(delivered ? QStringLiteral("Daily test page delivered to %1").arg(name)
                              : QStringLiteral("Daily test page NOT delivered to %1").arg(name));
        if (!delivered)
            failed << name;
    }
    if (online)
        connection_->HangUp();
    if (recorded)
        ledger_.Close();
    lock.Unlock();
    if (view_.HasWindows())
        view_.SetRecentPages(RecentPageLines(PageLedgerPath()));
    if (failed.isEmpty())
        return true;
    const QString alarm = QStringLiteral("The daily test page did not reach %1 (%2)")
                              .arg(failed.join(QStringLiteral(", ")), now.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    if (const QString why2 = RaiseAlarm(platform_.store, alarm, now); !why2.isEmpty())
        LogActivity(QStringLiteral("The alarm could not be saved: %1").arg(why2));
    ShowNotices();
    return false;
}

int MainProgram::CheckExitStatus(CheckRun run, const CheckOutcome& outcome) {
    switch (run) {
    case CheckRun::Done: return outcome.Clean() ? 0 : 1;
    case CheckRun::StateNotSaved:
    case CheckRun::CannotRecord: return 4;
    case CheckRun::LockBusy: return 5;
    }
    return 1;
}

QString MainProgram::LastCheckPath() const { return ProgramFile(kLastCheckFile); }

void MainProgram::recordCheck(CheckRun run, const QDateTime& started) {
    if (dryRunSink_)
        return;
    CheckRecord r;
    r.started = started;
    r.ended = platform_.pump.now();
    r.resident = resident_;
    if (run == CheckRun::Done || run == CheckRun::StateNotSaved) {
        const CheckOutcome& o = session_->LastOutcome();
        r.accountsNotRead = o.accountsNotRead;
        r.pagesNotDelivered = o.pagesNotDelivered;
        r.cancelled = o.cancelled;
        if (!o.connected)
            r.detail = QStringLiteral("no connection");
        else if (o.settingsFaults > 0)
            r.detail = QStringLiteral("a setting could not be used");
    }
    r.status = CheckExitStatus(run, session_->LastOutcome());
    switch (run) {
    case CheckRun::Done: break;
    case CheckRun::StateNotSaved: r.detail = QStringLiteral("the inbox state could not be saved"); break;
    case CheckRun::CannotRecord: r.detail = QStringLiteral("the page ledger cannot be written"); break;
    case CheckRun::LockBusy: r.detail = QStringLiteral("another mail check held the check lock"); break;
    }
    if (resident_ && state_.settings.scheduleEnabled)
        r.nextCheck = cycle_->GetScheduler().NextDue(r.ended);
    QString why;
    // A directory that takes no files has had its line already.
    if (!WriteCheckRecord(LastCheckPath(), r, &why) && run == CheckRun::Done)
        LogActivity(QStringLiteral("Check record not saved (%1): %2").arg(LastCheckPath(), why));
    if (checkRecordSink_)
        checkRecordSink_(r);
}

bool MainProgram::RememberInbox() {
    if (dryRunSink_)
        return true; // a dry run leaves the state file as it was
    if (released_)
        return rememberedAtRelease_; // the emptied inbox must not replace the file
    if (checkRunning_)
        return false;
    FileLock lock(CheckLockPath());
    if (!lock.Lock(platform_.pump, kExitLockWait, nullptr) && lock.Error().isEmpty())
        return false; // the state of the last check is on disk
    mergeInboxState();
    return saveInboxState();
}

void MainProgram::LogActivity(const QString& text) {
    if (activity_.size() >= kActivityLimit)
        activity_.remove(0, kActivityTrim);
    const QString line = text + QLatin1String("   ") + formatGeneralDate(platform_.pump.now()) + QLatin1String("\r\n");
    activity_ += line;
    view_.ActivityChanged(activity_, line);
    if (log_)
        log_->LogMessage(text);
}

void MainProgram::guardedStep(const std::function<void()>& step) {
    try {
        step();
    } catch (const TessalyError& e) {
        LogActivity(QStringLiteral("frmMain:Load::") + e.description());
    } catch (const std::exception& e) {
        LogActivity(QStringLiteral("frmMain:Load::") + QString::fromLocal8Bit(e.what()));
    }
}

void MainProgram::applyStartupRegistry() {
    const StartupRegistryValues v = readStartupValues(platform_.store, platform_.programDir);
    for (const QString& problem : v.problems)
        LogActivity(QStringLiteral("frmMain:Load::") + problem);
    currentProfile_ = v.profileName;
    state_.settings.statusWindowFlag = v.statusWindow;
    state_.settings.downloadFlag = v.download;
    state_.settings.trayFlag = v.tray;
    state_.settings.messageSizeLimit = v.mailSize;
    if (v.versionCheck)
        state_.settings.versionCheckFlag = true;
}

void MainProgram::Startup(const QString& commandLine) {
    // 1. Copy the previous version's registry values, once per upgrade.
    guardedStep([&] {
        if (migrationDue(platform_.store))
            MigrateSettings(platform_.store, platform_.programDir, platform_.screenTwips);
    });
    // 2. The SMTP control identifies the program.
    guardedStep([&] {
        if (platform_.smtp)
            platform_.smtp->SetMailer(kAppTitle);
    });
    // 3. Hide the window and give it its design size.
    guardedStep([&] {
        view_.HideWindow();
        if (!view_.IsMinimized())
            view_.SetSizeTwips(kMainHeightTwips, kMainWidthTwips);
    });
    // 4. The program directory becomes the current directory.
    guardedStep([&] {
        if (!QDir::setCurrent(platform_.programDir))
            throw TessalyError(76, QStringLiteral("Path not found"));
    });
    // 5. Flat toolbar.
    guardedStep([&] { view_.MakeToolbarFlat(); });
    // 6. Prepare the sound device.
    guardedStep([&] {
        platform_.sound.SetOptions(false, false, false);
        platform_.sound.SetDeviceType(QStringLiteral("WaveAudio"));
        platform_.sound.Open();
    });
    // 7. The dial-up name tables belong to the connection module.
    // 8. The mail display of an empty inbox.
    guardedStep([&] { display_->UpdateEmailDisplay(0); });
    // 9. The object lists (members of this object) start empty; the spare
    //    pager and service wait to seed them; the check-mail flag.
    guardedStep([&] {
        sparePager_ = std::make_unique<CPager>();
        spareService_ = std::make_unique<CPagerService>();
        pagers_.Clear();
        services_.Clear();
        popAccounts_.Clear();
        state_.settings.checkMailFlag = true;
        filters_.Clear();
        filters_.SetFilename(Filters::kDefaultFilename);
        filters_.SetDirectory(platform_.programDir);
        filters_.Read(platform_.prompter);
    });
    // 10. The activity log (not for a dry run, which writes no file).
    guardedStep([&] {
        if (dryRunSink_)
            return;
        log_ = std::make_unique<CLogFile>(platform_.prompter, platform_.pump);
        log_->SetLogFileName(QStringLiteral("activity.txt"));
        log_->SetPath(platform_.programDir);
        if (continueLog_)
            log_->ContinueLog();
        else
            log_->SetLogEnable(true);
    });
    // 11. Help: the user manual's first page.
    guardedStep([&] { helpFile_ = QDir(platform_.programDir).filePath(ProgramCommands::kManualContents); });
    // 12. Splash window for 2.2 seconds; the event loop keeps running meanwhile.
    guardedStep([&] {
        if (!view_.HasWindows())
            return;
        view_.ShowSplash(SplashVersionText());
        platform_.pump.pause(kSplashSeconds, nullptr);
        view_.CloseSplash();
    });
    // 13. Greeting.
    guardedStep([&] { LogActivity(QStringLiteral("Tessaly started on")); });
    // 14. Registry values; the startup profile becomes the current profile.
    guardedStep([&] { applyStartupRegistry(); });
    // 15. Factory values.
    guardedStep([&] { state_.settings.applyFactoryValues(); });
    // 16. Startup profile.
    guardedStep([&] {
        if (currentProfile_.isEmpty())
            view_.SetProfileMenusEnabled(false);
        else
            LoadProfile(currentProfile_);
    });
    // 17. File dialogs start in the current directory: the prompter opens
    // them there when it is given no folder.
    // 18. A profile named on the command line replaces the startup profile.
    guardedStep([&] {
        if (!commandLine.isEmpty()) {
            currentProfile_ = commandLine;
            LoadProfile(currentProfile_);
        }
    });
    // 19. Terminal window hidden, its menu item unchecked.
    guardedStep([&] { view_.SetDiagnostics(false); });
    // 20. The serial port's flow control.
    guardedStep([&] {
        if (platform_.serial)
            platform_.serial->SetFlowControl(state_.settings.flowControlIndex);
    });
    // 21. Switches from the live settings.
    guardedStep([&] {
        cycle_->SyncSwitches();
        UpdateSettings();
        view_.SetCheckCommandsEnabled(cycle_->HasCheckEntry());
    });
    // 22. The version-check object, for runs that have network links.
    guardedStep([&] {
        if (!platform_.links)
            return;
        versionCheck_ = std::make_unique<VersionCheck>(VersionCheckContext{
            .pump = platform_.pump,
            .links = *platform_.links,
            .prompter = platform_.prompter,
            .store = platform_.store,
            .status = *status_,
            .activity = *this,
            .windows = view_.HasWindows(),
        });
        versionCheck_->SetupVersionCheck();
    });
    // 23. Show the main window.
    guardedStep([&] { view_.ShowWindow(); });
    // 24. Seed empty lists with the spare pager and service.
    guardedStep([&] {
        if (pagers_.IsEmpty() && sparePager_)
            pagers_.Add(std::move(sparePager_), QStringLiteral("user1"));
        if (services_.IsEmpty() && spareService_)
            services_.Add(std::move(spareService_), QStringLiteral("Default"));
        sparePager_.reset();
        spareService_.reset();
    });
    // 25. Design size again.
    guardedStep([&] {
        if (!view_.IsMinimized())
            view_.SetSizeTwips(kMainHeightTwips, kMainWidthTwips);
    });
    // The POP3 commands' deadlines.
    guardedStep([&] { applyPopDeadlines(); });
    // An alarm not acknowledged before the last run ended shows again.
    guardedStep([&] {
        ShowNotices();
        if (view_.HasWindows())
            view_.SetRecentPages(RecentPageLines(PageLedgerPath()));
    });
    // The daily test page belongs to the program that stays running.
    if (resident_ && !dryRunSink_)
        proofOfLife_->Start();
    tmrMinute_->start();
    // Push connections start once the event loop runs, not inside start-up.
    if (imapWatch_)
        tmrWatchStart_->start();
}

// "POPCommandTimeout" and "POPDownloadTimeout": whole seconds a POP3 command
// (a message download) may take in all. An unusable value is reported and
// the default kept.
void MainProgram::applyPopDeadlines() {
    if (!platform_.pop)
        return;
    auto seconds = [this](const QString& name, double fallback) {
        const QString text = platform_.store.read(kAppTitle, kSettingsSection, name, QString()).trimmed();
        if (text.isEmpty())
            return fallback;
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok && value > 0 && value <= 24 * 3600)
            return static_cast<double>(value);
        LogActivity(QStringLiteral("Setting %1 = \"%2\" is not a number of seconds from 1 to 86400; %3 is used")
                        .arg(name, text.left(40))
                        .arg(fallback));
        return fallback;
    };
    platform_.pop->SetCommandDeadline(
        seconds(QStringLiteral("POPCommandTimeout"), PopControl::kDefaultCommandDeadline));
    platform_.pop->SetDownloadDeadline(
        seconds(QStringLiteral("POPDownloadTimeout"), PopControl::kDefaultDownloadDeadline));
}

} // namespace tessaly
