#pragma once
// The program's side of the version check: creates Novaprobe's CWebVersion
// (g_Novaprobe) at start-up with the program's identity, passes its activity
// and errors to the status line and the activity log, and runs its check
// when the mail check asks. A check whose request fails is one activity
// line, "Version check failed: " + the reason: neither the opening line nor
// the values the empty answer lacks are logged on their own.
//
// Settings read from the program's section (each read again before every
// check, so a change made while the program runs is used):
//   "UpdateServer"   the maker's web server (default kMakerServer); the
//                    script is this address + "/cgi-bin/novaprobe.cgi"
//   "UseProxy", "ProxyHostName", "ProxyHostAddress", "ProxyPort"
//                    the proxy the options dialog keeps; handed to the
//                    version check only when "UseProxy" is on

#include "state/proxysettings.h"
#include <QObject>
#include <QString>
#include <memory>

namespace novaprobe {
class CWebVersion;
}

namespace tessaly {

class ActivityLog;
class EventPump;
class LinkFactory;
class Prompter;
class SettingsStore;
class StatusWindow;

inline const QString kUpdateServerSetting = QStringLiteral("UpdateServer");

struct VersionCheckContext {
    EventPump& pump;
    LinkFactory& links; // the sockets of the version check's requests
    Prompter& prompter;
    SettingsStore& store;
    StatusWindow& status;
    ActivityLog& activity;
    // False for a run without windows: notices go to the activity log.
    bool windows;
};

class VersionCheck : public QObject {
    Q_OBJECT
public:
    explicit VersionCheck(VersionCheckContext ctx);
    ~VersionCheck() override;

    // Creates g_Novaprobe and sets its properties.
    void SetupVersionCheck();
    // CheckVersion of g_Novaprobe (nothing before SetupVersionCheck).
    void Check();
    // g_Novaprobe, or none.
    novaprobe::CWebVersion* Novaprobe() const { return probe_.get(); }

    // The script's address for a server address: a plain "http://" is
    // dropped (it is the default) and a trailing "/" too.
    static QString ScriptAddress(const QString& server);

private:
    void applySettings();
    void flushHeld();
    VersionCheckContext ctx_;
    std::unique_ptr<novaprobe::CWebVersion> probe_;
    // Within Check(): the line not yet logged, and whether the request failed.
    bool checking_ = false;
    bool fetchFailed_ = false;
    QString held_;
};

} // namespace tessaly
