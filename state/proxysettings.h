#pragma once
// Names of the proxy values in the program's settings section: written by
// the options dialog, read before every request of the version check and
// every WCTP page.

#include <QString>

namespace tessaly {

class SettingsStore;

inline const QString kUseProxy = QStringLiteral("UseProxy"); // "1" or "0"
inline const QString kProxyHostName = QStringLiteral("ProxyHostName");
inline const QString kProxyHostAddress = QStringLiteral("ProxyHostAddress");
inline const QString kProxyPort = QStringLiteral("ProxyPort"); // default 80

struct ProxySettings {
    bool use = false; // "1", "-1" or "True" (any letter case)
    QString hostName;
    QString hostAddress;
    int port = 80; // a stored port outside 1..65535 reads as 80
};

// The proxy as the settings file holds it now; the names and address trimmed.
ProxySettings LoadProxySettings(const SettingsStore& store);

} // namespace tessaly
