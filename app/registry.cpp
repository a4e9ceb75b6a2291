#include "app/registry.h"

#include "state/appinfo.h"
#include "ground/textfmt.h"
#include "platform/settingsstore.h"

namespace tessaly {

QString defaultProfilePath(const QString& programDir) {
    return programDir + QLatin1String("/DEFAULT.dat");
}

StartupRegistryValues readStartupValues(const SettingsStore& store, const QString& programDir) {
    auto get = [&](const char* name, const QString& def) {
        return store.read(kAppTitle, kSettingsSection, QString::fromLatin1(name), def);
    };
    const QString one = QStringLiteral("1");
    StartupRegistryValues v;
    v.profileName = get("Defaultfile", defaultProfilePath(programDir));
    v.statusWindow = get("ShowStatus", one) != QLatin1String("0");
    v.download = get("GetMail", one) != QLatin1String("0");
    v.tray = get("SystemTray", one) != QLatin1String("0");
    v.mailSize = roundToInt32(leadingNumber(get("MailSize", QStringLiteral("20"))));
    v.versionCheck = get("CheckUpdates", QStringLiteral("True")) == QLatin1String("True");
    return v;
}

bool migrationDue(const SettingsStore& store) {
    return store.hasSection(kPreviousAppTitle, kSettingsSection) &&
           !store.contains(kAppTitle, kSettingsSection, kMigrationMarker);
}

void MigrateSettings(SettingsStore& store, const QString& programDir, QSize screenTwips) {
    auto old = [&](const char* name, const QString& def) {
        return store.read(kPreviousAppTitle, kSettingsSection, QString::fromLatin1(name), def);
    };
    const QString one = QStringLiteral("1");
    const QString version = old("Version", QString());
    const QString defaultFile = old("Defaultfile", defaultProfilePath(programDir));
    const QString showStatus = old("ShowStatus", one);
    const QString getMail = old("GetMail", one);
    const QString checkMail = old("CheckMail", one);
    const QString systemTray = old("SystemTray", one);
    const QString mailSize = old("MailSize", QStringLiteral("20"));
    const QString soundFile = old("SoundFile", QStringLiteral("NewMail.wav"));
    const QString enableSound = old("EnableSound", one);
    const QString statusLeft = old("StatusLeft", QString::number(screenTwips.width() - 3960));
    const QString statusTop = old("StatusTop", QString::number(screenTwips.height() - 1335));

    auto put = [&](const char* name, const QString& value) {
        store.write(kAppTitle, kSettingsSection, QString::fromLatin1(name), value);
    };
    put("DefaultFile", defaultFile);
    put("ShowStatus", showStatus);
    put("CheckMail", checkMail);
    put("GetMail", getMail);
    put("SystemTray", systemTray);
    put("MailSize", mailSize);
    put("EnableSound", enableSound);
    put("SoundFile", soundFile);
    put("Version", version);
    put("StatusLeft", statusLeft);
    put("StatusTop", statusTop);
    store.write(kAppTitle, kSettingsSection, kMigrationMarker, kPreviousAppTitle);
}

} // namespace tessaly
