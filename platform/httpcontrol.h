#pragma once
// The HTTP client control used by Webwire's transport window, and its real
// implementation over a ByteLink. Requests are HTTP/1.0, so the server
// ends each answer by closing the connection. An "https://" URL is fetched
// over TLS (through a proxy by a CONNECT tunnel).

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/linksession.h"

#include <QObject>

namespace tessaly {

class HttpControl : public QObject {
    Q_OBJECT
public:
    // Values of stateChanged().
    enum State {
        Idle = 0,
        Connecting = 1,
        Connected = 2,
        Requesting = 3,
        Receiving = 4,
        Closed = 5,
    };

    using QObject::QObject;
    ~HttpControl() override = default;

    // Assigning splits the URL ("http://" or "https://" optional,
    // "user:password@" optional, ":port" optional) into HostName,
    // RemotePath, HostAddress (the host when it is a numeric address, empty
    // otherwise), User and Password. A port in the URL is used for direct
    // connections; without one, an "https://" URL goes to port 443.
    QString URL() const { return url_; }
    void SetURL(const QString& url);
    QString HostName() const { return hostName_; }
    // "https" for a URL with that scheme, otherwise "http".
    QString Scheme() const { return secure_ ? QStringLiteral("https") : QStringLiteral("http"); }
    // The port written in the URL, 0 when none.
    int UrlPort() const { return urlPort_; }
    QString RemotePath() const { return path_; }
    void SetRemotePath(const QString& v) { path_ = v; }
    QString HostAddress() const { return hostAddress_; }
    void SetHostAddress(const QString& v) { hostAddress_ = v; }
    QString User() const { return user_; }
    void SetUser(const QString& v) { user_ = v; }
    QString Password() const { return password_; }
    void SetPassword(const QString& v) { password_ = v; }
    // Server port (default 80); the proxy's port when a proxy is set.
    int Port() const { return port_; }
    void SetPort(int v) { port_ = v; }
    // The proxy is used when either is set; the address wins over the name.
    QString ProxyServerName() const { return proxyName_; }
    void SetProxyServerName(const QString& v) { proxyName_ = v; }
    QString ProxyAddress() const { return proxyAddress_; }
    void SetProxyAddress(const QString& v) { proxyAddress_ = v; }
    // Setting: extra request header lines (CR LF separated), sent with
    // every later request until set again. Reading: what was set, or after
    // a transfer the response header, status line first, each line ended by
    // CR LF. A response header is never sent back as request lines.
    QString Header() const { return header_; }
    void SetHeader(const QString& v) { header_ = requestLines_ = v; }
    // The response body; complete once socketClosed() has fired.
    QString Document() const { return document_; }
    // When on, received text is meant to be shown in the traffic window;
    // the control only carries the switch for its owner.
    bool Echo() const { return echo_; }
    void SetEcho(bool v) { echo_ = v; }

    // Starts connecting; a positive number, or below 1 when it cannot start.
    virtual int Connect() = 0;
    // Closes any connection; back to idle without further events.
    virtual void Abort() = 0;
    // Send the request (HEAD or GET); the answer arrives as dataReceived()
    // and the connection closes afterwards. 0, or a socket error number.
    virtual int RequestHeader() = 0;
    virtual int RequestDocument() = 0;

signals:
    void connected();
    void serverConnectionClosed();
    void socketClosed();
    void fileClosed();
    void packetSent();
    void stateChanged(int state);
    void dataReceived(const QString& text, int bytes);
    // A socket error number; NoError (-10000) means there is none.
    void error(int number);
    // The secure connection could not be made (the certificate is not
    // trusted, the proxy refused the tunnel); the text names the host.
    void secureError(const QString& description);

protected:
    // Request target and where to connect.
    QString connectHost() const;
    int connectPort() const;
    bool viaProxy() const { return !proxyAddress_.isEmpty() || !proxyName_.isEmpty(); }
    QByteArray requestText(const char* method) const;
    void setResponse(const QString& header, const QString& document) {
        header_ = header;
        document_ = document;
    }
    bool secure() const { return secure_; }
    // "host" or "host:port" when the URL names a port other than the scheme's.
    QByteArray hostHeader() const;
    int urlPort_ = 0;

private:
    QString url_, hostName_, path_, hostAddress_, user_, password_;
    QString proxyName_, proxyAddress_, header_, requestLines_, document_;
    bool secure_ = false;
    int port_ = 80;
    bool echo_ = false;
};

class HttpClient : public HttpControl {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxHeader = 1 << 20;
    static constexpr qsizetype kMaxDocument = 64 << 20;

    HttpClient(EventPump& pump, LinkFactory& links, QObject* parent = nullptr);
    int Connect() override;
    void Abort() override;
    int RequestHeader() override { return request("HEAD"); }
    int RequestDocument() override { return request("GET"); }

private:
    int request(const char* method);
    void onOpened();
    void onBytes();
    void onClosed();
    void failSecure(const QString& description);
    void failWith(int number);
    void setState(int state);

    std::unique_ptr<ByteLink> link_;
    LinkFactory& links_;
    QByteArray received_;
    qsizetype headerEnd_ = -1;
    qint64 contentLength_ = -1;
    bool headOnly_ = false;
    bool tunnelling_ = false; // waiting for the proxy's answer to CONNECT
    int state_ = Idle;
    int serial_ = 0;
};

} // namespace tessaly
