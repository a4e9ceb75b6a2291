#pragma once
// A main program without windows, in virtual time, over a temporary program
// directory: what most tests of the program's logic start from.

#include "state/appinfo.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QTemporaryDir>
#include <memory>

namespace tessaly {

// The controls a test hands the program (all optional).
struct RigControls {
    TrayIcon* tray = nullptr;
    SerialControl* serial = nullptr;
    DialupControl* dialup = nullptr;
    PopControl* pop = nullptr;
    TcpControl* tcp = nullptr;
    SmtpControl* smtp = nullptr;
    LinkFactory* links = nullptr; // the version check's web requests
};

struct ProgramRig {
    using Controls = RigControls;

    QTemporaryDir dir;
    VirtualEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    HeadlessMainView view{false};
    std::unique_ptr<MainProgram> program;

    explicit ProgramRig(const QDateTime& start = QDateTime(QDate(2026, 12, 7), QTime(12, 0))) : pump(start) {}

    // The program with these controls, shown in `window` (the headless view
    // when none; a window must outlive the rig's program).
    MainProgram& create(const RigControls& c = RigControls(), MainView* window = nullptr) {
        program = std::make_unique<MainProgram>(
            PlatformServices{pump, prompter, store, sound, dir.path(), QSize(15360, 11520), c.tray, c.serial,
                             c.dialup, c.pop, c.tcp, c.smtp, c.links},
            window ? *window : static_cast<MainView&>(view));
        return *program;
    }
    // Start-up will load no profile.
    void noStartupProfile() { store.write(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), QString()); }
    // Creates the program and starts it without any startup profile.
    MainProgram& startWithoutProfile(const RigControls& c = RigControls()) {
        noStartupProfile();
        create(c).Startup(QString());
        return *program;
    }
    QString activity() const { return program->ActivityText(); }
};

} // namespace tessaly
