#pragma once
// The profile and settings file of a program run as its own process against
// the test's Dovecot and modem simulator. The profile is written by the
// program's own profile writer.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <functional>
#include <utility>

namespace tessaly::testing {

// A direct connection that pages the headers, without retries, to pager
// 7654321 through the "Default" service (a paging terminal on COM2, blocks
// of `maxPageChars`), reading the Dovecot account "Work" (work / w0rk) on
// `popPort`. `adjust` changes what the test needs before the save.
inline void writeE2eProfile(const QString& home, const QString& profile, quint16 popPort, int maxPageChars,
                            const std::function<void(MainProgram&)>& adjust = {}) {
    VirtualEventPump vpump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    store.write(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), QString());
    FakeSoundDevice sound;
    HeadlessMainView view(false);
    MainProgram p(PlatformServices{vpump, prompter, store, sound, home, QSize(15360, 11520)}, view);
    p.Startup(QString());
    LiveSettings& s = p.Settings();
    s.connectionType = ConnDirect;
    s.pagingEnabled = true;
    s.pageHeaders = true;
    s.retries = 0;
    CPager& pager = p.Pagers().Item(1);
    pager.SetID(QStringLiteral("7654321"));
    pager.SetServiceName(QStringLiteral("Default"));
    CPagerService& service = p.Services().Item(1);
    service.SetName(QStringLiteral("Default"));
    setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
    service.SetMaxPageChar(static_cast<std::int16_t>(maxPageChars));
    p.POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("127.0.0.1"), popPort,
                        QStringLiteral("work"), QStringLiteral("w0rk"), true);
    if (adjust)
        adjust(p);
    p.SaveProfile(profile);
}

// The settings file: `profile` as the start-up profile, no version check,
// COM2 on the simulator's `device`. False when it could not be written.
inline bool writeE2eSettings(const QString& iniPath, const QString& profile, const QString& device) {
    IniSettingsStore ini(iniPath);
    ini.write(kAppTitle, kSettingsSection, QStringLiteral("Defaultfile"), profile);
    ini.write(kAppTitle, kSettingsSection, QStringLiteral("CheckUpdates"), QStringLiteral("False"));
    ini.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM2"), device);
    return ini.lastWriteOk();
}

// The settings-file values of a network pager type, written into the
// test's settings file as a user would: pager `pager` of the profile is of
// `type` ("WCTP", "SNPP"), and service `service` has `values` (names as in
// [Carrier Services]: "Address", "TLS", "Sender ID", "Security Code",
// "Receipts"). The names must be ones the program keys as they are (no
// "%", "=", "[" or "]"). False when a value could not be written.
inline bool writeE2eCarrier(const QString& iniPath, const QString& pager, const QString& type, const QString& service,
                            const QList<std::pair<QString, QString>>& values) {
    IniSettingsStore ini(iniPath);
    ini.write(kAppTitle, QStringLiteral("Pager Types"), pager, type);
    bool ok = ini.lastWriteOk();
    for (const auto& [name, value] : values) {
        ini.write(kAppTitle, QStringLiteral("Carrier Services"), service + QLatin1Char('.') + name, value);
        ok = ok && ini.lastWriteOk();
    }
    return ok;
}

} // namespace tessaly::testing
