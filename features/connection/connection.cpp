#include "features/connection/connection.h"

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/appstate.h"
#include "log/clogfile.h"
#include "ground/tessalyerror.h"
#include "platform/dialupcontrol.h"
#include "platform/eventpump.h"

#include <array>

namespace tessaly {

namespace {

// Name tables, kept packed.
// clang-format off
const char* const kStateNames[26] = {
    "OpenPort", "PortOpened", "ConnectDevice", "Device Connected", "AllDevicesConnected",
    "Authenticate", "AuthNotify", "AuthRetry", "AuthCallback", "AuthChangePassword",
    "AuthProject", "AuthLinkSpeed", "AuthAck", "ReAuthenticate", "Authenticated",
    "PrepareForCallback", "WaitForModemReset", "WaitForCallback", "Projected", "Interactive",
    "RetryAuthentication", "CallbackSetByCaller", "PasswordExpired", "Connected", "Disconnected",
    ""};

// Dial-up networking errors 600 .. 750, in number order.
const char* const kDialErrorNames[] = {
    "PENDING", "ERROR_INVALID_PORT_HANDLE", "ERROR_PORT_ALREADY_OPEN", "ERROR_BUFFER_TOO_SMALL",
    "ERROR_WRONG_INFO_SPECIFIED", "ERROR_CANNOT_SET_PORT_INFO", "ERROR_PORT_NOT_CONNECTED",
    "ERROR_EVENT_INVALID", "ERROR_DEVICE_DOES_NOT_EXIST", "ERROR_DEVICETYPE_DOES_NOT_EXIST",
    "ERROR_BUFFER_INVALID", "ERROR_ROUTE_NOT_AVAILABLE", "ERROR_ROUTE_NOT_ALLOCATED",
    "ERROR_INVALID_COMPRESSION_SPECIFIED", "ERROR_OUT_OF_BUFFERS", "ERROR_PORT_NOT_FOUND",
    "ERROR_ASYNC_REQUEST_PENDING", "ERROR_ALREADY_DISCONNECTING", "ERROR_PORT_NOT_OPEN",
    "ERROR_PORT_DISCONNECTED", "ERROR_NO_ENDPOINTS", "ERROR_CANNOT_OPEN_PHONEBOOK",
    "ERROR_CANNOT_LOAD_PHONEBOOK", "ERROR_CANNOT_FIND_PHONEBOOK_ENTRY",
    "ERROR_CANNOT_WRITE_PHONEBOOK", "ERROR_CORRUPT_PHONEBOOK", "ERROR_CANNOT_LOAD_STRING",
    "ERROR_KEY_NOT_FOUND", "ERROR_DISCONNECTION", "ERROR_REMOTE_DISCONNECTION",
    "ERROR_HARDWARE_FAILURE", "ERROR_USER_DISCONNECTION", "ERROR_INVALID_SIZE",
    "ERROR_PORT_NOT_AVAILABLE", "ERROR_CANNOT_PROJECT_CLIENT", "ERROR_UNKNOWN",
    "ERROR_WRONG_DEVICE_ATTACHED", "ERROR_BAD_STRING", "ERROR_REQUEST_TIMEOUT",
    "ERROR_CANNOT_GET_LANA", "ERROR_NETBIOS_ERROR", "ERROR_SERVER_OUT_OF_RESOURCES",
    "ERROR_NAME_EXISTS_ON_NET", "ERROR_SERVER_GENERAL_NET_FAILURE",
    "WARNING_MSG_ALIAS_NOT_ADDED", "ERROR_AUTH_INTERNAL", "ERROR_RESTRICTED_LOGON_HOURS",
    "ERROR_ACCT_DISABLED", "ERROR_PASSWD_EXPIRED", "ERROR_NO_DIALIN_PERMISSION",
    "ERROR_SERVER_NOT_RESPONDING", "ERROR_FROM_DEVICE", "ERROR_UNRECOGNIZED_RESPONSE",
    "ERROR_MACRO_NOT_FOUND", "ERROR_MACRO_NOT_DEFINED", "ERROR_MESSAGE_MACRO_NOT_FOUND",
    "ERROR_DEFAULTOFF_MACRO_NOT_FOUND", "ERROR_FILE_COULD_NOT_BE_OPENED",
    "ERROR_DEVICENAME_TOO_LONG", "ERROR_DEVICENAME_NOT_FOUND", "ERROR_NO_RESPONSES",
    "ERROR_NO_COMMAND_FOUND", "ERROR_WRONG_KEY_SPECIFIED", "ERROR_UNKNOWN_DEVICE_TYPE",
    "ERROR_ALLOCATING_MEMORY", "ERROR_PORT_NOT_CONFIGURED", "ERROR_DEVICE_NOT_READY",
    "ERROR_READING_INI_FILE", "ERROR_NO_CONNECTION", "ERROR_BAD_USAGE_IN_INI_FILE",
    "ERROR_READING_SECTIONNAME", "ERROR_READING_DEVICETYPE", "ERROR_READING_DEVICENAME",
    "ERROR_READING_USAGE", "ERROR_READING_MAXCONNECTBPS", "ERROR_READING_MAXCARRIERBPS",
    "ERROR_LINE_BUSY", "ERROR_VOICE_ANSWER", "ERROR_NO_ANSWER", "ERROR_NO_CARRIER",
    "ERROR_NO_DIALTONE", "ERROR_IN_COMMAND", "ERROR_WRITING_SECTIONNAME",
    "ERROR_WRITING_DEVICETYPE", "ERROR_WRITING_DEVICENAME", "ERROR_WRITING_MAXCONNECTBPS",
    "ERROR_WRITING_MAXCARRIERBPS", "ERROR_WRITING_USAGE", "ERROR_WRITING_DEFAULTOFF",
    "ERROR_READING_DEFAULTOFF", "ERROR_EMPTY_INI_FILE", "ERROR_AUTHENTICATION_FAILURE",
    "ERROR_PORT_OR_DEVICE", "ERROR_NOT_BINARY_MACRO", "ERROR_DCB_NOT_FOUND",
    "ERROR_STATE_MACHINES_NOT_STARTED", "ERROR_STATE_MACHINES_ALREADY_STARTED",
    "ERROR_PARTIAL_RESPONSE_LOOPING", "ERROR_UNKNOWN_RESPONSE_KEY", "ERROR_RECV_BUF_FULL",
    "ERROR_CMD_TOO_LONG", "ERROR_UNSUPPORTED_BPS", "ERROR_UNEXPECTED_RESPONSE",
    "ERROR_INTERACTIVE_MODE", "ERROR_BAD_CALLBACK_NUMBER", "ERROR_INVALID_AUTH_STATE",
    "ERROR_WRITING_INITBPS", "ERROR_X25_DIAGNOSTIC", "ERROR_ACCT_EXPIRED",
    "ERROR_CHANGING_PASSWORD", "ERROR_OVERRUN", "ERROR_RASMAN_CANNOT_INITIALIZE",
    "ERROR_BIPLEX_PORT_NOT_AVAILABLE", "ERROR_NO_ACTIVE_ISDN_LINES",
    "ERROR_NO_ISDN_CHANNELS_AVAILABLE", "ERROR_TOO_MANY_LINE_ERRORS", "ERROR_IP_CONFIGURATION",
    "ERROR_NO_IP_ADDRESSES", "ERROR_PPP_TIMEOUT", "ERROR_PPP_REMOTE_TERMINATED",
    "ERROR_PPP_NO_PROTOCOLS_CONFIGURED", "ERROR_PPP_NO_RESPONSE", "ERROR_PPP_INVALID_PACKET",
    "ERROR_PHONE_NUMBER_TOO_LONG", "ERROR_IPXCP_NO_DIALOUT_CONFIGURED",
    "ERROR_IPXCP_NO_DIALIN_CONFIGURED", "ERROR_IPXCP_DIALOUT_ALREADY_ACTIVE",
    "ERROR_ACCESSING_TCPCFGDLL", "ERROR_NO_IP_RAS_ADAPTER", "ERROR_SLIP_REQUIRES_IP",
    "ERROR_PROJECTION_NOT_COMPLETE", "ERROR_PROTOCOL_NOT_CONFIGURED", "ERROR_PPP_NOT_CONVERGING",
    "ERROR_PPP_CP_REJECTED", "ERROR_PPP_LCP_TERMINATED", "ERROR_PPP_REQUIRED_ADDRESS_REJECTED",
    "ERROR_PPP_NCP_TERMINATED", "ERROR_PPP_LOOPBACK_DETECTED", "ERROR_PPP_NO_ADDRESS_ASSIGNED",
    "ERROR_CANNOT_USE_LOGON_CREDENTIALS", "ERROR_TAPI_CONFIGURATION",
    "ERROR_NO_LOCAL_ENCRYPTION", "ERROR_NO_REMOTE_ENCRYPTION",
    "ERROR_REMOTE_REQUIRES_ENCRYPTION", "ERROR_IPXCP_NET_NUMBER_CONFLICT", "ERROR_INVALID_SMM",
    "ERROR_SMM_UNINITIALIZED", "ERROR_NO_MAC_FOR_PORT", "ERROR_SMM_TIMEOUT",
    "ERROR_BAD_PHONE_NUMBER", "ERROR_WRONG_MODULE",};
// clang-format on
constexpr int kFirstDialError = 600;
constexpr int kLastDialError = 750;
static_assert(std::size(kDialErrorNames) == kLastDialError - kFirstDialError + 1);

} // namespace

QString Connection::StateName(int state) {
    return state >= 0 && state <= 25 ? QString::fromLatin1(kStateNames[state]) : QString();
}

QString Connection::DialErrorName(int error) {
    if (error == 0)
        return QStringLiteral("SUCCESS");
    if (error >= kFirstDialError && error <= kLastDialError)
        return QString::fromLatin1(kDialErrorNames[error - kFirstDialError]);
    return {};
}

Connection::Connection(ConnectionContext ctx, DialupControl* dialup) : ctx_(ctx), dialup_(dialup) {
    if (dialup_)
        connect(dialup_, &DialupControl::stateChanged, this, &Connection::OnStateChanged);
}

void Connection::notInstalled() {
    // Without dial-up networking this computer is taken to be connected directly.
    ctx_.state.settings.connectionType = ConnDirect;
    ctx_.state.dialUpMissing = true;
    ctx_.state.profileChanged = true;
}

bool Connection::Connect() {
    LiveSettings& s = ctx_.state.settings;
    StatusWindow& status = ctx_.status;
    bool& cancel = ctx_.state.cancel;
    EventPump& pump = ctx_.pump;
    cancel = false;
    if (s.connectionType == ConnDirect) {
        if (s.statusWindowFlag)
            status.Show();
        status.SetStatusLine(QStringLiteral("Connecting"));
        return true;
    }
    try {
        if (!dialup_)
            throw TessalyError(DialupControl::NotInstalled, QStringLiteral("Dial-up networking is not installed"));
        for (int attempt = 0;; ++attempt) {
            if (s.statusWindowFlag)
                status.Show();
            const QStringList active = dialup_->ActiveConnections();
            if (!active.isEmpty()) {
                // An existing connection is used as it is.
                status.SetStatusLine(QStringLiteral("Connected to ") + active.first());
                connected_ = true;
                return true;
            }
            connected_ = false;
            dialup_->SetEntryName(s.dialUpEntry);
            dialup_->SetPassword(s.dialUpPassword);
            dialup_->SetUser(s.dialUpUser);
            const QString connecting = QStringLiteral("Connecting to ") + dialup_->EntryName();
            status.SetStatusLine(connecting);
            ctx_.activity.LogActivity(connecting);
            dialError_ = false;
            dialup_->Dial();
            pump.yield();
            // The wait is measured as elapsed time, so a dial across midnight
            // still ends on time.
            pump.waitUntil([this] { return connected_ || dialError_; }, s.dialTimeout, &cancel);
            if (cancel)
                return false;
            if (connected_)
                return true;
            dialup_->HangUp();
            if (attempt + 1 >= kAttempts) {
                ctx_.activity.LogActivity(QStringLiteral("Unable to connect to the internet."));
                return false;
            }
            status.SetStatusLine(QStringLiteral("...Retrying..."));
            pump.pause(kRetryWait, &cancel);
            if (cancel)
                return false;
        }
    } catch (const TessalyError& e) {
        ctx_.activity.LogActivity(QStringLiteral("Error in RASDial:") + e.description());
        if (e.number() == DialupControl::NotInstalled)
            notInstalled();
        return false;
    }
}

void Connection::HangUp() {
    try {
        if (ctx_.state.settings.connectionType != ConnDirect) {
            if (!dialup_)
                throw TessalyError(DialupControl::NotInstalled, QStringLiteral("Dial-up networking is not installed"));
            dialup_->HangUp();
        }
        ctx_.status.Close();
    } catch (const TessalyError& e) {
        ctx_.activity.LogActivity(QStringLiteral("Error in RASHangup:") + e.description());
        ctx_.status.Close();
        if (e.number() == DialupControl::NotInstalled)
            notInstalled();
    }
}

void Connection::OnStateChanged(int state, int error) {
    dialError_ = false;
    StatusWindow& status = ctx_.status;
    if (error < 601) {
        QString text;
        if (state == DialupControl::StateConnected) {
            connected_ = true;
            text = QStringLiteral("Connected!");
            status.SetStatusLine(text);
        } else if (state == DialupControl::StateDisconnected) {
            connected_ = false;
            text = StateName(24);
            status.SetStatusLine(text);
            ctx_.pump.pause(2, nullptr);
        } else if (state == 3 || state == 14) {
            text = StateName(state);
            status.SetStatusLine(text);
        } else {
            text = state > 25 ? QStringLiteral("State = %1").arg(state) : StateName(state);
            connected_ = false;
        }
        ctx_.state.terminal.Append(text + QStringLiteral("\r\n"));
        if (CLogFile* log = ctx_.activity.Log())
            log->LogMessage(text);
        return;
    }
    const QString name = DialErrorName(error);
    const QString text = QStringLiteral("Error: ") + (name.isEmpty() ? QString::number(error) : name);
    ctx_.activity.LogActivity(text);
    ctx_.state.terminal.Append(text + QStringLiteral("\r\n"));
    if (dialup_) {
        try {
            dialup_->HangUp();
        } catch (const TessalyError&) {
        }
    }
    connected_ = false;
    dialError_ = true;
}

} // namespace tessaly
