#include "state/proxysettings.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"

namespace tessaly {

ProxySettings LoadProxySettings(const SettingsStore& store) {
    auto get = [&](const QString& name) { return store.read(kAppTitle, kSettingsSection, name, QString()).trimmed(); };
    ProxySettings p;
    const QString use = get(kUseProxy);
    p.use = use == QLatin1String("1") || use == QLatin1String("-1") ||
            use.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    p.hostName = get(kProxyHostName);
    p.hostAddress = get(kProxyHostAddress);
    bool ok = false;
    const int port = get(kProxyPort).toInt(&ok);
    if (ok && port > 0 && port <= 65535)
        p.port = port;
    return p;
}

} // namespace tessaly
