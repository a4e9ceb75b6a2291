#include "app/profiletext.h"

#include "app/mainprogram.h"
#include "app/profile.h"
#include "features/mail/cpopaccount.h"
#include "features/options/options.h"
#include "features/paging/escalation.h"
#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"
#include "ground/fieldfile.h"
#include "ground/scramble.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "state/appinfo.h"
#include "state/livesettings.h"
#include "state/mailsecurity.h"
#include "state/proxysettings.h"
#include "state/remotesafety.h"
#include "state/signinsettings.h"
#include "features/signin/oauthproviders.h"
#include "features/signin/tokensource.h"
#include "platform/formpost.h"
#include "platform/secretstore.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <array>
#include <algorithm>
#include <QTime>
#include <functional>
#include <vector>

namespace tessaly {

namespace {

// Why a value was refused; the caller puts the key in front.
struct Refusal {
    QString why;
};

// ---------------------------------------------------------------- values

QString boolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

bool parseBool(const QString& value) {
    static const QStringList yes = {QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on"),
                                    QStringLiteral("1"), QStringLiteral("#TRUE#")};
    static const QStringList no = {QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"),
                                   QStringLiteral("0"), QStringLiteral("#FALSE#")};
    const QString v = value.trimmed();
    if (yes.contains(v, Qt::CaseInsensitive))
        return true;
    if (no.contains(v, Qt::CaseInsensitive))
        return false;
    throw Refusal{QStringLiteral("\"%1\" is not true or false").arg(value)};
}

long long parseNumber(const QString& value, long long low, long long high) {
    bool ok = false;
    const long long n = value.trimmed().toLongLong(&ok);
    if (!ok || n < low || n > high)
        throw Refusal{QStringLiteral("\"%1\" is not a whole number from %2 to %3").arg(value).arg(low).arg(high)};
    return n;
}

// A name from `names` (any letter case) or its position in the list.
std::int16_t parseChoice(const QString& value, const QStringList& names) {
    const QString v = value.trimmed();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(v, Qt::CaseInsensitive) == 0 || v == QString::number(i))
            return static_cast<std::int16_t>(i);
    throw Refusal{QStringLiteral("\"%1\" is not one of: %2").arg(value, names.join(QStringLiteral(", ")))};
}

QString choiceText(int index, const QStringList& names) {
    return index >= 0 && index < names.size() ? names[index] : QString::number(index);
}

// A text the profile file can hold, by the writer's own rule.
QString storableText(const QString& value) {
    try {
        FieldWriter().Text(value, QStringLiteral("the value"));
    } catch (const TessalyError& e) {
        throw Refusal{e.description()};
    }
    return value;
}

QString nonEmptyText(const QString& value) {
    if (value.trimmed().isEmpty())
        throw Refusal{QStringLiteral("must not be empty")};
    return storableText(value);
}

// A text the settings file keeps on one line.
QString oneLineText(const QString& value) {
    if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')))
        throw Refusal{QStringLiteral("must be one line")};
    return value;
}

QString maskedText(const QString& password) { return password.isEmpty() ? QString() : kMaskedPassword; }

// The mask itself keeps the password, so shown text can be fed back.
QString passwordValue(const QString& value, const QString& current) {
    if (value == kMaskedPassword)
        return current;
    if (!PasswordStorable(value))
        throw Refusal{QStringLiteral("a password of 255 characters or more, or with a character the "
                                     "profile file cannot hold once scrambled")};
    return storableText(value);
}

QString timeText(const QString& value) {
    if (!parseTimeOfDay(value).isValid())
        throw Refusal{QStringLiteral("\"%1\" is not a time of day such as 8:00 am or 17:30").arg(value)};
    return value.trimmed();
}

std::int16_t int16Value(const QString& value, long long low = 0) {
    return static_cast<std::int16_t>(parseNumber(value, low, 32767));
}

// By PagerType: a name or its number sets the type.
const QStringList& pagerTypes() {
    static const QStringList names = {QStringLiteral("alpha-modem"), QStringLiteral("alpha-smtp"),
                                      QStringLiteral("numeric"),     QStringLiteral("wctp"),
                                      QStringLiteral("snpp"),        QStringLiteral("alpha-tcp")};
    return names;
}
const QStringList& connectionTypes() {
    static const QStringList names = {QStringLiteral("dialup"), QStringLiteral("direct"), QStringLiteral("external")};
    return names;
}
const QStringList& modemPorts() {
    static const QStringList names = {QStringLiteral("None"), QStringLiteral("COM1"), QStringLiteral("COM2"),
                                      QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
                                      QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8")};
    return names;
}
const QStringList& flowControls() {
    static const QStringList names = {QStringLiteral("None"), QStringLiteral("XON/XOFF"), QStringLiteral("RTS/CTS"),
                                      QStringLiteral("BOTH")};
    return names;
}
const QStringList& dialTypes() {
    static const QStringList names = {QStringLiteral("Tone"), QStringLiteral("Pulse")};
    return names;
}
const QStringList& speakerVolumes() {
    static const QStringList names = {QStringLiteral("Low"), QStringLiteral("Med"), QStringLiteral("Hi")};
    return names;
}
const QStringList& speakerModes() {
    static const QStringList names = {QStringLiteral("Off"), QStringLiteral("On Until Carrier Detected"),
                                      QStringLiteral("On Always"), QStringLiteral("On Until CD except Dialing")};
    return names;
}
const QStringList& weekdayNames() {
    static const QStringList names = {
        QStringLiteral("sunday"),   QStringLiteral("monday"), QStringLiteral("tuesday"), QStringLiteral("wednesday"),
        QStringLiteral("thursday"), QStringLiteral("friday"), QStringLiteral("saturday")};
    return names;
}

// ---------------------------------------------------------------- settings

// One setting of an object of type T: how it shows and how a value is set.
template <typename T> struct Field {
    QString name;
    std::function<QString(const T&)> show;
    std::function<void(T&, const QString&)> set;
};

template <typename T>
Field<T> textField(const QString& name, QString (T::*get)() const, void (T::*put)(const QString&)) {
    return {name, [get](const T& o) { return (o.*get)(); },
            [put](T& o, const QString& v) { (o.*put)(storableText(v)); }};
}
template <typename T>
Field<T> passwordField(const QString& name, QString (T::*get)() const, void (T::*put)(const QString&)) {
    return {name, [get](const T& o) { return maskedText((o.*get)()); },
            [get, put](T& o, const QString& v) { (o.*put)(passwordValue(v, (o.*get)())); }};
}

// The live settings' own fields, by member.
using SettingField = Field<LiveSettings>;
SettingField text(const QString& name, QString LiveSettings::*m) {
    return {name, [m](const LiveSettings& s) { return s.*m; },
            [m](LiveSettings& s, const QString& v) { s.*m = storableText(v); }};
}
SettingField password(const QString& name, QString LiveSettings::*m) {
    return {name, [m](const LiveSettings& s) { return maskedText(s.*m); },
            [m](LiveSettings& s, const QString& v) { s.*m = passwordValue(v, s.*m); }};
}
SettingField flag(const QString& name, bool LiveSettings::*m) {
    return {name, [m](const LiveSettings& s) { return boolText(s.*m); },
            [m](LiveSettings& s, const QString& v) { s.*m = parseBool(v); }};
}
SettingField number(const QString& name, std::int16_t LiveSettings::*m, long long low = 0) {
    return {name, [m](const LiveSettings& s) { return QString::number(s.*m); },
            [m, low](LiveSettings& s, const QString& v) { s.*m = int16Value(v, low); }};
}
SettingField choice(const QString& name, std::int16_t LiveSettings::*m, const QStringList& names) {
    return {name, [m, names](const LiveSettings& s) { return choiceText(s.*m, names); },
            [m, names](LiveSettings& s, const QString& v) { s.*m = parseChoice(v, names); }};
}
SettingField time(const QString& name, QString LiveSettings::*m) {
    return {name, [m](const LiveSettings& s) { return s.*m; },
            [m](LiveSettings& s, const QString& v) { s.*m = timeText(v); }};
}

// The settings before the pager list, the modem and schedule after the
// services, and the rest after the modem profiles, as the file has them.
const std::vector<SettingField>& pagingFields() {
    static const std::vector<SettingField> f = {flag(QStringLiteral("paging.enabled"), &LiveSettings::pagingEnabled)};
    return f;
}
const std::vector<SettingField>& modemFields() {
    static const std::vector<SettingField> f = {
        choice(QStringLiteral("modem.port"), &LiveSettings::modemPortIndex, modemPorts()),
        number(QStringLiteral("modem.retry_wait"), &LiveSettings::retryWait),
        number(QStringLiteral("modem.retries"), &LiveSettings::retries),
        choice(QStringLiteral("modem.speaker_volume"), &LiveSettings::speakerVolumeIndex, speakerVolumes()),
        choice(QStringLiteral("modem.speaker_mode"), &LiveSettings::speakerModeIndex, speakerModes()),
        choice(QStringLiteral("modem.flow_control"), &LiveSettings::flowControlIndex, flowControls()),
        choice(QStringLiteral("modem.dial_type"), &LiveSettings::dialTypeIndex, dialTypes()),
        {QStringLiteral("modem.profile_count"),
         [](const LiveSettings& s) { return QString::number(s.highestModemProfile + 1); },
         [](LiveSettings& s, const QString& v) {
             const auto count = parseNumber(v, 1, LiveSettings::kModemProfileSlots);
             for (auto i = count; i <= s.highestModemProfile; ++i)
                 s.modemProfiles[static_cast<std::size_t>(i)] = {};
             s.highestModemProfile = static_cast<std::int16_t>(count - 1);
         }},
        {QStringLiteral("modem.selected_profile"),
         [](const LiveSettings& s) { return QString::number(s.selectedModemProfile); },
         [](LiveSettings& s, const QString& v) {
             s.selectedModemProfile =
                 static_cast<std::int16_t>(parseNumber(v, 0, LiveSettings::kModemProfileSlots - 1));
         }},
    };
    return f;
}
const std::vector<SettingField>& scheduleFields() {
    static const std::vector<SettingField> f = [] {
        std::vector<SettingField> list = {
            flag(QStringLiteral("schedule.enabled"), &LiveSettings::scheduleEnabled),
            number(QStringLiteral("schedule.interval"), &LiveSettings::checkInterval, 5),
            time(QStringLiteral("schedule.start"), &LiveSettings::startTime),
            time(QStringLiteral("schedule.stop"), &LiveSettings::stopTime),
        };
        for (int day = 1; day <= 7; ++day)
            list.push_back(
                {QStringLiteral("schedule.") + weekdayNames()[day - 1],
                 [day](const LiveSettings& s) { return boolText(s.weekdays[static_cast<std::size_t>(day)]); },
                 [day](LiveSettings& s, const QString& v) {
                     s.weekdays[static_cast<std::size_t>(day)] = parseBool(v);
                 }});
        return list;
    }();
    return f;
}
const std::vector<SettingField>& restFields() {
    static const std::vector<SettingField> f = {
        choice(QStringLiteral("connection.type"), &LiveSettings::connectionType, connectionTypes()),
        text(QStringLiteral("connection.dialup_entry"), &LiveSettings::dialUpEntry),
        text(QStringLiteral("connection.dialup_user"), &LiveSettings::dialUpUser),
        password(QStringLiteral("connection.dialup_password"), &LiveSettings::dialUpPassword),
        text(QStringLiteral("connection.external_dialer"), &LiveSettings::externalDialerPath),
        number(QStringLiteral("connection.dial_timeout"), &LiveSettings::dialTimeout),
        number(QStringLiteral("connection.dial_retries"), &LiveSettings::dialRetries),
        flag(QStringLiteral("mail.page_headers"), &LiveSettings::pageHeaders),
        text(QStringLiteral("smtp.host_address"), &LiveSettings::smtpHostAddress),
        text(QStringLiteral("smtp.host_name"), &LiveSettings::smtpHostName),
        number(QStringLiteral("smtp.port"), &LiveSettings::smtpPort, 1),
        text(QStringLiteral("smtp.domain"), &LiveSettings::domainName),
        {QStringLiteral("mail.size_limit"), [](const LiveSettings& s) { return QString::number(s.messageSizeLimit); },
         [](LiveSettings& s, const QString& v) {
             s.messageSizeLimit = static_cast<std::int32_t>(parseNumber(v, 0, 2147483647));
         }},
        text(QStringLiteral("paging.numeric_prefix"), &LiveSettings::numericPagePrefix),
        flag(QStringLiteral("remote.enabled"), &LiveSettings::remoteControlEnabled),
        password(QStringLiteral("remote.password"), &LiveSettings::remotePassword),
        text(QStringLiteral("mail.client"), &LiveSettings::emailClientPath),
        flag(QStringLiteral("paging.body_highest_priority"), &LiveSettings::pageBodyHighestPriority),
        number(QStringLiteral("paging.max_pages"), &LiveSettings::maxPagesPerMessage),
        flag(QStringLiteral("paging.body"), &LiveSettings::pageBody),
    };
    return f;
}

const std::vector<Field<CPager>>& pagerFields() {
    static const std::vector<Field<CPager>> f = {
        {QStringLiteral("username"), &CPager::Username,
         [](CPager& p, const QString& v) { p.SetUsername(nonEmptyText(v)); }},
        {QStringLiteral("id"), &CPager::ID,
         [](CPager& p, const QString& v) {
             if (v.contains(QLatin1Char('-')))
                 throw Refusal{options::kPagerIdDashes};
             p.SetID(storableText(v));
         }},
        textField<CPager>(QStringLiteral("digital_number"), &CPager::DigitalNumber, &CPager::SetDigitalNumber),
        // The reader files an empty service name as "default"; so does this.
        {QStringLiteral("service"), &CPager::ServiceName,
         [](CPager& p, const QString& v) {
             p.SetServiceName(v.isEmpty() ? QStringLiteral("default") : storableText(v));
         }},
        {QStringLiteral("type"), [](const CPager& p) { return choiceText(p.PagerType(), pagerTypes()); },
         [](CPager& p, const QString& v) { p.SetPagerType(parseChoice(v, pagerTypes())); }},
        textField<CPager>(QStringLiteral("email"), &CPager::EmailAddress, &CPager::SetEmailAddress),
        textField<CPager>(QStringLiteral("from"), &CPager::FromAddress, &CPager::SetFromAddress),
    };
    return f;
}

Field<CPagerService> serviceChoice(const QString& name, QString (CPagerService::*get)() const,
                                   void (CPagerService::*put)(const QString&), const QStringList& names) {
    return {name, [get](const CPagerService& v) { return (v.*get)(); },
            [put, names](CPagerService& v, const QString& value) { (v.*put)(names[parseChoice(value, names)]); }};
}

const std::vector<Field<CPagerService>>& serviceFields() {
    using S = CPagerService;
    static const std::vector<Field<S>> f = {
        {QStringLiteral("name"), &S::Name, [](S& v, const QString& t) { v.SetName(nonEmptyText(t)); }},
        serviceChoice(QStringLiteral("baud"), &S::Baud, &S::SetBaud, options::BaudRates()),
        serviceChoice(QStringLiteral("parity"), &S::Parity, &S::SetParity, options::Parities()),
        serviceChoice(QStringLiteral("stop_bits"), &S::StopBits, &S::SetStopBits, options::StopBits()),
        serviceChoice(QStringLiteral("data_bits"), &S::DataBits, &S::SetDataBits, options::DataBits()),
        {QStringLiteral("comm_port"), [](const S& v) { return QString::number(v.CommPort()); },
         [](S& v, const QString& t) { v.SetCommPort(static_cast<std::int16_t>(parseNumber(t, 0, 8))); }},
        {QStringLiteral("digital_delay"), [](const S& v) { return QString::number(v.DigitalDelay()); },
         [](S& v, const QString& t) { v.SetDigitalDelay(int16Value(t)); }},
        textField<S>(QStringLiteral("init_string"), &S::Initstring, &S::SetInitstring),
        {QStringLiteral("max_page_chars"), [](const S& v) { return QString::number(v.MaxPageChar()); },
         [](S& v, const QString& t) { v.SetMaxPageChar(int16Value(t, 1)); }},
        textField<S>(QStringLiteral("phone"), &S::Phone, &S::SetPhone),
        passwordField<S>(QStringLiteral("terminal_password"), &S::TerminalPassword, &S::SetTerminalPassword),
        // The network values, kept in the settings file: one line each, and
        // no profile-file rules for them.
        {QStringLiteral("address"), &S::Address,
         [](S& v, const QString& t) { v.SetAddress(oneLineText(t.trimmed())); }},
        {QStringLiteral("tls"), [](const S& v) { return boolText(v.UseTls()); },
         [](S& v, const QString& t) { v.SetUseTls(parseBool(t)); }},
        {QStringLiteral("sender_id"), &S::SenderID,
         [](S& v, const QString& t) { v.SetSenderID(oneLineText(t.trimmed())); }},
        {QStringLiteral("security_code"), [](const S& v) { return maskedText(v.SecurityCode()); },
         [](S& v, const QString& t) { v.SetSecurityCode(t == kMaskedPassword ? v.SecurityCode() : oneLineText(t)); }},
        {QStringLiteral("receipts"), [](const S& v) { return boolText(v.Receipts()); },
         [](S& v, const QString& t) { v.SetReceipts(parseBool(t)); }},
    };
    return f;
}

const std::vector<Field<CPOPAccount>>& accountFields() {
    using A = CPOPAccount;
    static const std::vector<Field<A>> f = {
        {QStringLiteral("name"), &A::Name, [](A& a, const QString& v) { a.SetName(nonEmptyText(v)); }},
        textField<A>(QStringLiteral("server"), &A::Server, &A::SetServer),
        {QStringLiteral("port"), [](const A& a) { return QString::number(a.MailPort()); },
         [](A& a, const QString& v) { a.SetMailPort(int16Value(v, 1)); }},
        textField<A>(QStringLiteral("username"), &A::Username, &A::SetUsername),
        passwordField<A>(QStringLiteral("password"), &A::Password, &A::SetPassword),
        {QStringLiteral("check"), [](const A& a) { return boolText(a.CheckMail()); },
         [](A& a, const QString& v) { a.SetCheckMail(parseBool(v)); }},
    };
    return f;
}

const std::vector<Field<ModemProfile>>& modemProfileFields() {
    static const std::vector<Field<ModemProfile>> f = {
        {QStringLiteral("name"), [](const ModemProfile& m) { return m.name; },
         [](ModemProfile& m, const QString& v) { m.name = storableText(v); }},
        {QStringLiteral("init"), [](const ModemProfile& m) { return m.initString; },
         [](ModemProfile& m, const QString& v) { m.initString = storableText(v); }},
    };
    return f;
}

// What happens to a page no pager delivers, and the daily test page: kept
// in the settings file, written after the profile (SaveProfile).
const std::vector<Field<MainProgram>>& escalationFields() {
    static const std::vector<Field<MainProgram>> f = {
        {QStringLiteral("escalation.fallback"),
         [](const MainProgram& p) { return FallbackText(p.Escalation().fallback); },
         [](MainProgram& p, const QString& v) {
             QString why;
             const QStringList chain = ParseFallback(v, p.Pagers(), &why);
             if (!why.isEmpty())
                 throw Refusal{why};
             p.Escalation().fallback = chain;
         }},
        {QStringLiteral("escalation.notify"), [](const MainProgram& p) { return p.Escalation().notify; },
         [](MainProgram& p, const QString& v) {
             if (const QString why = NoticeAddressProblem(v); !why.isEmpty())
                 throw Refusal{why};
             p.Escalation().notify = v.trimmed();
         }},
        {QStringLiteral("proof_of_life.time"),
         [](const MainProgram& p) { return ProofOfLifeText(p.Escalation().proofOfLife); },
         [](MainProgram& p, const QString& v) {
             const std::optional<QTime> t = ParseProofOfLife(v);
             if (!t)
                 throw Refusal{QStringLiteral("\"%1\" is not a time HH:MM (such as 07:30) or off").arg(v)};
             p.Escalation().proofOfLife = *t;
         }},
    };
    return f;
}

// ---------------------------------------------------------------- settings file

// The values kept in the settings file rather than the profile, as loaded
// and as assignments change them. Only what changed is written back, after
// the profile was saved, so showing them and setting them back changes no
// byte of either file.
struct FileValues {
    MailSecurity mail;
    RemoteSafety remote;
    QString checkUpdates; // "True" or "False"
    QString useProxy;     // "1" or "0"
    QString proxyName, proxyAddress, proxyPort;
    std::array<QString, 9> ports; // [1..8]: COM1..COM8's devices
    // Accounts' security choices set by assignments, by account.
    QHash<const CPOPAccount*, Security> popSecurity;
    // Accounts' protocols and IMAP folders set by assignments, by account.
    QHash<const CPOPAccount*, MailProtocol> protocol;
    QHash<const CPOPAccount*, QString> folder;
    // The sign-in values, by account as assignments change them, and the
    // outgoing server's as loaded and changed; client secrets set by
    // assignments (empty: removed), for the secret store.
    QHash<const CPOPAccount*, OAuthSettings> oauth;
    OAuthSettings smtpOAuth;
    QHash<const CPOPAccount*, QString> clientSecret;
    std::optional<QString> smtpClientSecret;
    // Whether the secret store holds a client secret for a target.
    std::function<bool(const SignInTarget&)> hasClientSecret = {};
    const SettingsStore* store = nullptr;

    static FileValues Load(const SettingsStore& store) {
        FileValues v;
        v.store = &store;
        v.mail = LoadMailSecurity(store);
        v.smtpOAuth = LoadOAuthSettings(store, SignInTarget{});
        v.remote = LoadRemoteSafety(store);
        auto setting = [&](const QString& name, const QString& def) {
            return store.read(kAppTitle, kSettingsSection, name, def);
        };
        v.checkUpdates = setting(QStringLiteral("CheckUpdates"), QStringLiteral("True"));
        v.useProxy = setting(kUseProxy, QStringLiteral("0"));
        v.proxyName = setting(kProxyHostName, QString());
        v.proxyAddress = setting(kProxyHostAddress, QString());
        v.proxyPort = setting(kProxyPort, QStringLiteral("80"));
        for (int port = 1; port <= 8; ++port)
            v.ports[static_cast<std::size_t>(port)] =
                store.read(kAppTitle, kSerialPortsSection, QStringLiteral("COM%1").arg(port),
                           QStringLiteral("/dev/ttyS%1").arg(port - 1));
        return v;
    }
    QString popSecurityText(const CPOPAccount& a) const {
        if (const auto it = popSecurity.constFind(&a); it != popSecurity.cend())
            return SecurityText(*it);
        // An entry that names no choice shows as written, so that it can be set back.
        const std::optional<Security> stored = ReadPopSecurity(*store, a.Name());
        return stored ? SecurityText(*stored) : PopSecurityText(*store, a.Name());
    }
    QString protocolText(const CPOPAccount& a) const {
        if (const auto it = protocol.constFind(&a); it != protocol.cend())
            return MailProtocolText(*it).toLower();
        const std::optional<MailProtocol> stored = ReadMailProtocol(store, a.Name());
        return stored ? MailProtocolText(*stored).toLower() : MailProtocolEntry(*store, a.Name());
    }
    OAuthSettings oauthOf(const CPOPAccount& a) const {
        if (const auto it = oauth.constFind(&a); it != oauth.cend())
            return *it;
        return LoadOAuthSettings(*store, SignInTarget{a.Name()});
    }
    QString clientSecretText(const CPOPAccount* a) const {
        if (a ? clientSecret.contains(a) : smtpClientSecret.has_value())
            return maskedText(a ? clientSecret.value(a) : *smtpClientSecret);
        const bool kept = hasClientSecret && hasClientSecret(SignInTarget{a ? a->Name() : QString()});
        return kept ? kMaskedPassword : QString();
    }
    QString folderText(const CPOPAccount& a) const {
        if (const auto it = folder.constFind(&a); it != folder.cend())
            return it->isEmpty() ? kDefaultImapFolder : *it;
        return ReadImapFolder(store, a.Name());
    }
};

Security securityValue(const QString& value) {
    if (const std::optional<Security> s = ParseSecurity(value))
        return *s;
    throw Refusal{QStringLiteral("\"%1\" is not one of: %2").arg(value, SecurityTexts().join(QStringLiteral(", ")))};
}

using FileField = Field<FileValues>;
FileField fileText(const QString& name, QString FileValues::*m) {
    return {name, [m](const FileValues& v) { return v.*m; },
            [m](FileValues& v, const QString& t) { v.*m = oneLineText(t.trimmed()); }};
}
FileField mailText(const QString& name, QString MailSecurity::*m) {
    return {name, [m](const FileValues& v) { return v.mail.*m; },
            [m](FileValues& v, const QString& t) { v.mail.*m = oneLineText(t.trimmed()); }};
}

const std::vector<FileField>& fileFields() {
    static const std::vector<FileField> f = [] {
        std::vector<FileField> list = {
            {QStringLiteral("remote.allowed_senders"),
             [](const FileValues& v) { return SenderListText(v.remote.allowedSenders); },
             [](FileValues& v, const QString& t) {
                 QStringList bad;
                 v.remote.allowedSenders = ParseSenderList(t, &bad);
                 if (!bad.isEmpty())
                     throw Refusal{QStringLiteral("\"%1\" is not a mail address").arg(bad.first())};
             }},
            {QStringLiteral("remote.run_folder"), [](const FileValues& v) { return v.remote.runFolder; },
             [](FileValues& v, const QString& t) { v.remote.runFolder = oneLineText(t.trimmed()); }},
            {QStringLiteral("smtp.security"),
             [](const FileValues& v) {
                 return v.mail.smtpSecurityUnreadable.isEmpty() ? SecurityText(v.mail.smtp)
                                                                : v.mail.smtpSecurityUnreadable;
             },
             [](FileValues& v, const QString& t) {
                 v.mail.smtp = securityValue(t);
                 v.mail.smtpSecurityUnreadable.clear();
             }},
            mailText(QStringLiteral("smtp.user"), &MailSecurity::smtpUser),
            {QStringLiteral("smtp.password"), [](const FileValues& v) { return maskedText(v.mail.smtpPassword); },
             [](FileValues& v, const QString& t) {
                 if (t != kMaskedPassword)
                     v.mail.smtpPassword = oneLineText(t);
             }},
            mailText(QStringLiteral("smtp.password_command"), &MailSecurity::smtpPasswordCommand),
            mailText(QStringLiteral("mail.ca_file"), &MailSecurity::caFile),
            {QStringLiteral("version.check"),
             [](const FileValues& v) { return boolText(v.checkUpdates == QLatin1String("True")); },
             [](FileValues& v, const QString& t) {
                 v.checkUpdates = parseBool(t) ? QStringLiteral("True") : QStringLiteral("False");
             }},
            {QStringLiteral("proxy.enabled"),
             [](const FileValues& v) { return boolText(v.useProxy == QLatin1String("1")); },
             [](FileValues& v, const QString& t) {
                 v.useProxy = parseBool(t) ? QStringLiteral("1") : QStringLiteral("0");
             }},
            fileText(QStringLiteral("proxy.host_name"), &FileValues::proxyName),
            fileText(QStringLiteral("proxy.host_address"), &FileValues::proxyAddress),
            {QStringLiteral("proxy.port"), [](const FileValues& v) { return v.proxyPort; },
             [](FileValues& v, const QString& t) { v.proxyPort = QString::number(parseNumber(t, 1, 65535)); }},
        };
        for (int port = 1; port <= 8; ++port) {
            const auto at = static_cast<std::size_t>(port);
            list.push_back({QStringLiteral("serial.com%1").arg(port), [at](const FileValues& v) { return v.ports[at]; },
                            [at](FileValues& v, const QString& t) {
                                if (t.trimmed().isEmpty())
                                    throw Refusal{QStringLiteral("must name a device, such as /dev/ttyUSB0")};
                                v.ports[at] = oneLineText(t.trimmed());
                            }});
        }
        return list;
    }();
    return f;
}

// The account's security choice, shown and set beside its other values.
Field<CPOPAccount> accountSecurityField(FileValues& values) {
    return {QStringLiteral("security"), [&values](const CPOPAccount& a) { return values.popSecurityText(a); },
            [&values](CPOPAccount& a, const QString& t) { values.popSecurity.insert(&a, securityValue(t)); }};
}

// How the account is read ("pop3" or "imap") and the IMAP folder.
std::vector<Field<CPOPAccount>> accountSourceFields(FileValues& values) {
    return {{QStringLiteral("protocol"), [&values](const CPOPAccount& a) { return values.protocolText(a); },
             [&values](CPOPAccount& a, const QString& t) {
                 const std::optional<MailProtocol> p = ParseMailProtocol(t);
                 if (!p || t.trimmed().isEmpty())
                     throw Refusal{QStringLiteral("\"%1\" is not one of: pop3, imap").arg(t)};
                 values.protocol.insert(&a, *p);
             }},
            {QStringLiteral("folder"), [&values](const CPOPAccount& a) { return values.folderText(a); },
             [&values](CPOPAccount& a, const QString& t) { values.folder.insert(&a, oneLineText(t.trimmed())); }}};
}

// How an account or the outgoing server signs in: "signin" (password or
// oauth) and the OAuth 2.0 values, as "<prefix>oauth_provider" and so on.
// `get` and `put` reach the values of one target; `secret` its client
// secret as shown, `setSecret` takes a new one.
template <typename T>
std::vector<Field<T>> signInFields(const QString& prefix, std::function<OAuthSettings(const T&)> get,
                                   std::function<void(T&, const OAuthSettings&)> put,
                                   std::function<QString(const T&)> secret,
                                   std::function<void(T&, const QString&)> setSecret) {
    using Member = QString OAuthSettings::*;
    std::vector<Field<T>> out;
    out.push_back({prefix + QStringLiteral("signin"),
                   [get](const T& t) { return get(t).on ? QStringLiteral("oauth") : QStringLiteral("password"); },
                   [get, put](T& t, const QString& v) {
                       const QString word = v.trimmed().toLower();
                       if (word != QLatin1String("oauth") && word != QLatin1String("password"))
                           throw Refusal{QStringLiteral("\"%1\" is not one of: password, oauth").arg(v)};
                       OAuthSettings s = get(t);
                       s.on = word == QLatin1String("oauth");
                       put(t, s);
                   }});
    out.push_back(
        {prefix + QStringLiteral("oauth_provider"), [get](const T& t) { return get(t).provider; },
         [get, put](T& t, const QString& v) {
             const QString id = v.trimmed().toLower();
             if (!id.isEmpty() && !OAuthProviderIds().contains(id))
                 throw Refusal{
                     QStringLiteral("\"%1\" is not one of: %2").arg(v, OAuthProviderIds().join(QStringLiteral(", ")))};
             OAuthSettings s = get(t);
             s.provider = id;
             put(t, s);
         }});
    auto text = [&](const QString& name, Member m, bool url) {
        out.push_back({prefix + name, [get, m](const T& t) { return get(t).*m; },
                       [get, put, m, url](T& t, const QString& v) {
                           OAuthSettings s = get(t);
                           s.*m = oneLineText(v.trimmed());
                           if (url && !(s.*m).isEmpty())
                               if (const QString why = FormPostUrlProblem(s.*m); !why.isEmpty())
                                   throw Refusal{why};
                           put(t, s);
                       }});
    };
    text(QStringLiteral("oauth_client_id"), &OAuthSettings::clientId, false);
    out.push_back({prefix + QStringLiteral("oauth_client_secret"), secret, [setSecret](T& t, const QString& v) {
                       if (v != kMaskedPassword)
                           setSecret(t, oneLineText(v.trimmed()));
                   }});
    text(QStringLiteral("oauth_authorization_url"), &OAuthSettings::authorizationUrl, true);
    text(QStringLiteral("oauth_token_url"), &OAuthSettings::tokenUrl, true);
    text(QStringLiteral("oauth_device_url"), &OAuthSettings::deviceUrl, true);
    text(QStringLiteral("oauth_scope"), &OAuthSettings::scope, false);
    return out;
}

std::vector<Field<CPOPAccount>> accountSignInFields(FileValues& values) {
    return signInFields<CPOPAccount>(
        QString(), [&values](const CPOPAccount& a) { return values.oauthOf(a); },
        [&values](CPOPAccount& a, const OAuthSettings& s) { values.oauth.insert(&a, s); },
        [&values](const CPOPAccount& a) { return values.clientSecretText(&a); },
        [&values](CPOPAccount& a, const QString& v) { values.clientSecret.insert(&a, v); });
}

std::vector<FileField> smtpSignInFields() {
    return signInFields<FileValues>(
        QStringLiteral("smtp."), [](const FileValues& v) { return v.smtpOAuth; },
        [](FileValues& v, const OAuthSettings& s) { v.smtpOAuth = s; },
        [](const FileValues& v) { return v.clientSecretText(nullptr); },
        [](FileValues& v, const QString& secret) { v.smtpClientSecret = secret; });
}

// Writes what the assignments changed; the reason of the first write that
// did not reach the disk, empty when all did.
QString saveFileValues(SettingsStore& store, const FileValues& was, const FileValues& now, POPAccountList& accounts,
                       SecretStore& secrets) {
    QString failure;
    auto checked = [&] {
        if (failure.isEmpty())
            failure = store.lastFailure();
    };
    auto setting = [&](const QString& name, const QString& before, const QString& after) {
        if (before != after) {
            store.write(kAppTitle, kSettingsSection, name, after);
            checked();
        }
    };
    if (was.mail != now.mail) {
        SaveMailSecurity(store, now.mail);
        checked();
    }
    if (was.remote != now.remote) {
        SaveRemoteSafety(store, now.remote);
        checked();
    }
    setting(QStringLiteral("CheckUpdates"), was.checkUpdates, now.checkUpdates);
    setting(kUseProxy, was.useProxy, now.useProxy);
    setting(kProxyHostName, was.proxyName, now.proxyName);
    setting(kProxyHostAddress, was.proxyAddress, now.proxyAddress);
    setting(kProxyPort, was.proxyPort, now.proxyPort);
    for (int port = 1; port <= 8; ++port) {
        const auto at = static_cast<std::size_t>(port);
        if (was.ports[at] != now.ports[at]) {
            store.write(kAppTitle, kSerialPortsSection, QStringLiteral("COM%1").arg(port), now.ports[at]);
            checked();
        }
    }
    for (const CPOPAccount& account : accounts)
        if (const auto it = now.popSecurity.constFind(&account); it != now.popSecurity.cend()) {
            WritePopSecurity(store, account.Name(), *it);
            checked();
        }
    if (was.smtpOAuth != now.smtpOAuth) {
        SaveOAuthSettings(store, SignInTarget{}, now.smtpOAuth);
        checked();
    }
    auto keepSecret = [&](const SignInTarget& who, const QString& secret) {
        QString why;
        if (!KeepClientSecret(secrets, who, secret, &why) && failure.isEmpty())
            failure = QStringLiteral("the client secret of %1 could not be kept: %2").arg(who.Text(), why);
    };
    if (now.smtpClientSecret)
        keepSecret(SignInTarget{}, *now.smtpClientSecret);
    for (const CPOPAccount& account : accounts) {
        if (const auto it = now.oauth.constFind(&account); it != now.oauth.cend()) {
            SaveOAuthSettings(store, SignInTarget{account.Name()}, *it);
            checked();
        }
        if (const auto it = now.clientSecret.constFind(&account); it != now.clientSecret.cend())
            keepSecret(SignInTarget{account.Name()}, *it);
        if (const auto it = now.protocol.constFind(&account); it != now.protocol.cend()) {
            WriteMailProtocol(store, account.Name(), *it);
            checked();
        }
        if (const auto it = now.folder.constFind(&account); it != now.folder.cend()) {
            WriteImapFolder(store, account.Name(), *it);
            checked();
        }
    }
    return failure;
}

// ---------------------------------------------------------------- lists

// A numbered list as the text form sees it: "<prefix>.count" and
// "<prefix>.<n>.<field>", numbered from `first`.
template <typename T> struct ListAccess {
    QString prefix;
    int first = 1;
    int limit = 0; // most members allowed
    std::function<int()> count;
    std::function<T&(int n)> item;
    std::function<void(int count)> resize;
    bool countKey = true; // "<prefix>.count" shows and sets the length
};

QString line(const QString& key, const QString& value) { return key + QStringLiteral(" = ") + value; }

template <typename T> void showList(QStringList& out, const ListAccess<T>& list, const std::vector<Field<T>>& fields) {
    if (list.countKey)
        out << line(list.prefix + QStringLiteral(".count"), QString::number(list.count()));
    for (int i = 0; i < list.count(); ++i)
        for (const Field<T>& f : fields)
            out << line(QStringLiteral("%1.%2.%3").arg(list.prefix).arg(list.first + i).arg(f.name),
                        f.show(list.item(i)));
}

// True when `key` belongs to the list; sets it then.
template <typename T>
bool setInList(const QString& key, const QString& value, const ListAccess<T>& list,
               const std::vector<Field<T>>& fields) {
    if (!key.startsWith(list.prefix + QLatin1Char('.')))
        return false;
    const QStringList parts = key.mid(list.prefix.size() + 1).split(QLatin1Char('.'));
    if (list.countKey && parts == QStringList{QStringLiteral("count")}) {
        list.resize(static_cast<int>(parseNumber(value, 0, list.limit)));
        return true;
    }
    if (parts.size() != 2)
        return false;
    const auto field =
        std::find_if(fields.begin(), fields.end(), [&](const Field<T>& f) { return f.name == parts[1]; });
    bool ok = false;
    const int n = parts[0].toInt(&ok);
    if (field == fields.end() || !ok)
        return false;
    const int index = n - list.first;
    // One past the end adds a member.
    if (index < 0 || index > list.count() || index >= list.limit)
        throw Refusal{QStringLiteral("there is no number %1; the next one is %2 (at most %3)")
                          .arg(n)
                          .arg(list.first + list.count())
                          .arg(list.limit)};
    if (index == list.count())
        list.resize(list.count() + 1);
    field->set(list.item(index), value);
    return true;
}

template <typename T, typename L>
ListAccess<T> keyedListAccess(const QString& prefix, L& list, int limit, std::function<T(int n)> fresh) {
    return {prefix,
            1,
            limit,
            [&list] { return list.Count(); },
            [&list](int i) -> T& { return list.Item(i + 1); },
            [&list, fresh](int count) {
                while (list.Count() > count)
                    list.Remove(list.Count());
                while (list.Count() < count)
                    list.Add(std::make_unique<T>(fresh(list.Count() + 1)));
            }};
}

struct Lists {
    ListAccess<CPager> pagers;
    ListAccess<CPagerService> services;
    ListAccess<ModemProfile> modemProfiles;
    ListAccess<CPOPAccount> accounts;
};

Lists listsOf(MainProgram& program) {
    LiveSettings& s = program.Settings();
    // New members start from what a fresh profile holds.
    auto pager = [](int n) {
        CPager p;
        p.SetUsername(QStringLiteral("user%1").arg(n));
        p.SetServiceName(QStringLiteral("Default"));
        return p;
    };
    auto service = [](int n) {
        CPagerService v;
        v.SetName(n == 1 ? QStringLiteral("Default") : QStringLiteral("Service%1").arg(n));
        v.SetBaud(QStringLiteral("1200"));
        v.SetParity(QStringLiteral("EVEN"));
        v.SetStopBits(QStringLiteral("1"));
        v.SetDataBits(QStringLiteral("7"));
        v.SetMaxPageChar(80);
        return v;
    };
    auto account = [](int n) {
        CPOPAccount a;
        a.SetName(QStringLiteral("Account%1").arg(n));
        return a;
    };
    ListAccess<ModemProfile> modem{
        QStringLiteral("modem.profile"),
        0,
        LiveSettings::kModemProfileSlots,
        [&s] { return s.highestModemProfile + 1; },
        [&s](int i) -> ModemProfile& { return s.modemProfiles[static_cast<std::size_t>(i)]; },
        [&s](int count) {
            for (int i = s.highestModemProfile + 1; i < count; ++i)
                s.modemProfiles[static_cast<std::size_t>(i)] = {};
            s.highestModemProfile = static_cast<std::int16_t>(count - 1);
        },
        false}; // its length is modem.profile_count
    return {keyedListAccess<CPager>(QStringLiteral("pager"), program.Pagers(), 32767, pager),
            keyedListAccess<CPagerService>(QStringLiteral("service"), program.Services(), 32767, service), modem,
            keyedListAccess<CPOPAccount>(QStringLiteral("account"), program.POPAccounts(),
                                         std::max<int>(1, s.maxPOPAccounts), account)};
}

template <typename T> const Field<T>* findField(const std::vector<Field<T>>& fields, const QString& key) {
    for (const Field<T>& f : fields)
        if (f.name == key)
            return &f;
    return nullptr;
}

const SettingField* findSetting(const QString& key) {
    for (const auto* group : {&pagingFields(), &modemFields(), &scheduleFields(), &restFields()})
        if (const SettingField* f = findField(*group, key))
            return f;
    return nullptr;
}

TessalyError refused(const QString& key, const QString& why) {
    return TessalyError(err::InvalidCall, QStringLiteral("%1: %2").arg(key, why));
}

// What only the whole profile can tell, checked after every assignment.
void checkWhole(MainProgram& program) {
    const LiveSettings& s = program.Settings();
    const QTime start = parseTimeOfDay(s.startTime);
    const QTime stop = parseTimeOfDay(s.stopTime);
    if (start.isValid() && stop.isValid() && start > stop)
        throw refused(QStringLiteral("schedule.start"),
                      QStringLiteral("the start time must not be after the stop time"));
    if (s.selectedModemProfile > s.highestModemProfile)
        throw refused(QStringLiteral("modem.selected_profile"),
                      QStringLiteral("there is no modem profile %1").arg(s.selectedModemProfile));
    // Pagers and services are looked up by name: file each under its
    // current one, which must be unique.
    auto rekey = [](auto& list, const QString& prefix, const QString& field, auto nameOf) {
        for (int i = 1; i <= list.Count(); ++i)
            list.SetKey(i, QString());
        for (int i = 1; i <= list.Count(); ++i) {
            try {
                list.SetKey(i, nameOf(list.Item(i)));
            } catch (const TessalyError&) {
                throw refused(QStringLiteral("%1.%2.%3").arg(prefix).arg(i).arg(field),
                              QStringLiteral("another one is already named \"%1\"").arg(nameOf(list.Item(i))));
            }
        }
    };
    rekey(program.Pagers(), QStringLiteral("pager"), QStringLiteral("username"),
          [](const CPager& p) { return p.Username(); });
    rekey(program.Services(), QStringLiteral("service"), QStringLiteral("name"),
          [](const CPagerService& v) { return v.Name(); });
    // A pager pages through its service, found by name in any letter case.
    for (int i = 1; i <= program.Pagers().Count(); ++i) {
        const QString service = program.Pagers().Item(i).ServiceName();
        if (!program.Services().Contains(service))
            throw refused(QStringLiteral("pager.%1.service").arg(i),
                          QStringLiteral("no paging service is named \"%1\"").arg(service));
    }
}

// A pager of a network type is paged by its ID at its service's address.
// Checked when an assignment changed a pager's type, ID or service, or a
// service's name or address, so that a profile already holding such a
// pager still takes other changes.
void checkNetworkPagers(MainProgram& program) {
    const ServiceList& services = program.Services();
    for (int i = 1; i <= program.Pagers().Count(); ++i) {
        const CPager& p = program.Pagers().Item(i);
        const QString type = choiceText(p.PagerType(), pagerTypes());
        if (!options::PagerIdProblem(p.PagerType(), p.ID()).isEmpty())
            throw refused(QStringLiteral("pager.%1.id").arg(i),
                          QStringLiteral("a pager of type %1 needs its pager ID").arg(type));
        for (int n = 1; n <= services.Count(); ++n) {
            const CPagerService& v = services.Item(n);
            if (v.Name().compare(p.ServiceName(), Qt::CaseInsensitive) != 0)
                continue;
            QString why = options::AddressProblem(p.PagerType(), v.Address());
            if (why.isEmpty())
                break;
            if (why.endsWith(QLatin1Char('.')))
                why.chop(1);
            why[0] = why[0].toLower();
            throw refused(QStringLiteral("service.%1.address").arg(n),
                          QStringLiteral("pager.%1 is of type %2: %3").arg(i).arg(type, why));
        }
    }
}

// The keys whose change calls for checkNetworkPagers.
bool touchesNetworkPagers(const QString& key) {
    static const QRegularExpression keys(
        QStringLiteral("^(pager\\.(count|\\d+\\.(type|id|service))|service\\.(count|\\d+\\.(name|address)))$"));
    return keys.match(key).hasMatch();
}

bool loadForText(MainProgram& program, const QString& path, QString& err) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        err += QStringLiteral("tessly: no profile file at %1\n").arg(path.isEmpty() ? QStringLiteral("(none)") : path);
        return false;
    }
    program.Settings().applyFactoryValues();
    // The loader itself: the notes the program writes after a load do not
    // belong in these lines.
    LoadProfile(program, path);
    if (program.ProfileLoadFailed()) {
        err += QStringLiteral("tessly: the profile could not be loaded: %1\n").arg(path);
        return false;
    }
    return true;
}

} // namespace

namespace {

QStringList textLines(MainProgram& program, FileValues& values) {
    const LiveSettings& s = program.Settings();
    const Lists lists = listsOf(program);
    QStringList out;
    auto show = [&](const std::vector<SettingField>& fields) {
        for (const SettingField& f : fields)
            out << line(f.name, f.show(s));
    };
    show(pagingFields());
    showList(out, lists.pagers, pagerFields());
    showList(out, lists.services, serviceFields());
    show(modemFields());
    showList(out, lists.modemProfiles, modemProfileFields());
    show(scheduleFields());
    show(restFields());
    for (const FileField& f : fileFields())
        out << line(f.name, f.show(values));
    for (const FileField& f : smtpSignInFields())
        out << line(f.name, f.show(values));
    std::vector<Field<CPOPAccount>> accounts = accountFields();
    accounts.push_back(accountSecurityField(values));
    for (Field<CPOPAccount>& f : accountSourceFields(values))
        accounts.push_back(std::move(f));
    for (Field<CPOPAccount>& f : accountSignInFields(values))
        accounts.push_back(std::move(f));
    showList(out, lists.accounts, accounts);
    for (const Field<MainProgram>& f : escalationFields())
        out << line(f.name, f.show(program));
    return out;
}

void apply(MainProgram& program, const QStringList& assignments, FileValues& values) {
    const Lists lists = listsOf(program);
    std::vector<Field<CPOPAccount>> accounts = accountFields();
    accounts.push_back(accountSecurityField(values));
    for (Field<CPOPAccount>& f : accountSourceFields(values))
        accounts.push_back(std::move(f));
    for (Field<CPOPAccount>& f : accountSignInFields(values))
        accounts.push_back(std::move(f));
    bool remoteTouched = false;
    bool networkTouched = false;
    for (const QString& assignment : assignments) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw refused(assignment, QStringLiteral("not a key=value assignment"));
        const QString key = assignment.left(eq).trimmed();
        const QString value = assignment.mid(eq + 1);
        remoteTouched = remoteTouched || key.startsWith(QLatin1String("remote."));
        // The value the profile already holds stays, even one a new value
        // could not be (an SMTP port of 0 that was never set): what the text
        // form shows can always be set back.
        if (textLines(program, values).contains(line(key, value)))
            continue;
        networkTouched = networkTouched || touchesNetworkPagers(key);
        try {
            if (const SettingField* f = findSetting(key)) {
                f->set(program.Settings(), value);
                continue;
            }
            if (const FileField* f = findField(fileFields(), key)) {
                f->set(values, value);
                continue;
            }
            if (const std::vector<FileField> smtp = smtpSignInFields(); const FileField* f = findField(smtp, key)) {
                f->set(values, value);
                continue;
            }
            if (const Field<MainProgram>* f = findField(escalationFields(), key)) {
                f->set(program, value);
                continue;
            }
            if (!setInList(key, value, lists.pagers, pagerFields()) &&
                !setInList(key, value, lists.services, serviceFields()) &&
                !setInList(key, value, lists.modemProfiles, modemProfileFields()) &&
                !setInList(key, value, lists.accounts, accounts))
                throw Refusal{QStringLiteral("unknown setting")};
        } catch (const Refusal& r) {
            QString why = r.why;
            if (why.endsWith(QLatin1Char('.')))
                why.chop(1);
            throw refused(key, why);
        }
    }
    checkWhole(program);
    if (networkTouched)
        checkNetworkPagers(program);
    // Remote control is switched on only with a password and a sender it
    // may obey; a profile that has it on without them still takes other
    // changes.
    const LiveSettings& s = program.Settings();
    if (remoteTouched && s.remoteControlEnabled) {
        if (s.remotePassword.isEmpty())
            throw refused(QStringLiteral("remote.enabled"),
                          QStringLiteral("remote control cannot be enabled with an empty remote.password"));
        if (values.remote.allowedSenders.isEmpty())
            throw refused(QStringLiteral("remote.enabled"),
                          QStringLiteral("remote control cannot be enabled without remote.allowed_senders"));
    }
}

} // namespace

namespace {
// The settings file's values, with the client secrets looked up in the
// program's secret store.
FileValues loadFileValues(MainProgram& program) {
    FileValues v = FileValues::Load(program.Platform().store);
    v.hasClientSecret = [&program](const SignInTarget& who) { return HasClientSecret(program.Secrets(), who); };
    return v;
}
} // namespace

QStringList ProfileTextLines(MainProgram& program) {
    FileValues values = loadFileValues(program);
    return textLines(program, values);
}

void ApplyProfileAssignments(MainProgram& program, const QStringList& assignments) {
    SettingsStore& store = program.Platform().store;
    const FileValues was = loadFileValues(program);
    FileValues values = was;
    apply(program, assignments, values);
    saveFileValues(store, was, values, program.POPAccounts(), program.Secrets());
}

int ShowProfileCommand(MainProgram& program, const QString& path, QString& out, QString& err) {
    if (!loadForText(program, path, err))
        return 2;
    out += QStringLiteral("# %1\n").arg(path);
    for (const QString& l : ProfileTextLines(program))
        out += l + QLatin1Char('\n');
    return 0;
}

int SetProfileCommand(MainProgram& program, const QString& path, const QStringList& assignments, QString& err) {
    if (!loadForText(program, path, err))
        return 2;
    SettingsStore& store = program.Platform().store;
    const FileValues was = loadFileValues(program);
    FileValues values = was;
    try {
        apply(program, assignments, values);
    } catch (const TessalyError& e) {
        err += QStringLiteral("tessly: %1; %2 was not changed\n").arg(e.description(), path);
        return 64;
    }
    try {
        // The whole file is built first and replaces the old one in one step.
        SaveProfile(program, path);
    } catch (const TessalyError& e) {
        err += QStringLiteral("tessly: %1 could not be saved: %2\n").arg(path, e.description());
        return 73;
    }
    // The settings file's values follow once the profile stands.
    if (const QString failure = saveFileValues(store, was, values, program.POPAccounts(), program.Secrets());
        !failure.isEmpty()) {
        err += QStringLiteral("tessly: the settings file could not be saved: %1\n").arg(failure);
        return 73;
    }
    return 0;
}

} // namespace tessaly
