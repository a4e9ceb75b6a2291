// tessly: the Tessaly desktop program.
//   tessly [--headless] [--check] [profile]
//   tessly --show-profile [profile] | --set key=value... [profile]
//   tessly --status
// Without a display, or with --headless, it runs without windows and writes
// its activity lines to standard output too.

#include "state/appinfo.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmstatus.h"
#include "app/statusdisplay.h"
#include "features/mail/checksession.h"
#include "features/mail/cpopaccount.h"
#include "features/mail/inboxstate.h"
#include "state/commstatus.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "app/profiletext.h"
#include "app/registry.h"
#include "app/statusreport.h"
#include "features/paging/escalation.h"
#include "features/paging/manualpage.h"
#include "features/signin/tokensource.h"
#include "state/mailsecurity.h"
#include "state/signinsettings.h"
#include "app/shippedresources.h"
#include "platform/bytelink.h"
#include "platform/dialupcontrol.h"
#include "platform/eventpump.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "platform/serialcontrol.h"
#include "platform/sessioncontrol.h"
#include "platform/smtpcontrol.h"
#include "platform/headlessprompter.h"
#include "platform/programdir.h"
#include "platform/quitsignals.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"
#include "platform/sounddevice.h"
#include "ui/platform/qtprompter.h"
#include "ui/platform/qttrayicon.h"
#include "ui/remote/frmshutdown.h"
#include "ui/resize/twips.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#include <memory>

using namespace tessaly;

namespace {

enum class Mode { Run, Help, Version, ShowProfile, SetProfile, Status, TestPage, Acknowledge, SignIn };

struct Options {
    Mode mode = Mode::Run;
    bool headless = false;
    bool check = false;
    bool verbose = false;
    bool dryRun = false;
    int testPager = 1;       // --test-page: the pager's number
    QString signInTarget;    // --sign-in: "account.N" or "smtp"
    QString commandLine;     // everything that is not an option, joined by blanks
    QStringList assignments; // --set: the key=value arguments
    QString usageError;      // set when the command line is not understood
};

const char* const kUsage = "Usage: tessly [--headless] [--check [--dry-run]] [--verbose] [profile]\n"
                           "       tessly --show-profile [profile]\n"
                           "       tessly --set key=value... [profile]\n"
                           "       tessly --status\n"
                           "       tessly --acknowledge\n"
                           "       tessly --sign-in account.N|smtp [profile]\n"
                           "       tessly --test-page [N] [--verbose] [profile]\n"
                           "       tessly --help | --version\n";

Options parse(int argc, char** argv) {
    Options o;
    QStringList rest;
    auto setMode = [&o](Mode m, const char* arg) {
        if (o.mode != Mode::Run && o.mode != m)
            o.usageError = QStringLiteral("%1 cannot be combined with the other command").arg(QLatin1String(arg));
        o.mode = m;
    };
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--headless"))
            o.headless = true;
        else if (arg == QLatin1String("--check"))
            o.check = true;
        else if (arg == QLatin1String("--verbose"))
            o.verbose = true;
        else if (arg == QLatin1String("--dry-run"))
            o.dryRun = true;
        else if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            setMode(Mode::Help, argv[i]);
        else if (arg == QLatin1String("--version"))
            setMode(Mode::Version, argv[i]);
        else if (arg == QLatin1String("--show-profile"))
            setMode(Mode::ShowProfile, argv[i]);
        else if (arg == QLatin1String("--set"))
            setMode(Mode::SetProfile, argv[i]);
        else if (arg == QLatin1String("--status"))
            setMode(Mode::Status, argv[i]);
        else if (arg == QLatin1String("--acknowledge"))
            setMode(Mode::Acknowledge, argv[i]);
        else if (arg == QLatin1String("--sign-in")) {
            setMode(Mode::SignIn, argv[i]);
            if (i + 1 < argc)
                o.signInTarget = QString::fromLocal8Bit(argv[++i]);
            static const QRegularExpression target(QStringLiteral("^(account\\.[1-9][0-9]?|smtp)$"));
            if (!target.match(o.signInTarget).hasMatch())
                o.usageError = QStringLiteral("--sign-in takes account.N (the mail account's number) or smtp");
        } else if (arg == QLatin1String("--test-page")) {
            setMode(Mode::TestPage, argv[i]);
            // An optional pager number follows.
            bool number = false;
            const int n = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]).toInt(&number) : 0;
            if (number) {
                ++i;
                o.testPager = n;
                if (n < 1)
                    o.usageError = QStringLiteral("--test-page takes a pager number from 1");
            }
        } else if (arg == QLatin1String("--"))
            for (++i; i < argc; ++i)
                rest << QString::fromLocal8Bit(argv[i]);
        else if (arg.startsWith(QLatin1Char('-')))
            o.usageError = QStringLiteral("unknown option %1").arg(arg);
        else if (o.mode == Mode::SetProfile && arg.contains(QLatin1Char('=')))
            o.assignments << arg;
        else
            rest << arg;
    }
    if (o.usageError.isEmpty() && o.mode == Mode::SetProfile && o.assignments.isEmpty())
        o.usageError = QStringLiteral("--set needs at least one key=value");
    if (o.usageError.isEmpty() && (o.mode == Mode::ShowProfile || o.mode == Mode::SetProfile) && rest.size() > 1)
        o.usageError = QStringLiteral("more than one profile named: %1").arg(rest.join(QStringLiteral(", ")));
    if (o.usageError.isEmpty() && (o.mode == Mode::ShowProfile || o.mode == Mode::SetProfile) &&
        (o.check || o.headless))
        o.usageError = QStringLiteral("--show-profile and --set do not take --check or --headless");
    if (o.usageError.isEmpty() && o.dryRun && (o.mode != Mode::Run || !o.check))
        o.usageError = QStringLiteral("--dry-run goes with --check only");
    if (o.usageError.isEmpty() && o.mode == Mode::TestPage && (o.check || o.headless))
        o.usageError = QStringLiteral("--test-page does not take --check or --headless");
    if (o.usageError.isEmpty() && o.verbose && o.mode != Mode::Run && o.mode != Mode::TestPage)
        o.usageError = QStringLiteral("--verbose goes with a check or the running program only");
    if (o.usageError.isEmpty() && o.mode == Mode::Status && (o.check || o.headless || !rest.isEmpty()))
        o.usageError = QStringLiteral("--status takes no profile, --check or --headless");
    if (o.usageError.isEmpty() && o.mode == Mode::SignIn && (o.check || o.headless || rest.size() > 1))
        o.usageError = QStringLiteral("--sign-in takes at most a profile, not --check or --headless");
    if (o.usageError.isEmpty() && o.mode == Mode::Acknowledge && (o.check || o.headless || !rest.isEmpty()))
        o.usageError = QStringLiteral("--acknowledge takes no profile, --check or --headless");
    o.commandLine = rest.join(QLatin1Char(' '));
    return o;
}

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

void fail(const QString& text) { std::fprintf(stderr, "tessly: %s\n", text.toLocal8Bit().constData()); }

// One check from the command line. What earlier runs paged comes from the
// inbox state file, under the lock every check holds, so nothing is paged twice.
int runOneCheck(MainProgram& program) {
    const QString profile = program.CurrentProfileName();
    if (profile.isEmpty() || program.ProfileLoadFailed()) {
        fail(QStringLiteral("the profile could not be loaded: %1")
                 .arg(profile.isEmpty() ? QStringLiteral("(none)") : profile));
        return 2;
    }
    bool anyEnabled = false;
    for (const CPOPAccount& account : program.POPAccounts())
        anyEnabled = anyEnabled || account.CheckMail();
    if (!anyEnabled) {
        fail(QStringLiteral("no POP3 account is enabled in %1").arg(profile));
        return 3;
    }
    const MainProgram::CheckRun run =
        program.RunCheck(program.Settings().downloadFlag, program.Settings().pagingEnabled);
    switch (run) {
    case MainProgram::CheckRun::Done: break;
    case MainProgram::CheckRun::StateNotSaved:
        fail(QStringLiteral("the inbox state could not be saved: %1").arg(program.InboxStatePath()));
        return 4;
    case MainProgram::CheckRun::CannotRecord:
        fail(QStringLiteral("the page ledger %1 cannot be written; nothing was checked or paged")
                 .arg(program.PageLedgerPath()));
        return 4;
    case MainProgram::CheckRun::LockBusy:
        fail(QStringLiteral("another mail check is still running (lock %1 held for %2 seconds); nothing was checked")
                 .arg(program.CheckLockPath())
                 .arg(program.CheckLockWait()));
        return 5;
    }
    // Something was left undone (no connection, a login refused, a socket
    // error or time-out, a page not delivered): a status cron and systemd can alert on.
    const int status = MainProgram::CheckExitStatus(run, program.Session().LastOutcome());
    if (status != 0)
        fail(QStringLiteral("the check ran with errors; see the activity log"));
    return status;
}

const char* pagerTypeName(PagerType type) {
    switch (type) {
    case PagerAlphaDialUp: return "modem";
    case PagerAlphaSMTP: return "e-mail";
    case PagerNumeric: return "numeric";
    case PagerWCTP: return "WCTP";
    case PagerSNPP: return "SNPP";
    case PagerAlphaTCP: return "TCP terminal";
    }
    return "unknown";
}

// The test page to pager `number` through its channel, as the options
// dialog sends it, with the values the profile holds.
int sendTestPage(MainProgram& program, int number) {
    const QString profile = program.CurrentProfileName();
    if (profile.isEmpty() || program.ProfileLoadFailed()) {
        fail(QStringLiteral("the profile could not be loaded: %1")
                 .arg(profile.isEmpty() ? QStringLiteral("(none)") : profile));
        return 2;
    }
    if (number > program.Pagers().Count()) {
        fail(QStringLiteral("there is no pager %1; %2 has %3").arg(number).arg(profile).arg(program.Pagers().Count()));
        return 3;
    }
    const CPager& pager = program.Pagers().Item(number);
    manualpage::TestPager t;
    t.service = pager.ServiceName();
    t.type = static_cast<PagerType>(pager.PagerType());
    t.pagerId = pager.ID();
    t.emailAddress = pager.EmailAddress();
    t.fromAddress = pager.FromAddress();
    t.numericPhone = pager.DigitalNumber();
    const QString address = t.type == PagerAlphaSMTP ? t.emailAddress
                            : t.type == PagerNumeric ? t.numericPhone
                                                     : t.pagerId;
    const QString text = t.type == PagerNumeric ? manualpage::kNumericTestText : manualpage::kTestText;
    std::printf("tessly: test page to pager %d (%s, %s) through service \"%s\": %s\n", number, pagerTypeName(t.type),
                address.toLocal8Bit().constData(), t.service.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stdout);
    ManualPageContext ctx = program.ManualPageServices();
    const manualpage::TestOutcome outcome = manualpage::SendTestPage(ctx, t, program.Services());
    using Outcome = manualpage::TestOutcome;
    const char* said = outcome == Outcome::Delivered      ? "delivered"
                       : outcome == Outcome::Cancelled    ? "cancelled, not delivered"
                       : outcome == Outcome::NotDelivered ? "not delivered"
                                                          : "not sent: a value it needs is missing";
    std::printf("tessly: test page %s\n", said);
    return outcome == Outcome::Delivered ? 0 : outcome == Outcome::Refused ? 3 : 1;
}

// Signs a mail account (or the outgoing server) in with OAuth 2.0: the code
// to enter and where, or the address to open in a browser, go to standard
// output; the tokens go to the secret store only.
int signIn(MainProgram& program, const QString& target, Shell* shell) {
    const QString profile = program.CurrentProfileName();
    if (profile.isEmpty() || program.ProfileLoadFailed()) {
        fail(QStringLiteral("the profile could not be loaded: %1")
                 .arg(profile.isEmpty() ? QStringLiteral("(none)") : profile));
        return 2;
    }
    const SettingsStore& store = program.Platform().store;
    SignInTarget who;
    QString loginHint;
    bool imap = false;
    if (target == QLatin1String("smtp")) {
        loginHint = LoadMailSecurity(store).smtpUser;
    } else {
        const int n = target.mid(int(qstrlen("account."))).toInt();
        if (n > program.POPAccounts().Count()) {
            fail(QStringLiteral("there is no mail account %1; %2 has %3")
                     .arg(n)
                     .arg(profile)
                     .arg(program.POPAccounts().Count()));
            return 3;
        }
        const CPOPAccount& account = program.POPAccounts().Item(n);
        who.account = account.Name();
        loginHint = account.Username();
        imap = ReadMailProtocol(&store, account.Name()) == MailProtocol::Imap;
    }
    if (!LoadOAuthSettings(store, who).on) {
        fail(QStringLiteral("%1 signs in with its password; set %2.signin=oauth (and its provider and client ID) "
                            "first")
                 .arg(who.Text(), target));
        return 3;
    }
    TokenSource* tokens = program.Tokens();
    if (!tokens) {
        fail(QStringLiteral("this run cannot reach the network"));
        return 1;
    }
    TokenSource::Prompts prompts;
    prompts.code = [](const DeviceCodePrompt& p) {
        std::printf("tessly: to sign in, open %s and enter the code %s (within %lld minutes)\n",
                    p.verificationUri.toLocal8Bit().constData(), p.userCode.toLocal8Bit().constData(),
                    static_cast<long long>((p.expiresIn + 59) / 60));
        if (!p.verificationUriComplete.isEmpty())
            std::printf("tessly: or open %s\n", p.verificationUriComplete.toLocal8Bit().constData());
        std::fflush(stdout);
    };
    prompts.url = [shell](const QString& url) {
        std::printf("tessly: to sign in, open this address in a browser:\n%s\n", url.toLocal8Bit().constData());
        std::fflush(stdout);
        if (shell && haveDisplay())
            shell->Open(url);
    };
    const OAuthResult r = tokens->SignIn(who, imap, loginHint, prompts);
    if (!r.ok()) {
        fail(QStringLiteral("%1 was not signed in: %2").arg(who.Text(), r.reason));
        return 1;
    }
    std::printf("tessly: %s is signed in\n", who.Text().toLocal8Bit().constData());
    return 0;
}

// A relative profile path names a file in the folder the program was started
// from; start-up later makes the program directory the current one.
QString absoluteProfilePath(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isRelative())
        return path;
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

} // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    options.commandLine = absoluteProfilePath(options.commandLine);
    switch (options.mode) {
    case Mode::Help:
        std::printf("%s"
                    "  --headless      run without windows; activity lines go to standard output\n"
                    "  --check         check mail once (download and paging as the profile says), then exit\n"
                    "  --dry-run       with --check: read, filter and compose as a check does, print each\n"
                    "                  message's verdict and the pages with their blocks; page nothing\n"
                    "                  and change no file\n"
                    "  --verbose       the traffic of the terminal window on standard error (passwords\n"
                    "                  masked), and whether each connection is encrypted, and how\n"
                    "  --show-profile  print every setting of the profile as \"section.key = value\" lines\n"
                    "                  (passwords masked)\n"
                    "  --set           change settings of the profile and save it; nothing is written\n"
                    "                  when a key is unknown or a value refused\n"
                    "  --test-page [N] send the test page to pager N (default 1) as the profile has it,\n"
                    "                  print what was sent and the outcome\n"
                    "  --status        print the last check's time and result, the pages since, pending\n"
                    "                  pages, the last pages delivered with their delay from the mail\n"
                    "                  first seen, the alarm, and the next scheduled check, from the\n"
                    "                  program's files\n"
                    "  --acknowledge   clear the alarm that a page could not be delivered on any pager\n"
                    "  --sign-in account.N|smtp\n"
                    "                  sign mail account N (or the outgoing server) in with OAuth 2.0:\n"
                    "                  prints the code to enter and where, or the address to open\n"
                    "  --help, --version\n"
                    "Without a profile, --show-profile and --set use the startup profile.\n"
                    "Pager types (pager.N.type): alpha-modem, alpha-smtp, numeric, wctp, snpp, alpha-tcp;\n"
                    "  the last three page pager.N.id at service.N.address.\n"
                    "Mail accounts (account.N.protocol): pop3 or imap, with account.N.folder for IMAP;\n"
                    "  the running program keeps IMAP accounts idling and pages new mail at once.\n"
                    "OAuth 2.0 (account.N.signin or smtp.signin = oauth): oauth_provider is google,\n"
                    "  microsoft or custom; oauth_client_id (and oauth_client_secret where the provider\n"
                    "  wants one) come from the provider's developer console; custom also takes\n"
                    "  oauth_authorization_url, oauth_token_url, oauth_device_url and oauth_scope.\n"
                    "Escalation: escalation.fallback lists the pagers tried, in order, when pager 1 does not\n"
                    "  deliver a page (numbers or user names, comma-separated; empty: none);\n"
                    "  escalation.notify is the address of the failure notice; proof_of_life.time is\n"
                    "  the daily test page's time through every pager of the chain (HH:MM or off).\n"
                    "Exit status of --check: 0 every enabled account read and every page delivered;\n"
                    "  1 checked with errors (no connection, a login refused, a socket error or\n"
                    "  time-out, a message header refused by the server, a page not delivered);\n"
                    "  2 profile not loaded; 3 no POP3 account is enabled; 4 inbox state not saved or\n"
                    "  pages cannot be recorded;\n"
                    "  5 another check held the check lock for 120 s (nothing was checked);\n"
                    "  with a fallback chain, 1 also when a page was given up on every pager of it\n"
                    "Exit status of --test-page: 0 delivered; 1 not delivered or cancelled; 2 profile not\n"
                    "  loaded; 3 no such pager, or a value the page needs is empty.\n"
                    "Exit status of --status: 0 the last check ran clean; 1 it ran with errors or did\n"
                    "  not run, or an alarm is not acknowledged; 2 its record cannot be read; 3 no check\n"
                    "  recorded yet.\n"
                    "Exit status of --sign-in: 0 signed in; 1 not signed in; 2 profile not loaded;\n"
                    "  3 no such account, or it does not sign in with OAuth 2.0.\n"
                    "Exit status of --set: 0 saved; 2 profile not loaded; 64 a key or value refused;\n"
                    "  73 the profile could not be written. 64 also for a command line not understood.\n"
                    "Environment: TESSALY_HOME (program directory), XDG_CONFIG_HOME (settings)\n",
                    kUsage);
        return 0;
    case Mode::Version: std::printf("tessly %s\n", VersionString().toLocal8Bit().constData()); return 0;
    default: break;
    }
    if (!options.usageError.isEmpty()) {
        fail(options.usageError);
        std::fputs(kUsage, stderr);
        return 64;
    }
    const bool profileText = options.mode == Mode::ShowProfile || options.mode == Mode::SetProfile;
    const bool headless = profileText || options.mode == Mode::Status || options.mode == Mode::Acknowledge ||
                          options.mode == Mode::TestPage || options.mode == Mode::SignIn || options.headless ||
                          options.check || !haveDisplay();

    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly"));
    QCoreApplication::setApplicationVersion(VersionString());
    quitOnTerminationSignals();

    initShippedResources();
    const QString programDir = programDirectory();
    if (options.mode == Mode::Status) {
        // From the files alone: nothing is created, locked or checked.
        QString out;
        const IniSettingsStore settings(IniSettingsStore::defaultFilePath());
        const int rc = StatusReport(programDir, QDateTime::currentDateTime(), out, &settings);
        std::fputs(out.toLocal8Bit().constData(), stdout);
        return rc;
    }
    if (options.mode == Mode::Acknowledge) {
        IniSettingsStore settings(IniSettingsStore::defaultFilePath());
        if (!LoadAlarm(settings).Set()) {
            std::printf("tessly: no alarm to acknowledge\n");
            return 0;
        }
        if (const QString why = AcknowledgeAlarm(settings); !why.isEmpty()) {
            std::fprintf(stderr, "tessly: the alarm could not be cleared: %s\n", why.toLocal8Bit().constData());
            return 73;
        }
        std::printf("tessly: alarm acknowledged\n");
        return 0;
    }
    const QString dirError = prepareProgramDirectory(programDir);
    if (!dirError.isEmpty()) {
        std::fprintf(stderr, "tessly: %s\n", dirError.toLocal8Bit().constData());
        return 2;
    }

    RealEventPump pump;
    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    store.setFailureSink(
        [](const QString& why) { std::fprintf(stderr, "tessly: %s\n", why.toLocal8Bit().constData()); });
    // A dry run reads the settings and writes none of them back.
    store.setReadOnly(options.dryRun);
    // Without windows nobody is at the machine to hear it, and opening the
    // audio system there only writes its warnings to standard error.
    auto sound = headless ? createSilentSoundDevice() : createWaveSoundDevice();

    // The main window's controls.
    TcpLinkFactory links;
    auto toStderr = [](const QString& text) {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    };
    if (options.verbose)
        links.SetTrace([toStderr](const QString& line) { toStderr(QStringLiteral("tessly: ") + line + '\n'); });
    SocketRegistry sockets;
    Pop3Client pop(pump, links, sockets);
    TcpControl tcp(sockets);
    SmtpClient smtp(pump, links);
    QtSerialControl serial(store, kAppTitle);
    NmcliDialupControl dialup(pump);
    DesktopShell shell;

    std::unique_ptr<Prompter> prompter;
    std::unique_ptr<MainView> view;
    std::unique_ptr<TrayIcon> tray;
    FrmMain* window = nullptr;
    if (headless) {
        prompter = std::make_unique<HeadlessPrompter>();
        view = std::make_unique<HeadlessMainView>();
    } else {
        auto w = std::make_unique<FrmMain>();
        window = w.get();
        prompter = std::make_unique<QtPrompter>(kAppTitle, window);
        tray = std::make_unique<QtTrayIcon>(window->PopupMenu());
        view = std::move(w);
    }

    // Remote commands: logind, and the countdown in a window (standard
    // output without one).
    LogindSessionControl logind;
    CountdownViewFactory countdownView;
    if (window)
        countdownView = [window] { return std::make_unique<FrmShutdown>(window); };

    MainProgram program(PlatformServices{pump, *prompter, store, *sound, programDir,
                                         headless ? QSize(15360, 11520) : screenSizeTwips(), tray.get(), &serial,
                                         &dialup, &pop, &tcp, &smtp, &links, &shell, &logind, countdownView},
                        *view);
    store.setFailureSink([&program](const QString& why) { program.LogActivity(why); });
    if (profileText) {
        const QString path =
            options.commandLine.isEmpty() ? readStartupValues(store, programDir).profileName : options.commandLine;
        QString out, err;
        const int rc = options.mode == Mode::ShowProfile ? ShowProfileCommand(program, path, out, err)
                                                         : SetProfileCommand(program, path, options.assignments, err);
        std::fputs(out.toLocal8Bit().constData(), stdout);
        std::fputs(err.toLocal8Bit().constData(), stderr);
        return rc;
    }
    std::unique_ptr<FrmStatus> statusWindow;
    if (window) {
        window->Bind(program);
        statusWindow = std::make_unique<FrmStatus>(program.Status());
        program.Status().Attach(statusWindow.get());
        QObject::connect(tray.get(), &TrayIcon::DoubleClicked, window,
                         [&program] { program.Display().TrayDoubleClicked(); });
    }
    if (options.verbose)
        program.GetTerminal().SetTap([toStderr](const QString& text) { toStderr(Terminal::Printable(text)); });
    if (auto* hp = dynamic_cast<HeadlessPrompter*>(prompter.get()))
        hp->setActivitySink([&program](const QString& line) { program.LogActivity(line); });

    // Runs from cron come every few minutes: they add to the log rather than
    // turning it over each time.
    program.SetContinueLog(options.check);
    program.SetResident(!options.check);
    if (options.dryRun)
        program.SetDryRun([](const QString& line) {
            std::printf("dry run: %s\n", line.toLocal8Bit().constData());
            std::fflush(stdout);
        });
    if (headless && !options.check)
        program.SetCheckRecordSink([](const CheckRecord& r) {
            const QString next = r.nextCheck ? r.nextCheck->toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                             : QStringLiteral("none scheduled");
            std::printf("tessly: next mail check: %s\n", next.toLocal8Bit().constData());
            std::fflush(stdout);
        });
    program.Startup(options.commandLine);
    if (options.check)
        return runOneCheck(program);
    if (options.mode == Mode::TestPage)
        return sendTestPage(program, options.testPager);
    if (options.mode == Mode::SignIn)
        return signIn(program, options.signInTarget, &shell);
    const int rc = app->exec();
    if (headless) {
        std::printf("tessly: stopped (exit status %d)\n", rc);
        std::fflush(stdout);
    }
    program.RememberInbox();
    // The status window keeps its position for the next run.
    if (statusWindow && program.Status().IsLoaded())
        statusWindow->close();
    program.Display().TrayRemove();
    program.Status().Attach(nullptr);
    sound->Close();
    return rc;
}
