#pragma once
// Names of the proxy values in the program's settings section: written by
// the options dialog, read before every request of the version check.

#include <QString>

namespace tessaly {

inline const QString kUseProxy = QStringLiteral("UseProxy"); // "1" or "0"
inline const QString kProxyHostName = QStringLiteral("ProxyHostName");
inline const QString kProxyHostAddress = QStringLiteral("ProxyHostAddress");
inline const QString kProxyPort = QStringLiteral("ProxyPort"); // default 80

} // namespace tessaly
