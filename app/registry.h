#pragma once
// The registry values read at start-up, and the one-time copy of the
// previous version's values.

#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace tessaly {

class SettingsStore;

struct StartupRegistryValues {
    QString profileName;       // "Defaultfile"
    bool statusWindow = false; // "ShowStatus": true unless "0"
    bool download = false;     // "GetMail": true unless "0"
    bool tray = false;         // "SystemTray": true unless "0"
    std::int32_t mailSize = 0; // "MailSize": leading number, rounded half to even
    bool versionCheck = false; // "CheckUpdates": true only for exactly "True"
    // One line for each value that could not be used and took its default.
    QStringList problems;
};

QString defaultProfilePath(const QString& programDir);

// Reads the values under the current application name, each on its own: a
// value that cannot be used (a "MailSize" beyond 32 bits) takes its default
// and is named in `problems`; the other values are read as usual.
StartupRegistryValues readStartupValues(const SettingsStore& store, const QString& programDir);

// The previous version's values are copied once: when its section exists and
// the current section does not yet carry the copy marker.
inline const QString kMigrationMarker = QStringLiteral("SettingsCopiedFrom");
bool migrationDue(const SettingsStore& store);

// Copies the previous version's values (with their defaults) under the
// current application name and sets the marker. `screenTwips` is the screen
// size for the status window's default position.
void MigrateSettings(SettingsStore& store, const QString& programDir, QSize screenTwips);

} // namespace tessaly
