#include "features/options/options.h"

#include "features/connection/connection.h"
#include "ground/scramble.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/dialupcontrol.h"
#include "platform/prompter.h"
#include "platform/settingsstore.h"
#include "state/appinfo.h"
#include "state/appstate.h"
#include "state/livesettings.h"
#include "state/mailsecurity.h"
#include "state/remotesafety.h"

#include <QTime>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <limits>

namespace tessaly::options {

namespace {

const QString kDefaultServiceName = QStringLiteral("Default");

// A number field as the profile stores it: the leading number of the text,
// rounded, held inside the field's range.
long long wholeNumber(const QString& text, long long lo, long long hi) {
    const double v = leadingNumber(text);
    if (std::isnan(v))
        return lo < 0 ? 0 : lo;
    const double r = std::nearbyint(v);
    if (r <= static_cast<double>(lo))
        return lo;
    if (r >= static_cast<double>(hi))
        return hi;
    return static_cast<long long>(r);
}
std::int16_t int16Of(const QString& text) {
    return static_cast<std::int16_t>(
        wholeNumber(text, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}
std::int32_t int32Of(const QString& text) {
    return static_cast<std::int32_t>(
        wholeNumber(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// A whole number written with digits only (and blanks around), for the checks
// that must not accept "12abc".
std::optional<long long> strictNumber(const QString& text) {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

void writeSetting(SettingsStore& store, const QString& name, const QString& value) {
    store.write(kAppTitle, kSettingsSection, name, value);
}

bool fail(OptionsContext& ctx, const QString& text) {
    ctx.prompter.messageBox(text, MsgButtons::OK);
    return false;
}

// The service whose network values the dialog shows and saves: the one the
// pager pages through, or the first when no service has that name.
CPagerService* networkService(const ServiceList& services, const QString& name) {
    if (CPagerService* named = services.Find(name))
        return named;
    return services.Count() > 0 ? &services.Item(1) : nullptr;
}

} // namespace

QString AddressProblem(PagerType type, const QString& address) {
    const QString a = address.trimmed();
    QString host;
    int port = 0;
    CPagerService probe;
    probe.SetAddress(a);
    switch (type) {
    case PagerAlphaDialUp:
    case PagerAlphaSMTP:
    case PagerNumeric: return {};
    case PagerWCTP: {
        const QUrl url(a, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!a.contains(QLatin1Char(' ')) && url.isValid() &&
            (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty())
            return {};
        return QStringLiteral("A WCTP pager needs its service's Address to be an http:// or https:// URL with a "
                              "host name, such as https://wctp.example.com/wctp.");
    }
    case PagerSNPP:
        if (probe.HostAndPort(host, port, kSnppDefaultPort))
            return {};
        return QStringLiteral("An SNPP pager needs its service's Address to be a host name or address, with :port "
                              "when the port is not %1, such as snpp.example.com:%1.")
            .arg(kSnppDefaultPort);
    case PagerAlphaTCP:
        // A paging terminal has no port of its own: the address names it.
        if (probe.HostAndPort(host, port, 0) && port > 0)
            return {};
        return QStringLiteral("A TCP terminal pager needs its service's Address to be a host name or address and a "
                              "port, such as terminal.example.com:5000.");
    }
    return {};
}

QString PagerIdProblem(PagerType type, const QString& pagerId) {
    if (!pagerId.trimmed().isEmpty())
        return {};
    switch (type) {
    case PagerAlphaDialUp:
    case PagerAlphaSMTP:
    case PagerNumeric: return {};
    case PagerWCTP:
        return QStringLiteral("Please enter the Pager Identifier: the WCTP service delivers the pages to this ID.");
    case PagerSNPP:
        return QStringLiteral("Please enter the Pager Identifier: the SNPP server delivers the pages to this ID.");
    case PagerAlphaTCP:
        return QStringLiteral("Please enter the Pager Identifier: the paging terminal delivers the pages to this ID.");
    }
    return {};
}

QStringList BaudRates() {
    return {QStringLiteral("300"),  QStringLiteral("1200"),  QStringLiteral("2400"), QStringLiteral("4800"),
            QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200")};
}
QStringList Parities() { return {QStringLiteral("NONE"), QStringLiteral("EVEN"), QStringLiteral("ODD")}; }
QStringList DataBits() { return {QStringLiteral("7"), QStringLiteral("8")}; }
QStringList StopBits() { return {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}; }

QStringList DialUpEntries(DialupControl* dialup) {
    if (!dialup)
        return {};
    try {
        return dialup->EntryList();
    } catch (const TessalyError&) {
        return {};
    }
}

OptionsFields Load(const OptionsContext& ctx) {
    const LiveSettings& s = ctx.settings;
    const SettingsStore& store = ctx.store;
    auto reg = [&](const QString& name, const QString& def) {
        return store.read(kAppTitle, kSettingsSection, name, def);
    };
    OptionsFields f;
    f.startupFile = reg(QStringLiteral("DefaultFile"), ctx.defaultStartupFile);
    f.emailClient = s.emailClientPath;
    f.sound = s.soundEnabled;
    f.soundFile = s.soundFile.isEmpty() ? QStringLiteral("NewMail.wav") : s.soundFile;
    f.mailSize = QString::number(s.messageSizeLimit);
    f.download = s.downloadFlag;
    f.pageHeaders = s.pageHeaders;
    f.pageBody = s.pageBody;
    f.pagePriority = s.pageBodyHighestPriority;
    f.maxPages = QString::number(s.maxPagesPerMessage == 0 ? 5 : s.maxPagesPerMessage);
    f.showStatus = s.statusWindowFlag;
    f.tray = s.trayFlag;
    f.checkUpdates = s.versionCheckFlag;

    f.connectionType = std::clamp<int>(s.connectionType, 0, 2);
    f.dialEntry = s.dialUpEntry;
    f.dialUser = s.dialUpUser;
    f.dialPassword = s.dialUpPassword;
    f.dialTimeout = QString::number(s.dialTimeout);
    f.dialRetries = QString::number(s.dialRetries);
    f.externalDialer = s.externalDialerPath;
    f.useProxy = reg(kUseProxy, QStringLiteral("0")) == QLatin1String("1");
    f.proxyName = reg(kProxyHostName, QString());
    f.proxyAddress = reg(kProxyHostAddress, QString());
    f.proxyPort = reg(kProxyPort, QStringLiteral("80"));

    f.serviceName = kDefaultServiceName;
    f.baud = QStringLiteral("9600");
    f.parity = QStringLiteral("NONE");
    f.dataBits = QStringLiteral("8");
    f.stopBits = QStringLiteral("1");
    f.maxPageLength = QStringLiteral("80");
    f.numericDelay = QStringLiteral("8");
    if (ctx.services.Count() > 0) {
        const CPagerService& v = ctx.services.Item(1);
        f.servicePhone = v.Phone();
        f.terminalPassword = v.TerminalPassword();
        f.baud = v.Baud();
        f.parity = v.Parity();
        f.dataBits = v.DataBits();
        f.stopBits = v.StopBits();
        // A service no profile has filled yet shows the usual values.
        if (v.MaxPageChar() > 0)
            f.maxPageLength = QString::number(v.MaxPageChar());
        if (v.DigitalDelay() > 0)
            f.numericDelay = QString::number(v.DigitalDelay());
    }
    if (ctx.pagers.Count() > 0) {
        const CPager& p = ctx.pagers.Item(1);
        if (!p.ServiceName().isEmpty())
            f.serviceName = p.ServiceName();
        f.userName = p.Username();
        f.pagerType = p.PagerType();
        f.pagerId = p.ID();
        f.pagerEmail = p.EmailAddress();
        f.pagerFrom = p.FromAddress();
        if (ctx.escalation) {
            f.fallback = FallbackText(ctx.escalation->fallback);
            f.noticeAddress = ctx.escalation->notify;
            f.proofOfLife = ctx.escalation->proofOfLife.isValid()
                                ? ctx.escalation->proofOfLife.toString(QStringLiteral("HH:mm"))
                                : QString();
        }
        f.numericPhone = p.DigitalNumber();
    }
    if (const CPagerService* net = networkService(ctx.services, f.serviceName)) {
        f.serviceAddress = net->Address();
        f.serviceTls = net->UseTls();
        f.senderId = net->SenderID();
        f.securityCode = net->SecurityCode();
        f.receipts = net->Receipts();
    }
    f.numericPrefix = s.numericPagePrefix.isEmpty() ? QStringLiteral("111*") : s.numericPagePrefix;

    f.domain = s.domainName;
    f.smtpName = s.smtpHostName;
    f.smtpAddress = s.smtpHostAddress;
    f.smtpPort = QString::number(s.smtpPort == 0 ? 25 : s.smtpPort);
    const MailSecurity security = LoadMailSecurity(store);
    f.smtpSecurity =
        security.smtpSecurityUnreadable.isEmpty() ? SecurityText(security.smtp) : security.smtpSecurityUnreadable;
    f.smtpUser = security.smtpUser;
    f.smtpPassword = security.smtpPassword;
    f.smtpPasswordCommand = security.smtpPasswordCommand;
    f.caFile = security.caFile;
    // A stored text that names no choice is shown as it stands, so that
    // saving does not turn it into "automatic" unseen.
    for (const CPOPAccount& a : ctx.accounts) {
        const std::optional<Security> choice = ReadPopSecurity(store, a.Name());
        f.popSecurity.insert(a.Name(), choice ? SecurityText(*choice) : PopSecurityText(store, a.Name()));
        const std::optional<MailProtocol> protocol = ReadMailProtocol(&store, a.Name());
        const QString folder = ReadImapFolder(&store, a.Name());
        f.accountSource.insert(a.Name(), {protocol ? MailProtocolText(*protocol) : MailProtocolEntry(store, a.Name()),
                                          folder == kDefaultImapFolder ? QString() : folder});
        f.accountOAuth.insert(a.Name(), LoadOAuthSettings(store, SignInTarget{a.Name()}));
    }
    f.smtpOAuth = LoadOAuthSettings(store, SignInTarget{});

    f.frequency = QString::number(s.checkInterval);
    f.startTime = s.startTime;
    f.stopTime = s.stopTime;
    f.weekdays = s.weekdays;

    f.remoteEnabled = s.remoteControlEnabled;
    f.remotePassword = s.remotePassword;
    const RemoteSafety safety = LoadRemoteSafety(store);
    f.remoteSenders = SenderListText(safety.allowedSenders);
    f.remoteRunFolder = safety.runFolder;
    return f;
}

QString CheckMaxPageLength(QString& text) {
    // An emptied field is left for the user to type into.
    if (text.trimmed().isEmpty())
        return {};
    const auto v = strictNumber(text);
    if (v && *v >= std::numeric_limits<std::int16_t>::min() && *v <= std::numeric_limits<std::int16_t>::max())
        return {};
    text = QStringLiteral("80");
    return kInvalidNumber;
}

QString CheckPagerId(QString& text) {
    if (!text.contains(QLatin1Char('-')))
        return {};
    text.clear();
    return kPagerIdDashes;
}

void CheckDelayOnLeave(QString& text) {
    if (leadingNumber(text) < 4)
        text = QStringLiteral("4");
}

void CheckTimeoutOnLeave(QString& text) {
    if (leadingNumber(text) < 60)
        text = QStringLiteral("60");
}

bool Save(OptionsContext& ctx, OptionsFields& f, POPAccountList& workingAccounts, const Filters& workingFilters,
          SaveRefusal* refusal) {
    LiveSettings& s = ctx.settings;
    // A failed check: its message, and the field it is about.
    const auto refuse = [&](const QString& text, OptionsField field, int account = 0) {
        if (refusal)
            *refusal = SaveRefusal{field, account};
        return fail(ctx, text);
    };

    // 1. The filters, and their file.
    workingFilters.CopyObjects(ctx.filters);
    ctx.filters.Save(ctx.prompter);

    // 2. Every account that is checked needs its server, user name and password.
    bool anyChecked = false;
    int position = 0;
    for (CPOPAccount& a : workingAccounts) {
        ++position;
        if (!a.CheckMail())
            continue;
        anyChecked = true;
        if (a.Server().isEmpty())
            return refuse(QStringLiteral("Please enter the server domain name for your POP3 account."),
                          OptionsField::Accounts, position);
        if (a.Username().isEmpty())
            return refuse(QStringLiteral("Please enter the username for your POP3 account."), OptionsField::Accounts,
                          position);
        if (a.Password().isEmpty())
            return refuse(QStringLiteral("Please enter the password for your POP3 account."), OptionsField::Accounts,
                          position);
        if (a.MailPort() <= 0)
            a.SetMailPort(110);
    }
    if (!anyChecked)
        return refuse(QStringLiteral("You must enable at least one POP3 account."), OptionsField::Accounts);

    // 3. An e-mail pager needs its address.
    if (f.pagerType == PagerAlphaSMTP && f.pagerEmail.trimmed().isEmpty())
        return refuse(QStringLiteral("You must enter a valid recipient email address"), OptionsField::PagerEmail);
    // A network pager is paged by its ID, at its service's address.
    if (const QString why = PagerIdProblem(f.pagerType, f.pagerId); !why.isEmpty())
        return refuse(why, OptionsField::PagerId);
    if (const QString why = AddressProblem(f.pagerType, f.serviceAddress); !why.isEmpty())
        return refuse(why, OptionsField::ServiceAddress);
    // The fallback chain names pagers of the list; the notice goes to one
    // address; the test page's time is a time of day or nothing.
    EscalationSettings escalation;
    if (ctx.escalation) {
        QString why;
        escalation.fallback = ParseFallback(f.fallback, ctx.pagers, &why);
        if (!why.isEmpty())
            return refuse(QStringLiteral("Fallback pagers: %1.").arg(why), OptionsField::Fallback);
        if (const QString problem = NoticeAddressProblem(f.noticeAddress); !problem.isEmpty())
            return refuse(QStringLiteral("Failure notice: %1.").arg(problem), OptionsField::NoticeAddress);
        escalation.notify = f.noticeAddress.trimmed();
        const std::optional<QTime> at = ParseProofOfLife(f.proofOfLife);
        if (!at)
            return refuse(QStringLiteral("Daily test page: \"%1\" is not a time HH:MM (such as 07:30); leave it "
                                         "empty for none.")
                              .arg(f.proofOfLife),
                          OptionsField::ProofOfLife);
        escalation.proofOfLife = *at;
    }

    // 4. The proxy needs a host name or an address.
    if (f.useProxy) {
        if (f.proxyName.trimmed().isEmpty() && f.proxyAddress.trimmed().isEmpty())
            return refuse(QStringLiteral("You must enter either a host name or host address for the proxy server."),
                          OptionsField::ProxyHost);
        if (f.proxyPort.trimmed().isEmpty())
            f.proxyPort = QStringLiteral("80");
    }

    // 5. The accounts.
    workingAccounts.CopyObjects(ctx.accounts);

    // 6. The general settings. The port is a 16-bit number in the profile.
    if (f.smtpPort.trimmed().isEmpty())
        f.smtpPort = QStringLiteral("25");
    const auto smtpPort = strictNumber(f.smtpPort);
    if (!smtpPort || *smtpPort < 1 || *smtpPort > 32767)
        return refuse(kSmtpPortRange, OptionsField::SmtpPort);
    // The profile keeps these two scrambled; refuse what it could not read back.
    if (!PasswordStorable(f.dialPassword))
        return refuse(kPasswordNotStorableText, OptionsField::DialPassword);
    if (!PasswordStorable(f.remotePassword))
        return refuse(kPasswordNotStorableText, OptionsField::RemotePassword);
    // Remote control is switched on only with a password and the senders
    // it may obey.
    QStringList badSenders;
    const QStringList senders = ParseSenderList(f.remoteSenders, &badSenders);
    if (!badSenders.isEmpty())
        return refuse(kRemoteBadSender + badSenders.first(), OptionsField::RemoteSenders);
    if (f.remoteEnabled && f.remotePassword.isEmpty())
        return refuse(kRemoteNoPassword, OptionsField::RemotePassword);
    if (f.remoteEnabled && senders.isEmpty())
        return refuse(kRemoteNoSenders, OptionsField::RemoteSenders);
    SaveRemoteSafety(ctx.store, RemoteSafety{senders, f.remoteRunFolder.trimmed()});
    s.numericPagePrefix = f.numericPrefix;
    s.remotePassword = f.remotePassword;
    s.remoteControlEnabled = f.remoteEnabled;
    s.pageBody = f.pageBody;
    s.dialUpEntry = f.dialEntry;
    s.dialUpUser = f.dialUser;
    s.dialUpPassword = f.dialPassword;
    s.connectionType = static_cast<std::int16_t>(std::clamp(f.connectionType, 0, 2));
    s.externalDialerPath = f.externalDialer;
    s.dialTimeout = int16Of(f.dialTimeout);
    s.dialRetries = int16Of(f.dialRetries);
    s.pageHeaders = f.pageHeaders;
    s.pageBodyHighestPriority = f.pagePriority;
    s.domainName = f.domain;
    s.smtpHostAddress = f.smtpAddress;
    s.smtpHostName = f.smtpName;
    s.smtpPort = static_cast<std::int16_t>(*smtpPort);
    s.messageSizeLimit = int32Of(f.mailSize);
    s.maxPagesPerMessage = int16Of(f.maxPages);
    s.versionCheckFlag = f.checkUpdates;
    s.statusWindowFlag = f.showStatus;
    s.downloadFlag = f.download;
    const bool wasDocked = s.trayFlag;
    s.trayFlag = f.tray;
    if (wasDocked && !f.tray && ctx.showMainWindow)
        ctx.showMainWindow();
    s.soundEnabled = f.sound;
    s.soundFile = f.soundFile;
    s.emailClientPath = f.emailClient;

    // 7. The registry values, and the proxy server beside them.
    writeSetting(ctx.store, QStringLiteral("DefaultFile"), f.startupFile);
    writeSetting(ctx.store, QStringLiteral("ShowStatus"), flag(f.showStatus));
    writeSetting(ctx.store, QStringLiteral("GetMail"), flag(f.download));
    writeSetting(ctx.store, QStringLiteral("SystemTray"), flag(f.tray));
    writeSetting(ctx.store, QStringLiteral("EnableSound"), flag(f.sound));
    writeSetting(ctx.store, QStringLiteral("SoundFile"), f.soundFile);
    writeSetting(ctx.store, QStringLiteral("CheckUpdates"),
                 f.checkUpdates ? QStringLiteral("True") : QStringLiteral("False"));
    writeSetting(ctx.store, kUseProxy, flag(f.useProxy));
    writeSetting(ctx.store, kProxyHostName, f.proxyName);
    writeSetting(ctx.store, kProxyHostAddress, f.proxyAddress);
    writeSetting(ctx.store, kProxyPort, f.proxyPort);
    // A security text that names no choice is kept as it stands.
    const std::optional<Security> smtpChoice = ParseSecurity(f.smtpSecurity);
    SaveMailSecurity(ctx.store, MailSecurity{smtpChoice.value_or(Security::StartTls), f.smtpUser.trimmed(),
                                             f.smtpPassword, f.smtpPasswordCommand.trimmed(), f.caFile.trimmed(),
                                             smtpChoice ? QString() : f.smtpSecurity});
    QStringList accountNames;
    for (const CPOPAccount& a : ctx.accounts) {
        accountNames << a.Name();
        // A text that names no choice stays as it was stored, and the check
        // keeps refusing the account until a choice is made.
        if (const std::optional<Security> choice = ParseSecurity(f.popSecurity.value(a.Name())))
            WritePopSecurity(ctx.store, a.Name(), *choice);
        // Likewise a protocol text that names none.
        const OptionsFields::AccountSource source = f.accountSource.value(a.Name());
        if (const std::optional<MailProtocol> protocol = ParseMailProtocol(source.protocol))
            WriteMailProtocol(ctx.store, a.Name(), *protocol);
        WriteImapFolder(ctx.store, a.Name(), source.folder);
        if (f.accountOAuth.contains(a.Name()))
            SaveOAuthSettings(ctx.store, SignInTarget{a.Name()}, f.accountOAuth.value(a.Name()));
    }
    // The entries of accounts deleted or renamed here.
    ForgetStrayPopSecurityEntries(ctx.store, accountNames);
    SaveOAuthSettings(ctx.store, SignInTarget{}, f.smtpOAuth);
    if (ctx.keepClientSecret) {
        auto keep = [&](const SignInTarget& who, const QString& secret) {
            if (const QString why = ctx.keepClientSecret(who, secret); !why.isEmpty())
                ctx.activity.LogActivity(
                    QStringLiteral("The client secret of %1 could not be kept: %2").arg(who.Text(), why));
        };
        for (auto it = f.accountClientSecret.cbegin(); it != f.accountClientSecret.cend(); ++it)
            if (accountNames.contains(it.key()))
                keep(SignInTarget{it.key()}, it.value());
        if (f.smtpClientSecret)
            keep(SignInTarget{}, *f.smtpClientSecret);
    }

    // 8. The paging service, filed as "Default".
    if (f.maxPageLength.trimmed().isEmpty())
        f.maxPageLength = QStringLiteral("80");
    const std::int16_t pageLength = int16Of(f.maxPageLength);
    // The terminal's blocks, whether it is dialled or on a TCP port.
    if (f.pagerType == PagerAlphaDialUp && pageLength > 250)
        return refuse(kPageLengthLimit, OptionsField::MaxPageLength);
    if (f.pagerType == PagerAlphaTCP && pageLength > 250)
        return refuse(kTcpPageLengthLimit, OptionsField::MaxPageLength);
    try {
        if (ctx.services.Count() == 0)
            ctx.services.Add(std::make_unique<CPagerService>(), kDefaultServiceName);
        else
            ctx.services.SetKey(1, kDefaultServiceName);
        CPagerService& v = ctx.services.Item(1);
        v.SetBaud(f.baud);
        v.SetDataBits(f.dataBits);
        v.SetStopBits(f.stopBits);
        v.SetParity(f.parity);
        v.SetName(kDefaultServiceName);
        v.SetMaxPageChar(pageLength);
        v.SetTerminalPassword(f.terminalPassword);
        v.SetPhone(f.servicePhone);
        v.SetDigitalDelay(int16Of(f.numericDelay));
        const int selected = std::clamp<int>(s.selectedModemProfile, 0, LiveSettings::kModemProfileSlots - 1);
        v.SetInitstring(s.modemProfiles[static_cast<std::size_t>(selected)].initString);
        // The port chosen in the modem window, as loaded with the profile or
        // saved there since. The serial control's own port is only the last
        // one a page was sent through (COM1 before the first), so it is not
        // read here.
        v.SetCommPort(s.modemPortIndex);

        // 9. The pager, filed under its user name.
        if (ctx.pagers.Count() == 0)
            ctx.pagers.Add(std::make_unique<CPager>(), f.userName);
        else
            ctx.pagers.SetKey(1, f.userName);
    } catch (const TessalyError&) {
        // Another service or pager already has that name.
        return refuse(
            QStringLiteral("Another pager is already named \"%1\". Please enter another User Name.").arg(f.userName),
            OptionsField::UserName);
    }
    CPager& p = ctx.pagers.Item(1);
    p.SetID(f.pagerId);
    p.SetUsername(f.userName);
    p.SetPagerType(f.pagerType);
    p.SetServiceName(f.serviceName);
    p.SetDigitalNumber(f.numericPhone);
    p.SetEmailAddress(f.pagerEmail);
    p.SetFromAddress(f.pagerFrom);
    CPagerService& net = *networkService(ctx.services, f.serviceName);
    net.SetAddress(f.serviceAddress.trimmed());
    net.SetUseTls(f.serviceTls);
    net.SetSenderID(f.senderId.trimmed());
    net.SetSecurityCode(f.securityCode);
    net.SetReceipts(f.receipts);
    if (ctx.escalation)
        *ctx.escalation = escalation;

    // 10. The schedule.
    const QTime start = parseTimeOfDay(f.startTime);
    const QTime stop = parseTimeOfDay(f.stopTime);
    if (!start.isValid() || !stop.isValid())
        return refuse(kBadTimes, start.isValid() ? OptionsField::StopTime : OptionsField::StartTime);
    if (start > stop)
        return refuse(QStringLiteral("Start time must be less than Stop time."), OptionsField::StartTime);
    for (int day = 1; day <= 7; ++day)
        s.weekdays[static_cast<std::size_t>(day)] = f.weekdays[static_cast<std::size_t>(day)];
    s.startTime = f.startTime;
    s.stopTime = f.stopTime;
    std::int16_t frequency = int16Of(f.frequency);
    if (frequency < 5) {
        ctx.prompter.messageBox(QStringLiteral("Update cannot be less than 5 minutes..."), MsgButtons::OK);
        frequency = 5;
        f.frequency = QStringLiteral("5");
    }
    s.checkInterval = frequency;

    // 11. Refresh the main window; the profile has changed.
    if (ctx.updateSettings)
        ctx.updateSettings();
    ctx.profileChanged = true;
    return true;
}

void TestConnection(OptionsContext& ctx, const QString& entry, const QString& user, const QString& password,
                    const QString& timeout) {
    if (!ctx.connection)
        return;
    LiveSettings& s = ctx.settings;
    // The connection dials from the settings; the stored values come back afterwards.
    const QString oldEntry = s.dialUpEntry, oldUser = s.dialUpUser, oldPassword = s.dialUpPassword;
    const std::int16_t oldType = s.connectionType, oldTimeout = s.dialTimeout;
    s.dialTimeout = std::max<std::int16_t>(int16Of(timeout), 60);
    s.dialUpEntry = entry;
    s.dialUpUser = user;
    s.dialUpPassword = password;
    s.connectionType = ConnDialUp;
    const bool connected = ctx.connection->Connect();
    if (connected) {
        ctx.activity.LogActivity(QStringLiteral("Internet: Connection established..."));
        ctx.prompter.messageBox(QStringLiteral("Successful Connection!"), MsgButtons::OK);
    } else {
        ctx.activity.LogActivity(QStringLiteral("Internet: Connection was not established..."));
        ctx.prompter.messageBox(QStringLiteral("Failed to Connect..."), MsgButtons::OK);
    }
    ctx.connection->HangUp();
    s.dialUpEntry = oldEntry;
    s.dialUpUser = oldUser;
    s.dialUpPassword = oldPassword;
    s.connectionType = oldType;
    s.dialTimeout = oldTimeout;
}

} // namespace tessaly::options
