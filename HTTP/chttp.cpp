#include "webwire/chttp.h"

#include "frmhttp.h"
#include "frmterminal.h"
#include "htmltext.h"
#include "libraryprompter.h"
#include "log/clogfile.h"
#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/httpcontrol.h"

#include <QDateTime>
#include <algorithm>
#include <exception>

namespace webwire {

namespace {
constexpr int kMaxRequests = 5;
}

struct CHTTP::Impl {
    // Owned only when the host supplies none.
    std::unique_ptr<tessaly::RealEventPump> ownPump;
    std::unique_ptr<tessaly::TcpLinkFactory> ownLinks;
    std::unique_ptr<LibraryPrompter> ownPrompter;
    tessaly::EventPump* pump = nullptr;
    tessaly::LinkFactory* links = nullptr;
    tessaly::Prompter* prompter = nullptr;

    std::unique_ptr<tessaly::HttpClient> control;
    std::unique_ptr<FrmHTTP> frm;
    std::unique_ptr<tessaly::CLogFile> log;
    std::unique_ptr<Cookies> cookies;

    QString remotePath, hostAddress, password, hostName, username;
    QString logFilePath, logFileName;
    QString proxyServerName, proxyAddress;
    bool enableRedirection = false;
    bool enableCookies = false;
    bool logFileEnable = false;
    bool useProxy = false;
    bool cancel = false;
    int httpPort = 80;
    qint16 httpTimeout = 40;
    bool waiting = false;
};

CHTTP::CHTTP(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {
    d->ownPump = std::make_unique<tessaly::RealEventPump>();
    d->ownLinks = std::make_unique<tessaly::TcpLinkFactory>();
    d->ownPrompter = std::make_unique<LibraryPrompter>();
    d->pump = d->ownPump.get();
    d->links = d->ownLinks.get();
    d->prompter = d->ownPrompter.get();
    start();
}

CHTTP::CHTTP(tessaly::EventPump& pump, tessaly::LinkFactory& links, tessaly::Prompter& prompter, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>()) {
    d->pump = &pump;
    d->links = &links;
    d->prompter = &prompter;
    start();
}

void CHTTP::start() {
    try {
        TrafficWindow::Load(d->prompter);
        d->control = std::make_unique<tessaly::HttpClient>(*d->pump, *d->links);
        d->frm = std::make_unique<FrmHTTP>(*d->control);
        connect(d->frm.get(), &FrmHTTP::WSError, this, &CHTTP::HTTPError);
        d->log = std::make_unique<tessaly::CLogFile>(*d->prompter, *d->pump);
        d->cookies = std::make_unique<Cookies>();
        d->control->SetEcho(true);
        d->control->SetPort(80);
        d->control->SetProxyAddress(QString());
        d->control->SetProxyServerName(QString());
        d->control->Abort();
    } catch (const std::exception& e) {
        // Reported once the host can hear it: at its next pass of the event loop.
        const QString message = QStringLiteral("CHTTP::Initialize:") + QString::fromLocal8Bit(e.what());
        QMetaObject::invokeMethod(
            this, [this, message] { emit HTTPError(message); }, Qt::QueuedConnection);
    }
}

CHTTP::~CHTTP() {
    if (d->control)
        d->control->Abort();
    d->frm.reset();
    d->control.reset();
    d->log.reset();
    d->cookies.reset();
    if (TrafficWindow::IsLoaded())
        TrafficWindow::Unload();
}

// ---- Properties ----------------------------------------------------------

QString CHTTP::RemotePath() const { return d->remotePath; }
void CHTTP::SetRemotePath(const QString& v) { d->remotePath = v; }
QString CHTTP::HostAddress() const { return d->hostAddress; }
void CHTTP::SetHostAddress(const QString& v) { d->hostAddress = v; }
bool CHTTP::EnableRedirection() const { return d->enableRedirection; }
void CHTTP::SetEnableRedirection(bool v) { d->enableRedirection = v; }
bool CHTTP::EnableCookies() const { return d->enableCookies; }
void CHTTP::SetEnableCookies(bool v) { d->enableCookies = v; }

QString CHTTP::URL() const { return d->control->URL(); }
void CHTTP::SetURL(const QString& v) {
    tessaly::HttpControl& c = *d->control;
    c.SetURL(v);
    d->username = c.User();
    d->password = c.Password();
    d->hostName = c.HostName();
    d->remotePath = c.RemotePath();
    d->hostAddress = c.HostAddress();
    d->cookies->SetRequestURL(d->remotePath);
    d->cookies->SetRequestHostName(d->hostName);
}

QString CHTTP::HTTPHeader() const { return d->control->Header(); }
void CHTTP::SetHTTPHeader(const QString& v) { d->control->SetHeader(v); }
QString CHTTP::Password() const { return d->password; }
void CHTTP::SetPassword(const QString& v) {
    d->password = v;
    d->control->SetPassword(v);
}
QString CHTTP::HostName() const { return d->hostName; }
QString CHTTP::Username() const { return d->username; }
void CHTTP::SetUsername(const QString& v) {
    d->username = v;
    d->control->SetUser(v);
}

QString CHTTP::LogFilePath() const { return d->logFilePath; }
void CHTTP::SetLogFilePath(const QString& v) {
    d->logFilePath = v;
    d->log->SetPath(v);
}
QString CHTTP::LogFileName() const { return d->logFileName; }
void CHTTP::SetLogFileName(const QString& v) {
    d->logFileName = v;
    d->log->SetLogFileName(v);
}
bool CHTTP::LogFileEnable() const { return d->logFileEnable; }
void CHTTP::SetLogFileEnable(bool v) {
    d->logFileEnable = v;
    d->log->SetLogEnable(v);
    if (v) {
        d->log->SetPath(d->logFilePath);
        d->log->SetLogFileName(d->logFileName);
    }
}

bool CHTTP::UseProxy() const { return d->useProxy; }
void CHTTP::SetUseProxy(bool v) { d->useProxy = v; }
bool CHTTP::CancelFlag() const { return d->cancel; }
void CHTTP::SetCancelFlag(bool v) { d->cancel = v; }

int CHTTP::HTTPPort() const { return d->control->Port(); }
void CHTTP::SetHTTPPort(int v) {
    d->httpPort = v;
    d->control->SetPort(d->useProxy ? v : 80);
}
QString CHTTP::ProxyServerName() const { return d->control->ProxyServerName(); }
void CHTTP::SetProxyServerName(const QString& v) {
    d->proxyServerName = v;
    d->control->SetProxyServerName(d->useProxy ? v : QString());
}
QString CHTTP::ProxyAddress() const { return d->control->ProxyAddress(); }
void CHTTP::SetProxyAddress(const QString& v) {
    d->proxyAddress = v;
    d->control->SetProxyAddress(d->useProxy ? v : QString());
}
qint16 CHTTP::HTTPTimeout() const { return d->httpTimeout; }
void CHTTP::SetHTTPTimeout(qint16 v) { d->httpTimeout = v; }

// ---- Text utilities --------------------------------------------------------

QString CHTTP::RemoveStringBetween(const QString& sStart, const QString& sEnd, const QString& sText, bool bExclusive,
                                   bool bRemoveAll) const {
    return text::RemoveStringBetween(sStart, sEnd, sText, bExclusive, bRemoveAll);
}
QString CHTTP::Strip_HTML(const QString& sBuffer) const { return text::StripHtml(sBuffer, true); }
QString CHTTP::Strip_All_HTML(const QString& sBuffer) const { return text::StripHtml(sBuffer, false); }

QString CHTTP::GetLastModifiedDate(QString& sURL) { return text::LastModifiedDate(GetHeader(sURL)); }
QString CHTTP::GetLastModifiedDate() {
    QString none;
    return GetLastModifiedDate(none);
}

void CHTTP::ShowTerminal() { TrafficWindow::Show(); }

// ---- Requests --------------------------------------------------------------

QString CHTTP::GetHeader(QString& sURL) { return request(Request::Header, sURL); }
QString CHTTP::GetHeader() {
    QString none;
    return GetHeader(none);
}

QString CHTTP::request(Request kind, QString& sURL) {
    if (d->waiting) {
        // A second request from an event that arrived during the wait.
        emit HTTPError(QStringLiteral("HTTP request already in progress for ") + d->hostName + d->remotePath);
        return {};
    }
    tessaly::HttpControl& c = *d->control;
    d->cancel = false;
    c.Abort();
    if (kind == Request::Document || !sURL.isEmpty())
        SetURL(sURL);
    d->frm->SetSocketClosed(false);
    d->frm->SetWinsockError(false);
    const QString where = d->hostName + d->remotePath;
    if (c.Connect() < 1) {
        emit HTTPError(QStringLiteral("Failed to connect to ") + where);
        return {};
    }

    d->waiting = true;
    d->pump->yield();
    bool sent = false;
    const QDateTime deadline = d->pump->now().addSecs(d->httpTimeout);
    bool closed = false, timedOut = false, failed = false;
    FrmHTTP& frm = *d->frm;
    for (;;) {
        const double left = std::max<qint64>(0, d->pump->now().msecsTo(deadline)) / 1000.0;
        d->pump->waitUntil(
            [&] { return (frm.ServerConnection() && !sent) || frm.SocketClosedNow() || frm.WinsockError(); }, left,
            &d->cancel);
        if (frm.ServerConnection() && !sent) {
            if (d->enableCookies)
                c.SetHeader(d->cookies->SendCookies());
            if (kind == Request::Header)
                c.RequestHeader();
            else
                c.RequestDocument();
            sent = true;
        }
        closed = frm.SocketClosed();
        timedOut = d->pump->now() >= deadline;
        failed = frm.WinsockError();
        if (closed || d->cancel || timedOut || failed)
            break;
    }
    d->waiting = false;

    if (closed) {
        const QString header = c.Header();
        if (d->enableCookies)
            d->cookies->GetCookies(header);
        if (kind == Request::Header)
            return header;
        const QString code = text::StatusCode(header);
        if (code.isEmpty())
            emit HTTPError(QStringLiteral("Invalid HTTP answer from ") + where);
        if (code == QLatin1String("302"))
            sURL = redirectTarget(header);
        return code;
    }
    if (timedOut) {
        emit HTTPError(QStringLiteral("HTTP timeout while connecting to ") + where);
        c.Abort();
        return {};
    }
    if (d->cancel) {
        emit HTTPError(QStringLiteral("User-cancelled HTTP connection"));
        c.Abort();
        return {};
    }
    return {}; // the transport window has reported its error
}

QString CHTTP::redirectTarget(const QString& header) const {
    const QString value = text::LocationValue(header);
    if (!value.startsWith(QLatin1Char('/')))
        return value;
    // An absolute path stays on the same scheme, host and port.
    const tessaly::HttpControl& c = *d->control;
    QString target = c.Scheme() + QStringLiteral("://");
    if (!d->username.isEmpty())
        target += d->username + QLatin1Char(':') + d->password + QLatin1Char('@');
    target += d->hostName.contains(QLatin1Char(':')) ? QLatin1Char('[') + d->hostName + QLatin1Char(']') : d->hostName;
    if (c.UrlPort() != 0)
        target += QLatin1Char(':') + QString::number(c.UrlPort());
    return target + value;
}

QString CHTTP::GetURLData(QString& sURL) {
    QString code;
    const int requests = d->enableRedirection ? kMaxRequests : 1;
    for (int i = 0; i < requests; ++i) {
        code = request(Request::Document, sURL);
        if (code.isEmpty() || code == QLatin1String("200"))
            break;
        if (code == QLatin1String("302"))
            continue;
        emit HTTPError(QStringLiteral("HTTP Error ") + code + QStringLiteral(" for ") + d->hostName + d->remotePath);
        break;
    }
    return code.isEmpty() ? QString() : d->control->Document();
}

} // namespace webwire
