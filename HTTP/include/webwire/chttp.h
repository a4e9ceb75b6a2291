#pragma once
// CHTTP, Webwire's HTTP client. A host creates one, sets a URL and calls
// GetURLData (the whole document) or GetHeader (the response header only).
// The call returns when the answer is complete, the time-out has passed or
// the host set CancelFlag; while it waits it runs the event loop, so the
// host's windows stay alive and its Cancel button can set CancelFlag.
// Every failure comes back as an empty result and the HTTPError signal with
// a message; nothing is thrown.
//
//     webwire::CHTTP http;
//     QObject::connect(&http, &webwire::CHTTP::HTTPError, host, &Host::onError);
//     QString url = QStringLiteral("www.example.com/cgi-bin/query?id=1");
//     const QString page = http.GetURLData(url);
//
// A URL may omit its scheme (plain HTTP then); "https://" is fetched over
// TLS, checking the server's certificate against the system's store.

#include "webwire/cookies.h"
#include "webwire/webwire_global.h"

#include <QObject>
#include <QString>
#include <memory>

namespace tessaly {
class EventPump;
class LinkFactory;
class Prompter;
} // namespace tessaly

namespace webwire {

class WEBWIRE_EXPORT CHTTP : public QObject {
    Q_OBJECT
public:
    // Waits in the application's event loop and uses real sockets.
    explicit CHTTP(QObject* parent = nullptr);
    // Waits through `pump`, connects through `links` and asks `prompter`
    // the log's questions (a host with its own event pump, or a test).
    CHTTP(tessaly::EventPump& pump, tessaly::LinkFactory& links, tessaly::Prompter& prompter,
          QObject* parent = nullptr);
    ~CHTTP() override;

    // Path and address of the last URL set; assigning changes only the
    // stored copy, not the request.
    QString RemotePath() const;
    void SetRemotePath(const QString& v);
    QString HostAddress() const;
    void SetHostAddress(const QString& v);
    // Let GetURLData follow "302" answers (at most 5 requests in all).
    bool EnableRedirection() const;
    void SetEnableRedirection(bool v);
    // Send stored cookies and store received ones.
    bool EnableCookies() const;
    void SetEnableCookies(bool v);
    // Assigning parses the URL into HostName, RemotePath, HostAddress,
    // Username and Password (a "user:password@" prefix fills the two).
    QString URL() const;
    void SetURL(const QString& v);
    // Extra request header lines; after a transfer, the response header.
    QString HTTPHeader() const;
    void SetHTTPHeader(const QString& v);
    QString Password() const;
    void SetPassword(const QString& v);
    QString HostName() const;
    QString Username() const;
    void SetUsername(const QString& v);
    // The owned activity log: set the path and the name before enabling.
    QString LogFilePath() const;
    void SetLogFilePath(const QString& v);
    QString LogFileName() const;
    void SetLogFileName(const QString& v);
    bool LogFileEnable() const;
    void SetLogFileEnable(bool v);
    // Proxy settings take effect only when assigned while UseProxy is on,
    // so turn UseProxy on first. Through a proxy, plain requests name the
    // whole URL and "https://" ones travel in a CONNECT tunnel.
    bool UseProxy() const;
    void SetUseProxy(bool v);
    // Abandons the request that is waiting; cleared when a request starts.
    bool CancelFlag() const;
    void SetCancelFlag(bool v);
    // The proxy's port (a direct request uses the URL's port, else 80, or
    // 443 for "https://"). Reading gives the port the transport holds.
    int HTTPPort() const;
    void SetHTTPPort(int v);
    QString ProxyServerName() const;
    void SetProxyServerName(const QString& v);
    QString ProxyAddress() const;
    void SetProxyAddress(const QString& v);
    // Seconds allowed for one request, from the start of its wait (40).
    qint16 HTTPTimeout() const;
    void SetHTTPTimeout(qint16 v);

    // Cuts the text between two markers out of sText (which is not
    // changed) and returns the result:
    // - sStart is searched first (exact case). Not found: sText comes back
    //   unchanged. An empty sStart stands for the position after the first
    //   character of sText.
    // - sEnd is searched (exact case) from the end of sStart. Not found: an
    //   empty text comes back. An empty sEnd is found right after sStart.
    // - Both found: the cut runs from the start of sStart to the end of
    //   sEnd, markers included; with bExclusive only the text strictly
    //   between the markers goes and both markers stay.
    // - bRemoveAll repeats the cut after the first one for every further
    //   sStart that has an sEnd after it; an sStart without an sEnd ends
    //   the repetition and leaves the rest as it is. With an empty sStart
    //   there is only the one cut.
    QString RemoveStringBetween(const QString& sStart, const QString& sEnd, const QString& sText,
                                bool bExclusive = false, bool bRemoveAll = false) const;
    // The text runs of an HTML page, each preceded by a TAB; CR, LF and TAB
    // inside a run are dropped, text after the last tag is not kept.
    QString Strip_HTML(const QString& sBuffer) const;
    // The same runs joined without a TAB.
    QString Strip_All_HTML(const QString& sBuffer) const;
    // The response header of sURL (empty sURL: the current URL), or empty.
    QString GetHeader(QString& sURL);
    QString GetHeader();
    // The date part of the Last-Modified field (written in GMT), or empty.
    QString GetLastModifiedDate(QString& sURL);
    QString GetLastModifiedDate();
    // The document at sURL, or empty. After a "302" answer sURL holds the
    // redirect target, so it ends holding the last URL asked for. The body
    // of an error answer ("404") is returned too, with an HTTPError.
    QString GetURLData(QString& sURL);
    // Shows the traffic window "HTTP Data" without blocking.
    void ShowTerminal();

signals:
    void HTTPError(const QString& sMessage);

private:
    struct Impl;
    enum class Request { Header, Document };
    void start();
    QString request(Request kind, QString& sURL);
    QString redirectTarget(const QString& header) const;
    std::unique_ptr<Impl> d;
};

} // namespace webwire
