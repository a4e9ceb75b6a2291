// tessly: the Tessaly desktop program.
//   tessly [--headless] [profile]
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
#include "app/shippedresources.h"
#include "platform/bytelink.h"
#include "platform/dialupcontrol.h"
#include "platform/eventpump.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "platform/serialcontrol.h"
#include "platform/smtpcontrol.h"
#include "platform/headlessprompter.h"
#include "platform/programdir.h"
#include "platform/quitsignals.h"
#include "platform/settingsstore.h"
#include "platform/sounddevice.h"
#include "ui/platform/qtprompter.h"
#include "ui/platform/qttrayicon.h"
#include "ui/resize/twips.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace tessaly;

namespace {

struct Options {
    bool headless = false;
    bool check = false;
    bool help = false;
    QString commandLine; // everything that is not an option, joined by blanks
};

Options parse(int argc, char** argv) {
    Options o;
    QStringList rest;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            o.headless = true;
        else if (std::strcmp(argv[i], "--check") == 0)
            o.check = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            o.help = true;
        else
            rest << QString::fromLocal8Bit(argv[i]);
    }
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
        fail(QStringLiteral("the profile could not be loaded: %1").arg(profile.isEmpty() ? QStringLiteral("(none)") : profile));
        return 2;
    }
    bool anyEnabled = false;
    for (const CPOPAccount& account : program.POPAccounts())
        anyEnabled = anyEnabled || account.CheckMail();
    if (!anyEnabled) {
        fail(QStringLiteral("no POP3 account is enabled in %1").arg(profile));
        return 3;
    }
    switch (program.RunCheck(program.Settings().downloadFlag, program.Settings().pagingEnabled)) {
    case MainProgram::CheckRun::Done: break;
    case MainProgram::CheckRun::StateNotSaved:
        fail(QStringLiteral("the inbox state could not be saved: %1").arg(program.InboxStatePath()));
        return 4;
    case MainProgram::CheckRun::LockBusy:
        fail(QStringLiteral("another mail check is still running (lock %1 held for %2 seconds); nothing was checked")
                 .arg(program.CheckLockPath())
                 .arg(program.CheckLockWait()));
        return 5;
    }
    // Something was left undone (no connection, a login refused, a socket
    // error or time-out, a page not delivered): a status cron and systemd can alert on.
    if (!program.Session().LastOutcome().Clean()) {
        fail(QStringLiteral("the check ran with errors; see the activity log"));
        return 1;
    }
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
    if (options.help) {
        std::printf("Usage: tessly [--headless] [--check] [profile]\n"
                    "  --headless  run without windows; activity lines go to standard output\n"
                    "  --check     check mail once (download and paging as the profile says), then exit\n"
                    "Exit status of --check: 0 every enabled account read and every page delivered;\n"
                    "  1 checked with errors (no connection, a login refused, a socket error or\n"
                    "  time-out, a message header refused by the server, a page not delivered);\n"
                    "  2 profile not loaded; 3 no POP3 account enabled; 4 inbox state not saved;\n"
                    "  5 another check held the check lock for 120 s (nothing was checked)\n"
                    "Environment: TESSALY_HOME (program directory), XDG_CONFIG_HOME (settings)\n");
        return 0;
    }
    const bool headless = options.headless || options.check || !haveDisplay();

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
    const QString dirError = prepareProgramDirectory(programDir);
    if (!dirError.isEmpty()) {
        std::fprintf(stderr, "tessly: %s\n", dirError.toLocal8Bit().constData());
        return 2;
    }

    RealEventPump pump;
    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    auto sound = createWaveSoundDevice();

    // The main window's controls.
    TcpLinkFactory links;
    SocketRegistry sockets;
    Pop3Client pop(pump, links, sockets);
    TcpControl tcp(sockets);
    SmtpClient smtp(pump, links);
    QtSerialControl serial(store, kAppTitle);
    NmcliDialupControl dialup(pump);

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

    MainProgram program(PlatformServices{pump, *prompter, store, *sound, programDir,
                                         headless ? QSize(15360, 11520) : screenSizeTwips(),
                                         tray.get(), &serial, &dialup, &pop, &tcp, &smtp},
                        *view);
    std::unique_ptr<FrmStatus> statusWindow;
    if (window) {
        window->Bind(program);
        statusWindow = std::make_unique<FrmStatus>(program.Status());
        program.Status().Attach(statusWindow.get());
        QObject::connect(tray.get(), &TrayIcon::DoubleClicked, window,
                         [&program] { program.Display().TrayDoubleClicked(); });
    }
    if (auto* hp = dynamic_cast<HeadlessPrompter*>(prompter.get()))
        hp->setActivitySink([&program](const QString& line) { program.LogActivity(line); });

    // Runs from cron come every few minutes: they add to the log rather than
    // turning it over each time.
    program.SetContinueLog(options.check);
    program.Startup(options.commandLine);
    if (options.check)
        return runOneCheck(program);
    const int rc = app->exec();
    program.RememberInbox();
    // The status window keeps its position for the next run.
    if (statusWindow && program.Status().IsLoaded())
        statusWindow->close();
    program.Display().TrayRemove();
    program.Status().Attach(nullptr);
    sound->Close();
    return rc;
}
