#include "features/version/versioncheck.h"

#include "state/proxysettings.h"

#include "state/appinfo.h"
#include "state/appstate.h"
#include "state/commstatus.h"
#include "platform/eventpump.h"
#include "platform/settingsstore.h"

#include <novaprobe/cwebversion.h>
#include <webwire/chttp.h>

namespace tessaly {

namespace {
const QString kScript = QStringLiteral("/cgi-bin/novaprobe.cgi");
} // namespace

VersionCheck::VersionCheck(VersionCheckContext ctx) : ctx_(ctx) {}

VersionCheck::~VersionCheck() = default;

QString VersionCheck::ScriptAddress(const QString& server) {
    QString address = server.trimmed();
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        address.remove(0, 7);
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address + kScript;
}

void VersionCheck::SetupVersionCheck() {
    probe_ = std::make_unique<novaprobe::CWebVersion>(ctx_.store, ctx_.pump, ctx_.prompter);
    novaprobe::CWebVersion& probe = *probe_;
    probe.SetHttpFactory([this] { return std::make_unique<webwire::CHTTP>(ctx_.pump, ctx_.links, ctx_.prompter); });
    probe.SetUseWindows(ctx_.windows);
    applySettings();
    probe.SetProductID(kProductId);
    probe.SetProductName(kAppTitle);
    probe.SetAppVersion(VersionString());
    probe.SetDailyCheck(true);
    probe.SetShowTerminal(false);
    connect(&probe, &novaprobe::CWebVersion::NovaprobeActivity, this, [this](const QString& text) {
        ctx_.status.SetStatusLine(text);
        if (!checking_) {
            ctx_.activity.LogActivity(text);
            return;
        }
        flushHeld();
        // The opening line waits for what follows: a failed fetch joins it.
        held_ = text;
    });
    connect(&probe, &novaprobe::CWebVersion::NovaprobeError, this, [this](const QString& text) {
        ctx_.status.SetStatusLine(text);
        if (!checking_) {
            ctx_.activity.LogActivity(text);
            return;
        }
        // A failed request is said once: what follows from it (a second
        // word on the same failure, the values the empty answer lacks) is
        // not logged one by one.
        if (fetchFailed_)
            return;
        if (text.startsWith(QLatin1String("Keyword ")) || held_.isEmpty()) {
            // A page that lacks a value, or a later request of the check.
            flushHeld();
            ctx_.activity.LogActivity(text);
            return;
        }
        fetchFailed_ = true;
        held_.clear();
        ctx_.activity.LogActivity(QStringLiteral("Version check failed: ") + text);
    });
    // Dropped once the library's call has returned.
    connect(
        &probe, &novaprobe::CWebVersion::UnloadNovaprobe, this,
        [this] {
            if (probe_)
                probe_.release()->deleteLater();
        },
        Qt::QueuedConnection);
}

void VersionCheck::applySettings() {
    auto get = [this](const QString& name, const QString& def) {
        return ctx_.store.read(kAppTitle, kSettingsSection, name, def);
    };
    QString server = get(kUpdateServerSetting, kMakerServer);
    if (server.trimmed().isEmpty())
        server = kMakerServer;
    probe_->SetCGIURL(ScriptAddress(server));

    const ProxySettings proxy = LoadProxySettings(ctx_.store);
    probe_->SetUseProxy(proxy.use);
    probe_->SetProxyServer(proxy.use ? proxy.hostName : QString());
    probe_->SetProxyAddress(proxy.use ? proxy.hostAddress : QString());
    probe_->SetProxyPort(static_cast<qint16>(proxy.use ? proxy.port : 0));
}

void VersionCheck::Check() {
    if (!probe_)
        return;
    applySettings();
    checking_ = true;
    fetchFailed_ = false;
    held_.clear();
    probe_->CheckVersion();
    flushHeld();
    checking_ = false;
}

void VersionCheck::flushHeld() {
    if (held_.isEmpty())
        return;
    ctx_.activity.LogActivity(held_);
    held_.clear();
}

} // namespace tessaly
