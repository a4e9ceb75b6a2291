#pragma once
// CWebVersion, Novaprobe's version check. A host fills in the properties and
// calls CheckVersion once its internet connection is up; the object asks the
// maker's server script whether a newer version or a new bulletin exists,
// remembers in the per-user settings what it has already shown, and opens its
// notice windows without blocking.
//
//     novaprobe::CWebVersion probe;
//     QObject::connect(&probe, &novaprobe::CWebVersion::NovaprobeActivity, host, &Host::log);
//     QObject::connect(&probe, &novaprobe::CWebVersion::NovaprobeError, host, &Host::log);
//     probe.SetCGIURL(QStringLiteral("www.example.com/cgi-bin/novaprobe.cgi"));
//     probe.SetProductID(QStringLiteral("10110000001"));
//     probe.SetProductName(QStringLiteral("My Program 1.0"));
//     probe.SetAppVersion(QStringLiteral("1.0.0003"));
//     probe.SetDailyCheck(true);
//     probe.CheckVersion();
//
// Requests: every fetch is one GetURLData of a fresh Webwire CHTTP, at
//   CGIURL?productid=ID&version=V      (CheckVersion, GetMessages)
//   CGIURL?productid=ID&bulletin=N     (GetBulletin)
//   CGIURL?productid=ID                (CheckServerVersion)
// The answer carries its values between "<!NAME>" and "<!/NAME>" (NEWVERSION,
// DOWNLOADURL, MESSAGE, BULLETIN#, SERVERDATE1/2, SERVERFILE1/2). A missing
// tag raises NovaprobeError "Keyword <tag> not found." and reads as empty.
//
// Versions are "major.minor.revision"; the server's is newer when it is
// greater in that order (major first, then minor, then revision).
//
// Per-user values (section "Settings" under ProductName):
// "NovaprobeBulletin" (last bulletin shown), "NovaprobeIgnore" (a version
// the user chose to ignore), "Novaprobe" and "NovaprobeServer" (days of the
// last checks, "mm/dd/yyyy").
//
// Nothing is thrown; failures come back as NovaprobeError and a false or
// empty result.

#include "novaprobe/novaprobe_global.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace tessaly {
class Clock;
class Prompter;
class SettingsStore;
} // namespace tessaly

namespace webwire {
class CHTTP;
}

namespace novaprobe {

class NOVAPROBE_EXPORT CWebVersion : public QObject {
    Q_OBJECT
public:
    // Makes the CHTTP object of one fetch (the host's own event pump and
    // sockets, or a test's). Empty: a CHTTP on the real event loop.
    using HttpFactory = std::function<std::unique_ptr<webwire::CHTTP>()>;
    // Opens a web address with the system's handler; false when it could not.
    using UrlOpener = std::function<bool(const QString& url)>;

    // Settings in the user's settings file, the system clock, real sockets.
    explicit CWebVersion(QObject* parent = nullptr);
    // A host's own settings store, clock (for "today") and message boxes.
    CWebVersion(tessaly::SettingsStore& store, const tessaly::Clock& clock, tessaly::Prompter& prompter,
                QObject* parent = nullptr);
    ~CWebVersion() override;

    bool ShowTerminal() const;
    void SetShowTerminal(bool v);
    bool DailyCheck() const;
    void SetDailyCheck(bool v);
    QString ProductID() const;
    void SetProductID(const QString& v);
    // The server script's address, scheme optional.
    QString CGIURL() const;
    void SetCGIURL(const QString& v);
    QString DownloadURL() const;
    void SetDownloadURL(const QString& v);
    // Shown in the notice windows; the application name of the settings.
    QString ProductName() const;
    void SetProductName(const QString& v);
    QString Message() const;
    void SetMessage(const QString& v);
    QString WebVersion() const;
    void SetWebVersion(const QString& v);
    QString AppVersion() const;
    void SetAppVersion(const QString& v);
    // Through a proxy: turn UseProxy on and give the proxy's host name or
    // address and its port; every fetch then goes through it. The port's
    // 16 bits are read unsigned (-1 is port 65535).
    bool UseProxy() const;
    void SetUseProxy(bool v);
    QString ProxyAddress() const;
    void SetProxyAddress(const QString& v);
    QString ProxyServer() const;
    void SetProxyServer(const QString& v);
    qint16 ProxyPort() const;
    void SetProxyPort(qint16 v);
    // Days between daily checks (1: a check made one day is repeated the
    // day after the next).
    qint16 NumDays() const;
    void SetNumDays(qint16 v);

    // Off: the notices are raised as NovaprobeActivity lines instead of
    // opening windows (a host without a display). Windows are never opened
    // where the host runs no QApplication.
    bool UseWindows() const;
    void SetUseWindows(bool v);
    void SetHttpFactory(HttpFactory factory);
    void SetUrlOpener(UrlOpener opener);

    // True when the server names a newer version than AppVersion; false
    // when no check was due, the version is not newer, or on error.
    bool CheckVersion();
    // The server's message for this product and version.
    QString GetMessages();
    // The bulletin with that number.
    QString GetBulletin(qint16& iBulletin);
    // Shows Message in a new message window without blocking.
    void ShowMessages();
    // The library's own version, "1.1.0000".
    QString GetMyVersion() const;
    // Once a day: true when the server lists server files newer than the
    // two dates; their names come back in the two texts.
    bool CheckServerVersion(const QDate& ServerDate1, const QDate& ServerDate2, QString& sServerFile1,
                            QString& sServerFile2);

signals:
    void NovaprobeError(const QString& sMessage);
    void NovaprobeActivity(const QString& sMessage);
    // Declared for hosts; never raised.
    void UnloadNovaprobe();

private:
    struct Impl;
    QString fetch(const QString& query);
    QString readTag(const QString& name);
    QString setting(const QString& name, const QString& defaultValue) const;
    void store(const QString& name, const QString& value);
    QDate today() const;
    void showNotice(bool bulletin);
    void noticeLines(const QString& text);
    std::unique_ptr<Impl> d;
};

} // namespace novaprobe
