#pragma once
// The options dialog's logic: the field values it shows, filled from the
// live settings, the profile's pager and service and the settings store; the
// checks made while the user types; and Save, which validates the fields and
// writes them (filters, accounts, settings, registry values, service, pager,
// schedule) in that order. The window (frmOptions) only shows the fields.

#include "features/signin/tokensource.h"
#include "state/proxysettings.h"
#include "features/filters/cfilter.h"
#include "features/mail/cpopaccount.h"
#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/escalation.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

namespace tessaly {

class ActivityLog;
class Connection;
class DialupControl;
class Prompter;
class SerialControl;
class SettingsStore;
class Timer;
struct LiveSettings;

struct OptionsContext {
    LiveSettings& settings;
    bool& profileChanged;
    POPAccountList& accounts;
    Filters& filters;
    PagerList& pagers;
    ServiceList& services;
    SettingsStore& store;
    Prompter& prompter;
    ActivityLog& activity;
    // The one-minute timer, stopped while the dialog is open.
    Timer& minuteTimer;
    // The main window's serial port control and dial-up control; none where
    // the run has no such device.
    SerialControl* serial = nullptr;
    DialupControl* dialup = nullptr;
    // The internet connection, for "Test Connection".
    Connection* connection = nullptr;
    // Refreshes the main window's "Current Settings".
    std::function<void()> updateSettings;
    // Shows the main window (when docking in the tray is turned off).
    std::function<void()> showMainWindow;
    // The startup profile start-up uses when the settings name none.
    QString defaultStartupFile;
    // The fallback chain, the failure notice's address and the daily test
    // page's time (saved to the settings file with the profile); none: not shown.
    EscalationSettings* escalation = nullptr;
    // OAuth 2.0: whether the secret store holds a client secret, keeping
    // one (the reason when it could not be kept), and signing in with the
    // values on screen; none: sign-in is not offered.
    std::function<bool(const SignInTarget&)> hasClientSecret = {};
    std::function<QString(const SignInTarget&, const QString& secret)> keepClientSecret = {};
    std::function<OAuthResult(const SignInTarget&, bool imap, const QString& user, const TokenSource::Unsaved&,
                              const TokenSource::Prompts&, const bool* cancel)>
        signIn = {};
    // Opens an address in the browser.
    std::function<void(const QString& url)> openUrl = {};
};

// Everything the dialog shows, as the user edits it.
struct OptionsFields {
    // General
    QString startupFile;
    QString emailClient;
    bool sound = false;
    QString soundFile;
    QString mailSize;
    bool download = false;
    bool pageHeaders = false;
    bool pageBody = false;
    bool pagePriority = false;
    QString maxPages;
    bool showStatus = false;
    bool tray = false;
    bool checkUpdates = false;
    // Internet connection: 0 dial-up, 1 direct, 2 external dialer.
    int connectionType = 1;
    QString dialEntry;
    QString dialUser;
    QString dialPassword;
    QString dialTimeout;
    QString dialRetries;
    QString externalDialer;
    bool useProxy = false;
    QString proxyName;
    QString proxyAddress;
    QString proxyPort;
    // Pager service
    QString serviceName;
    QString servicePhone;
    QString terminalPassword;
    QString baud;
    QString parity;
    QString dataBits;
    QString stopBits;
    // The network service values of the service the pager pages through
    // (the settings file keeps them): the address, TLS from the first byte,
    // the WCTP sender ID, the security code (a secret) and the receipts.
    QString serviceAddress;
    bool serviceTls = false;
    QString senderId;
    QString securityCode;
    bool receipts = false;
    // Pager
    QString userName;
    QString maxPageLength;
    PagerType pagerType = PagerAlphaDialUp;
    QString pagerId;
    QString pagerEmail;
    QString pagerFrom;
    QString numericPhone;
    QString numericPrefix;
    QString numericDelay;
    // What becomes of a page pager 1 does not deliver, and the daily test
    // page ("HH:MM", empty: off).
    QString fallback;
    QString noticeAddress;
    QString proofOfLife;
    // Outgoing mail
    QString domain;
    QString smtpName;
    QString smtpAddress;
    QString smtpPort;
    // Connection security: the texts of SecurityTexts(); the POP3 choice by
    // account name (an account missing here is "automatic").
    QString smtpSecurity;
    QString smtpUser;
    QString smtpPassword;
    QString smtpPasswordCommand;
    QString caFile;
    QHash<QString, QString> popSecurity;
    // How each account is read: "POP3" or "IMAP", and the IMAP folder (empty:
    // INBOX), by account name (an account missing here is POP3).
    struct AccountSource {
        QString protocol;
        QString folder;
        bool operator==(const AccountSource&) const = default;
    };
    QHash<QString, AccountSource> accountSource;
    // How each account signs in, by account name, and the outgoing server;
    // client secrets typed in the dialog, kept in the secret store on saving
    // (an empty one is removed).
    QHash<QString, OAuthSettings> accountOAuth;
    OAuthSettings smtpOAuth;
    QHash<QString, QString> accountClientSecret;
    std::optional<QString> smtpClientSecret;
    // Schedule; weekdays index 1 = Sunday .. 7 = Saturday.
    QString frequency;
    QString startTime;
    QString stopTime;
    std::array<bool, 8> weekdays{};
    // Remote control; the senders and the run folder live in the settings file.
    bool remoteEnabled = false;
    QString remotePassword;
    QString remoteSenders;
    QString remoteRunFolder;
};

namespace options {

// Drop-down contents of the "Pager Service" page.
QStringList BaudRates();
QStringList Parities();
QStringList DataBits();
QStringList StopBits();

// Registry values under the program's section that keep the proxy server.

// Messages.
inline const QString kInvalidNumber = QStringLiteral("Invalid Number");
inline const QString kPagerIdDashes = QStringLiteral("Please enter Pager ID without dashes");
inline const QString kNoMoreAccounts = QStringLiteral("You cannot add any more POP3 accounts.");
inline const QString kLastAccount = QStringLiteral("You cannot delete the last account.");
inline const QString kSmtpPortRange = QStringLiteral("Please enter an SMTP port from 1 to 32767.");
inline const QString kPageLengthLimit =
    QStringLiteral("The Max Page Length cannot be more than 250 characters for Alphanumeric (Direct) pagers.");
inline const QString kTcpPageLengthLimit =
    QStringLiteral("The Max Page Length cannot be more than 250 characters for Alphanumeric (TCP) pagers.");
inline const QString kRemoteNoPassword =
    QStringLiteral("Remote control cannot be enabled without a Remote Command Password.");
inline const QString kRemoteNoSenders = QStringLiteral(
    "Remote control cannot be enabled without Allowed Senders: enter the mail addresses whose commands are obeyed.");
inline const QString kRemoteBadSender = QStringLiteral("This is not a mail address: ");
inline const QString kBadTimes =
    QStringLiteral("Please enter the Start Time and Stop Time as times of day, such as 8:00 am.");

// The port an SNPP address without one is reached on.
constexpr int kSnppDefaultPort = 444;

// Why `address` cannot take the pages of a pager of `type`; empty when it
// can, and for the types that do not page over the network. A WCTP
// endpoint is an http or https URL with a host; an SNPP server is a host
// with an optional port; a paging terminal on TCP needs host and port.
QString AddressProblem(PagerType type, const QString& address);
// Why a pager of `type` cannot do without a Pager Identifier; empty when it
// can (the types that page the ID over the network need one).
QString PagerIdProblem(PagerType type, const QString& pagerId);

// The dial-up entries the dial-up control knows; none when it is missing.
QStringList DialUpEntries(DialupControl* dialup);

// The fields as the live settings, the profile's first pager and service and
// the settings store hold them now.
OptionsFields Load(const OptionsContext& ctx);

// Checks made while the user edits. Each returns the message to show (empty
// when the text is fine) and puts the replacement text into `text`.
// "Max Page Length:": a text that is not a whole number becomes "80".
QString CheckMaxPageLength(QString& text);
// "Pager Identifier:": a dash empties the field.
QString CheckPagerId(QString& text);
// When the field loses focus: "Delay after dial:" below 4 becomes "4",
// "Timeout:" below 60 becomes "60". No message.
void CheckDelayOnLeave(QString& text);
void CheckTimeoutOnLeave(QString& text);

// Saves in the dialog's order: the filters (file written), the account
// checks, the pager address (and for a network pager its identifier and
// its service's address), the proxy, the accounts, the general settings,
// the registry values, the service, the pager and the schedule; then the
// main window is refreshed and the profile marked as changed. A failed check
// shows its message and ends Save with false, the steps before it staying
// written; `refusal`, when given, names the field the failed check is about.
// `fields` may be corrected (a frequency below 5, empty ports).
// The field a refused Save is about, so that the dialog can show it.
enum class OptionsField {
    None,
    Accounts, // the account list; `account` names the account when one is at fault
    PagerEmail,
    ProxyHost,
    SmtpPort,
    DialPassword,
    RemotePassword,
    RemoteSenders,
    MaxPageLength,
    UserName,
    PagerId,
    ServiceAddress,
    StartTime,
    StopTime,
    Fallback,
    NoticeAddress,
    ProofOfLife,
};
struct SaveRefusal {
    OptionsField field = OptionsField::None;
    int account = 0; // position in the working account list, 0: none in particular
};
bool Save(OptionsContext& ctx, OptionsFields& fields, POPAccountList& workingAccounts, const Filters& workingFilters,
          SaveRefusal* refusal = nullptr);

// "Test Connection": dials the entry with the user, password and time-out
// the fields show, reports the outcome, hangs up. The stored dial-up
// settings are unchanged.
void TestConnection(OptionsContext& ctx, const QString& entry, const QString& user, const QString& password,
                    const QString& timeout);

} // namespace options
} // namespace tessaly
