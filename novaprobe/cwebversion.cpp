#include "novaprobe/cwebversion.h"

#include "frmmessage.h"
#include "frmversion.h"
#include "noticeprompter.h"
#include "versiontext.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/eventpump.h"
#include "platform/settingsstore.h"

#include <webwire/chttp.h>

#include <QApplication>
#include <QDesktopServices>
#include <QList>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>
#include <exception>

namespace novaprobe {

namespace {

const QString kSection = QStringLiteral("Settings");
constexpr int kMyMajor = 1;
constexpr int kMyMinor = 1;
constexpr int kMyRevision = 0;
// A notice written as activity lines keeps at most this much of the message.
constexpr int kNoticeLines = 20;
constexpr int kNoticeLineLength = 200;

// One line of server text fit for the activity log: control characters
// (line breaks among them) blanked, trimmed, cut when long.
QString logLine(QString text) {
    static const QRegularExpression controls(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    text = text.replace(controls, QStringLiteral(" ")).trimmed();
    if (text.size() > kNoticeLineLength)
        text = text.left(kNoticeLineLength) + QStringLiteral("...");
    return text;
}

// A bulletin number as the server or the settings give it: the leading
// number; one that does not fit 16 bits reads as 0.
qint16 bulletinNumber(const QString& text) {
    const double v = tessaly::leadingNumber(text);
    if (!(v >= -32768.0 && v <= 32767.0))
        return 0;
    return tessaly::roundToInt16(v);
}

// A date of the server page: "mm/dd/yyyy" or "yyyy-mm-dd".
QDate serverDate(const QString& text) {
    const QDate mdy = parseDayText(text);
    return mdy.isValid() ? mdy : QDate::fromString(text.trimmed(), Qt::ISODate);
}

// The earliest date stands in for a missing or unreadable one.
QDate orEarliest(const QDate& date) { return date.isValid() ? date : QDate(100, 1, 1); }

QString errorText(const std::exception& e) {
    if (const auto* t = dynamic_cast<const tessaly::TessalyError*>(&e))
        return t->description();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

struct CWebVersion::Impl {
    // Owned only when the host supplies none.
    std::unique_ptr<tessaly::IniSettingsStore> ownStore;
    std::unique_ptr<tessaly::RealEventPump> ownClock;
    std::unique_ptr<NoticePrompter> ownPrompter;
    tessaly::SettingsStore* store = nullptr;
    const tessaly::Clock* clock = nullptr;
    tessaly::Prompter* prompter = nullptr;

    bool showTerminal = false;
    bool dailyCheck = false;
    QString productId, cgiUrl, downloadUrl, productName, message, webVersion, appVersion;
    bool useProxy = false;
    QString proxyAddress, proxyServer;
    qint16 proxyPort = 0;
    qint16 numDays = 1;
    bool useWindows = true;
    HttpFactory http;
    UrlOpener openUrl;

    QString lastPage;
    webwire::CHTTP* m_HTTP = nullptr; // the fetch under way
    bool fetchFailed = false;
    QPointer<FrmVersion> f_frmVersion;
    QList<QPointer<FrmMessage>> f_frmMessages;
};

CWebVersion::CWebVersion(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {
    d->ownStore = std::make_unique<tessaly::IniSettingsStore>(tessaly::IniSettingsStore::defaultFilePath());
    d->ownClock = std::make_unique<tessaly::RealEventPump>();
    d->ownPrompter = std::make_unique<NoticePrompter>();
    d->store = d->ownStore.get();
    d->clock = d->ownClock.get();
    d->prompter = d->ownPrompter.get();
}

CWebVersion::CWebVersion(tessaly::SettingsStore& store, const tessaly::Clock& clock, tessaly::Prompter& prompter,
                         QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>()) {
    d->store = &store;
    d->clock = &clock;
    d->prompter = &prompter;
}

CWebVersion::~CWebVersion() {
    for (const QPointer<FrmMessage>& w : d->f_frmMessages)
        delete w.data();
    delete d->f_frmVersion.data();
}

bool CWebVersion::ShowTerminal() const { return d->showTerminal; }
void CWebVersion::SetShowTerminal(bool v) { d->showTerminal = v; }
bool CWebVersion::DailyCheck() const { return d->dailyCheck; }
void CWebVersion::SetDailyCheck(bool v) { d->dailyCheck = v; }
QString CWebVersion::ProductID() const { return d->productId; }
void CWebVersion::SetProductID(const QString& v) { d->productId = v; }
QString CWebVersion::CGIURL() const { return d->cgiUrl; }
void CWebVersion::SetCGIURL(const QString& v) { d->cgiUrl = v; }
QString CWebVersion::DownloadURL() const { return d->downloadUrl; }
void CWebVersion::SetDownloadURL(const QString& v) { d->downloadUrl = v; }
QString CWebVersion::ProductName() const { return d->productName; }
void CWebVersion::SetProductName(const QString& v) { d->productName = v; }
QString CWebVersion::Message() const { return d->message; }
void CWebVersion::SetMessage(const QString& v) { d->message = v; }
QString CWebVersion::WebVersion() const { return d->webVersion; }
void CWebVersion::SetWebVersion(const QString& v) { d->webVersion = v; }
QString CWebVersion::AppVersion() const { return d->appVersion; }
void CWebVersion::SetAppVersion(const QString& v) { d->appVersion = v; }
bool CWebVersion::UseProxy() const { return d->useProxy; }
void CWebVersion::SetUseProxy(bool v) { d->useProxy = v; }
QString CWebVersion::ProxyAddress() const { return d->proxyAddress; }
void CWebVersion::SetProxyAddress(const QString& v) { d->proxyAddress = v; }
QString CWebVersion::ProxyServer() const { return d->proxyServer; }
void CWebVersion::SetProxyServer(const QString& v) { d->proxyServer = v; }
qint16 CWebVersion::ProxyPort() const { return d->proxyPort; }
void CWebVersion::SetProxyPort(qint16 v) { d->proxyPort = v; }
qint16 CWebVersion::NumDays() const { return d->numDays; }
void CWebVersion::SetNumDays(qint16 v) { d->numDays = v; }
bool CWebVersion::UseWindows() const { return d->useWindows; }
void CWebVersion::SetUseWindows(bool v) { d->useWindows = v; }
void CWebVersion::SetHttpFactory(HttpFactory factory) { d->http = std::move(factory); }
void CWebVersion::SetUrlOpener(UrlOpener opener) {
    d->openUrl = std::move(opener);
    if (d->f_frmVersion)
        d->f_frmVersion->SetUrlOpener(d->openUrl);
}

QString CWebVersion::GetMyVersion() const {
    static const QString version = tessaly::formatWhole(kMyMajor) + QLatin1Char('.') + tessaly::formatWhole(kMyMinor) +
                                   QLatin1Char('.') + tessaly::formatFourDigits(kMyRevision);
    return version;
}

QString CWebVersion::setting(const QString& name, const QString& defaultValue) const {
    return d->store->read(d->productName, kSection, name, defaultValue);
}

void CWebVersion::store(const QString& name, const QString& value) {
    d->store->write(d->productName, kSection, name, value);
}

QDate CWebVersion::today() const { return d->clock->now().date(); }

QString CWebVersion::fetch(const QString& query) {
    d->fetchFailed = true;
    d->lastPage.clear();
    if (d->m_HTTP) {
        // A host event ran during a fetch and asked for another one.
        emit NovaprobeError(QStringLiteral("Novaprobe: another request is still running."));
        return {};
    }
    std::unique_ptr<webwire::CHTTP> http = d->http ? d->http() : std::make_unique<webwire::CHTTP>();
    if (!http) {
        emit NovaprobeError(QStringLiteral("Novaprobe: no HTTP client."));
        return {};
    }
    d->fetchFailed = false;
    connect(http.get(), &webwire::CHTTP::HTTPError, this, [this](const QString& text) {
        d->fetchFailed = true;
        emit NovaprobeError(text);
    });
    if (d->useProxy) {
        http->SetUseProxy(true);
        http->SetProxyServerName(d->proxyServer);
        http->SetProxyAddress(d->proxyAddress);
        // The 16 bits of the port are read unsigned: ports above 32767 are common.
        http->SetHTTPPort(static_cast<quint16>(d->proxyPort));
    }
    if (d->showTerminal)
        http->ShowTerminal();
    QString url = d->cgiUrl + query;
    d->m_HTTP = http.get();
    const QString page = http->GetURLData(url);
    d->m_HTTP = nullptr;
    d->lastPage = page;
    return page;
}

QString CWebVersion::readTag(const QString& name) {
    const TagValue tag = findTag(d->lastPage, name);
    if (!tag.missing.isEmpty())
        emit NovaprobeError(QStringLiteral("Keyword ") + tag.missing + QStringLiteral(" not found."));
    return tag.value;
}

bool CWebVersion::CheckVersion() {
    try {
        const qint16 shownBulletin = bulletinNumber(setting(QStringLiteral("NovaprobeBulletin"), QStringLiteral("0")));
        const QString ignoredVersion = setting(QStringLiteral("NovaprobeIgnore"), QString());
        QString todayText;
        if (d->dailyCheck) {
            const QDate now = today();
            todayText = tessaly::formatDateMDY(now);
            // A day after today was written by a clock that was wrong; it
            // would hold off every check until then, so it counts as none.
            QDate last = parseDayText(setting(QStringLiteral("Novaprobe"), QString()));
            if (last > now)
                last = QDate();
            if (!(orEarliest(last).addDays(d->numDays) < now))
                return false;
        }

        emit NovaprobeActivity(QStringLiteral("Checking for version updates and bulletins..."));
        fetch(QStringLiteral("?productid=") + d->productId + QStringLiteral("&version=") + d->appVersion);
        const bool answered = !d->fetchFailed;
        d->webVersion = readTag(QStringLiteral("NEWVERSION"));
        d->downloadUrl = readTag(QStringLiteral("DOWNLOADURL"));
        d->message = readTag(QStringLiteral("MESSAGE"));
        const qint16 latestBulletin = bulletinNumber(readTag(QStringLiteral("BULLETIN#")));

        const bool newer = answered && isNewerVersion(d->webVersion, d->appVersion);
        const bool ignored = ignoredVersion == d->webVersion;
        if (!answered) {
            // No answer from the server: nothing is known about the version.
        } else if (newer && !ignored) {
            emit NovaprobeActivity(QStringLiteral("An updated version is available..."));
            showNotice(false);
        } else if (newer) {
            emit NovaprobeActivity(QStringLiteral("Your version ") + d->appVersion +
                                   QStringLiteral(" is out of date: New version is ") + logLine(d->webVersion));
        } else {
            emit NovaprobeActivity(QStringLiteral("Your version is up-to-date..."));
            if (latestBulletin > shownBulletin) {
                emit NovaprobeActivity(QStringLiteral("Their is a new bulletin from Valdrin..."));
                qint16 number = latestBulletin;
                d->message = GetBulletin(number);
                // A bulletin that could not be fetched is offered again next time.
                if (!d->fetchFailed) {
                    showNotice(true);
                    store(QStringLiteral("NovaprobeBulletin"), QString::number(latestBulletin));
                }
            }
        }
        store(QStringLiteral("Novaprobe"), todayText);
        return newer;
    } catch (const std::exception& e) {
        d->m_HTTP = nullptr;
        emit NovaprobeError(QStringLiteral("Novaprobe::CheckVersion:") + errorText(e));
        return false;
    }
}

QString CWebVersion::GetMessages() {
    emit NovaprobeActivity(QStringLiteral("Checking for messages from Valdrin..."));
    fetch(QStringLiteral("?productid=") + d->productId + QStringLiteral("&version=") + d->appVersion);
    d->webVersion = readTag(QStringLiteral("NEWVERSION"));
    d->downloadUrl = readTag(QStringLiteral("DOWNLOADURL"));
    d->message = readTag(QStringLiteral("MESSAGE"));
    return d->message;
}

QString CWebVersion::GetBulletin(qint16& iBulletin) {
    emit NovaprobeActivity(QStringLiteral("Retrieving bulletin from Valdrin..."));
    fetch(QStringLiteral("?productid=") + d->productId + QStringLiteral("&bulletin=") + QString::number(iBulletin));
    d->message = readTag(QStringLiteral("MESSAGE"));
    return d->message;
}

bool CWebVersion::CheckServerVersion(const QDate& ServerDate1, const QDate& ServerDate2, QString& sServerFile1,
                                     QString& sServerFile2) {
    try {
        const QDate now = today();
        const QDate last = parseDayText(setting(QStringLiteral("NovaprobeServer"), QString()));
        // Checked today already; a later day was written by a wrong clock.
        if (last == now)
            return false;
        emit NovaprobeActivity(QStringLiteral("Checking for quote server updates..."));
        fetch(QStringLiteral("?productid=") + d->productId);
        const QDate date1 = orEarliest(serverDate(readTag(QStringLiteral("SERVERDATE1"))));
        const QDate date2 = orEarliest(serverDate(readTag(QStringLiteral("SERVERDATE2"))));
        sServerFile1 = readTag(QStringLiteral("SERVERFILE1"));
        sServerFile2 = readTag(QStringLiteral("SERVERFILE2"));
        const bool result = date1 > orEarliest(ServerDate1) || date2 > orEarliest(ServerDate2);
        emit NovaprobeActivity(result ? QStringLiteral("Updated quote server files are available...")
                                      : QStringLiteral("Your quote servers are up-to-date..."));
        store(QStringLiteral("NovaprobeServer"), tessaly::formatDateMDY(now));
        return result;
    } catch (const std::exception& e) {
        d->m_HTTP = nullptr;
        emit NovaprobeError(QStringLiteral("Novaprobe::CheckServerVersion:") + errorText(e));
        return false;
    }
}

namespace {
bool windowsAvailable(bool wanted) {
    return wanted && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}
bool openWithSystem(const QString& url) { return QDesktopServices::openUrl(QUrl::fromUserInput(url)); }
} // namespace

void CWebVersion::showNotice(bool bulletin) {
    if (!windowsAvailable(d->useWindows)) {
        if (bulletin) {
            emit NovaprobeActivity(QStringLiteral("Their is a new bulletin for ") + d->productName);
        } else {
            emit NovaprobeActivity(d->productName +
                                   QStringLiteral(" has determined that a newer version is available for download."));
            emit NovaprobeActivity(QStringLiteral("Your version: ") + d->appVersion +
                                   QStringLiteral(", new version: ") + logLine(d->webVersion));
            if (!d->downloadUrl.trimmed().isEmpty())
                noticeLines(QStringLiteral("Download: ") + d->downloadUrl);
        }
        noticeLines(d->message);
        return;
    }
    if (!d->f_frmVersion) {
        d->f_frmVersion = new FrmVersion(*d->store, *d->prompter, d->openUrl ? d->openUrl : UrlOpener(openWithSystem));
        connect(d->f_frmVersion.data(), &FrmVersion::ShowMessages, this, &CWebVersion::ShowMessages);
    }
    FrmVersion& w = *d->f_frmVersion;
    w.SetBulletin(bulletin);
    w.SetAppName(d->productName);
    if (!bulletin) {
        w.SetWebVersion(d->webVersion);
        w.SetDownloadURL(d->downloadUrl);
        w.SetMyVersion(d->appVersion);
    }
    w.Load();
}

void CWebVersion::ShowMessages() {
    if (!windowsAvailable(d->useWindows)) {
        noticeLines(d->message);
        return;
    }
    auto* w = new FrmMessage(d->message, *d->prompter);
    d->f_frmMessages.removeAll(nullptr);
    d->f_frmMessages.append(w);
    w->show();
}

// A server text as activity lines: one per non-empty line, control
// characters blanked, long lines and long texts cut.
void CWebVersion::noticeLines(const QString& text) {
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    int written = 0;
    for (const QString& raw : lines) {
        const QString line = logLine(raw);
        if (line.isEmpty())
            continue;
        if (written == kNoticeLines) {
            emit NovaprobeActivity(QStringLiteral("(the rest of the message is not shown)"));
            return;
        }
        emit NovaprobeActivity(line);
        ++written;
    }
}

} // namespace novaprobe
