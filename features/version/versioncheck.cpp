#include "features/version/versioncheck.h"

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
constexpr qint16 kDefaultProxyPort = 80;
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
    auto report = [this](const QString& text) {
        ctx_.status.SetStatusLine(text);
        ctx_.activity.LogActivity(text);
    };
    connect(&probe, &novaprobe::CWebVersion::NovaprobeActivity, this, report);
    connect(&probe, &novaprobe::CWebVersion::NovaprobeError, this, report);
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

    const QString use = get(kUseProxy, QString()).trimmed();
    const bool useProxy = use == QLatin1String("1") || use == QLatin1String("-1") ||
                          use.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    probe_->SetUseProxy(useProxy);
    if (!useProxy) {
        probe_->SetProxyServer(QString());
        probe_->SetProxyAddress(QString());
        probe_->SetProxyPort(0);
        return;
    }
    probe_->SetProxyServer(get(kProxyHostName, QString()).trimmed());
    probe_->SetProxyAddress(get(kProxyHostAddress, QString()).trimmed());
    bool ok = false;
    const int port = get(kProxyPort, QString()).trimmed().toInt(&ok);
    probe_->SetProxyPort(static_cast<qint16>(ok && port > 0 && port <= 65535 ? port : kDefaultProxyPort));
}

void VersionCheck::Check() {
    if (!probe_)
        return;
    applySettings();
    probe_->CheckVersion();
}

} // namespace tessaly
