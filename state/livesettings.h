#pragma once
// The live settings: one record that every subsystem reads. Start-up fills it
// from the registry and the factory values; the profile file stores most of
// it; the options dialog, the switches and remote commands change it.

#include <QString>
#include <array>
#include <cstdint>

namespace tessaly {

struct ModemProfile {
    QString name;
    QString initString;
};

// Connection types of the internet connection.
enum ConnectionType : std::int16_t { ConnDialUp = 0, ConnDirect = 1, ConnExternalDialer = 2 };

struct LiveSettings {
    static constexpr int kModemProfileSlots = 21; // indexes 0..20

    // Read from the registry at start-up.
    bool statusWindowFlag = false;     // "ShowStatus"
    bool downloadFlag = false;         // "GetMail"
    bool trayFlag = false;             // "SystemTray"
    std::int32_t messageSizeLimit = 0; // kilobytes; "MailSize", then the profile
    bool versionCheckFlag = false;     // "CheckUpdates"
    QString soundFile;                 // "SoundFile", read by every profile load
    bool soundEnabled = false;         // "EnableSound"

    // Schedule and switches.
    bool scheduleEnabled = false;
    bool pagingEnabled = false;
    std::int16_t checkInterval = 0; // minutes
    QString startTime;
    QString stopTime;
    std::array<bool, 8> weekdays{}; // index 1 = Sunday .. 7 = Saturday; 0 unused

    // Accounts and mail.
    std::int16_t maxPOPAccounts = 0;
    bool checkMailFlag = false;

    // Modem.
    std::array<ModemProfile, kModemProfileSlots> modemProfiles{};
    std::int16_t highestModemProfile = 0;
    std::int16_t selectedModemProfile = 0;
    std::int16_t modemPortIndex = 0;   // "None", "COM1" .. "COM8"
    std::int16_t flowControlIndex = 0; // "None", "XON/XOFF", "RTS/CTS", "BOTH"
    std::int16_t retries = 0;
    std::int16_t retryWait = 0;          // seconds between retries
    std::int16_t dialTypeIndex = 0;      // "Tone", "Pulse"
    std::int16_t speakerVolumeIndex = 0; // "Low", "Med", "Hi"
    std::int16_t speakerModeIndex = 0;   // "Off", "On Until Carrier Detected", "On Always",
                                         // "On Until CD except Dialing"

    // Internet connection.
    QString dialUpEntry;
    QString dialUpUser;
    QString dialUpPassword;
    std::int16_t connectionType = ConnDialUp;
    QString externalDialerPath;
    std::int16_t dialTimeout = 0; // seconds
    std::int16_t dialRetries = 0;

    bool pageHeaders = false;

    // Outgoing mail.
    QString smtpHostAddress;
    QString smtpHostName;
    std::int16_t smtpPort = 0;
    QString domainName;

    // Paging options and remote control.
    QString numericPagePrefix;
    bool remoteControlEnabled = false;
    QString remotePassword;
    QString emailClientPath;
    bool pageBodyHighestPriority = false;
    std::int16_t maxPagesPerMessage = 0;
    bool pageBody = false;

    // Puts the factory values in place; fields without one are left as they are.
    void applyFactoryValues();
};

} // namespace tessaly
